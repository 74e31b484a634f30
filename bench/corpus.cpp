#include "bench/corpus.h"

#include "bench/picture_files.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace bench {

namespace {

// Raise when the pictures a recipe makes change, so that old caches are made again.
constexpr int RecipeVersion = 1;
// CC-BY camera photographs shipped by a Debian package; used when installed.
constexpr const char* WallpaperFolder = "/usr/share/backgrounds";
// Sources smaller than this on either side would be enlarged too much for a 12 MP picture.
constexpr int SmallestSourceSide = 1600;
constexpr int PhotoWidth = 4000;
constexpr int PhotoHeight = 3000;
constexpr int HugeWidth = 12000;
constexpr int HugeHeight = 8400;
constexpr int Quality = 90;
constexpr int SparseSide = 11585;

std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x9E3779B1U ^ (y + 0x7F4A7C15U) * 0x85EBCA77U ^ seed * 0xC2B2AE3DU;
    h ^= h >> 15;
    h *= 0x2C1B3C6DU;
    h ^= h >> 12;
    h *= 0x297A2D39U;
    return h ^ (h >> 15);
}

std::uint8_t ToByte(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// How one picture is cut from its source: a random crop of the picture's shape, maybe mirrored,
// with its colours shifted and a little sensor-like grain, so that every picture is distinct.
struct TRecipe {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    bool mirrored = false;
    double gain[3] = {1, 1, 1};
    double offset[3] = {0, 0, 0};
    double grain = 2.5;
    std::uint32_t seed = 0;
};

TRecipe MakeRecipe(const TPicture& source, int width, int height, std::uint32_t seed) {
    std::mt19937 random(seed);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    TRecipe recipe;
    const double aspect = double(width) / height;
    recipe.width = source.width * uniform(0.6, 1.0);
    recipe.height = recipe.width / aspect;
    if (recipe.height > source.height) {
        recipe.height = source.height * uniform(0.6, 1.0);
        recipe.width = recipe.height * aspect;
    }
    recipe.left = uniform(0, source.width - recipe.width);
    recipe.top = uniform(0, source.height - recipe.height);
    recipe.mirrored = uniform(0, 1) < 0.5;
    for (int c = 0; c < 3; ++c) {
        recipe.gain[c] = uniform(0.9, 1.1);
        recipe.offset[c] = uniform(-12, 12);
    }
    recipe.seed = seed;
    return recipe;
}

// The source's colour at a point given in pixel-centre coordinates, bilinear, held at the edges.
void Sample(const TPicture& source, double x, double y, double* rgb) {
    x = std::clamp(x, 0.0, source.width - 1.0);
    y = std::clamp(y, 0.0, source.height - 1.0);
    const int x0 = std::min(int(x), source.width - 2 < 0 ? 0 : source.width - 2);
    const int y0 = std::min(int(y), source.height - 2 < 0 ? 0 : source.height - 2);
    const int x1 = std::min(x0 + 1, source.width - 1);
    const int y1 = std::min(y0 + 1, source.height - 1);
    const double fx = x - x0;
    const double fy = y - y0;
    const std::uint8_t* a = source.Row(y0) + x0 * 3;
    const std::uint8_t* b = source.Row(y0) + x1 * 3;
    const std::uint8_t* c = source.Row(y1) + x0 * 3;
    const std::uint8_t* d = source.Row(y1) + x1 * 3;
    for (int i = 0; i < 3; ++i)
        rgb[i] += (a[i] * (1 - fx) + b[i] * fx) * (1 - fy) + (c[i] * (1 - fx) + d[i] * fx) * fy;
}

// Renders the recipe's crop at width by height, one row at a time. Where the crop is reduced,
// each pixel averages a grid of samples so that the result does not alias.
TRowSource Render(const TPicture& source, const TRecipe& recipe, int width, int height) {
    return [&source, recipe, width, height](int y, std::uint8_t* out) {
        const double scaleX = recipe.width / width;
        const double scaleY = recipe.height / height;
        const int grid = std::max(1, int(std::ceil(std::max(scaleX, scaleY))));
        for (int x = 0; x < width; ++x, out += 3) {
            double rgb[3] = {0, 0, 0};
            const int column = recipe.mirrored ? width - 1 - x : x;
            for (int j = 0; j < grid; ++j)
                for (int i = 0; i < grid; ++i)
                    Sample(source, recipe.left + (column + (i + 0.5) / grid) * scaleX - 0.5,
                           recipe.top + (y + (j + 0.5) / grid) * scaleY - 0.5, rgb);
            const std::uint32_t noise = Hash(std::uint32_t(x), std::uint32_t(y), recipe.seed);
            // Two uniform bytes make a triangular grain, shared by the channels as luma grain is.
            const double grain = ((noise & 0xFF) + ((noise >> 8) & 0xFF) - 255.0) / 255.0;
            for (int c = 0; c < 3; ++c)
                out[c] = ToByte(rgb[c] / (grid * grid) * recipe.gain[c] + recipe.offset[c] +
                                grain * recipe.grain);
        }
    };
}

// A made-up scene with a photograph's statistics where no photographs are installed: smooth
// gradients and soft blobs, hard-edged shapes, and texture at several scales.
TPicture SyntheticSource(std::uint32_t seed) {
    constexpr int Width = 4800;
    constexpr int Height = 3600;
    std::mt19937 random(seed);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    struct TShape {
        double x, y, radius, rgb[3];
        bool square;
    };
    std::vector<TShape> shapes(40);
    for (TShape& shape : shapes)
        shape = {uniform(0, Width),
                 uniform(0, Height),
                 uniform(40, 700),
                 {uniform(0, 255), uniform(0, 255), uniform(0, 255)},
                 uniform(0, 1) < 0.4};
    double top[3];
    double bottom[3];
    for (int c = 0; c < 3; ++c) {
        top[c] = uniform(60, 250);
        bottom[c] = uniform(0, 160);
    }
    // A coarse random field, bilinearly interpolated at three scales: texture.
    constexpr int Field = 257;
    std::vector<double> field(Field * Field);
    for (double& value : field)
        value = uniform(-1, 1);
    auto texture = [&](double x, double y) {
        double sum = 0;
        for (double cell : {160.0, 37.0, 9.0}) {
            const double fx = std::fmod(x / cell, Field - 1.0);
            const double fy = std::fmod(y / cell, Field - 1.0);
            const int ix = int(fx);
            const int iy = int(fy);
            const double tx = fx - ix;
            const double ty = fy - iy;
            const double* row0 = &field[std::size_t(iy) * Field];
            const double* row1 = row0 + Field;
            sum += cell / 4 *
                   ((row0[ix] * (1 - tx) + row0[ix + 1] * tx) * (1 - ty) +
                    (row1[ix] * (1 - tx) + row1[ix + 1] * tx) * ty) /
                   10;
        }
        return sum;
    };
    TPicture picture(Width, Height);
    for (int y = 0; y < Height; ++y) {
        std::uint8_t* out = picture.Row(y);
        const double t = double(y) / Height;
        for (int x = 0; x < Width; ++x, out += 3) {
            double rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] = top[c] * (1 - t) + bottom[c] * t;
            for (const TShape& shape : shapes) {
                const double dx = std::abs(x - shape.x);
                const double dy = std::abs(y - shape.y);
                const bool inside = shape.square ? std::max(dx, dy) < shape.radius
                                                 : dx * dx + dy * dy < shape.radius * shape.radius;
                if (inside)
                    for (int c = 0; c < 3; ++c)
                        rgb[c] = shape.rgb[c] * (0.8 + 0.2 * dy / shape.radius);
            }
            const double grain = texture(x, y);
            for (int c = 0; c < 3; ++c)
                out[c] = ToByte(rgb[c] + grain);
        }
    }
    return picture;
}

struct TSources {
    std::vector<fs::path> photographs; // empty: synthetic
    int Count() const { return photographs.empty() ? 6 : int(photographs.size()); }

    TPicture Load(int index) const {
        if (photographs.empty())
            return SyntheticSource(std::uint32_t(1000 + index));
        return DecodeJpeg(photographs[std::size_t(index)]);
    }
};

TSources FindSources(bool synthetic) {
    TSources sources;
    if (synthetic)
        return sources;
    std::error_code error;
    std::vector<fs::path> candidates;
    for (const auto& entry : fs::directory_iterator(WallpaperFolder, error)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".jpg" || extension == ".jpeg")
            candidates.push_back(entry.path());
    }
    std::sort(candidates.begin(), candidates.end());
    for (const fs::path& path : candidates) {
        try {
            const TPicture eighth = DecodeJpeg(path, 8);
            if (std::min(eighth.width, eighth.height) * 8 >= SmallestSourceSide)
                sources.photographs.push_back(path);
        } catch (const std::runtime_error&) {
            // A file that libjpeg cannot read is simply not a source.
        }
    }
    return sources;
}

std::string Describe(const TSources& sources) {
    if (sources.photographs.empty())
        return "synthetic: gradients, soft blobs, hard-edged shapes, texture and grain";
    std::ostringstream text;
    text << sources.photographs.size() << " photographs from " << WallpaperFolder << ":";
    for (const fs::path& path : sources.photographs)
        text << " " << path.filename().string();
    return text.str();
}

std::string Numbered(const char* prefix, int index, int digits, const char* extension) {
    std::ostringstream name;
    name << prefix;
    name.width(digits);
    name.fill('0');
    name << index << extension;
    return name.str();
}

// Written under a temporary name and renamed, so that an interrupted run leaves no half file that
// a later run would take as made.
template <class TWrite> void WriteOnce(const fs::path& path, TWrite write) {
    if (fs::exists(path))
        return;
    const fs::path partial = path.string() + ".partial";
    write(partial);
    fs::rename(partial, path);
}

void MakePhotos(const TCorpus& corpus, const TSources& sources, int count) {
    for (int source = 0; source < sources.Count() && source < count; ++source) {
        TPicture picture;
        for (int i = source; i < count; i += sources.Count()) {
            const fs::path jpeg = corpus.photosJpeg / "DATA" / Numbered("P", i, 3, ".JPG");
            const fs::path bmp = corpus.photosBmp / "DATA" / Numbered("P", i, 3, ".BMP");
            if (fs::exists(jpeg) && fs::exists(bmp))
                continue;
            if (picture.width == 0)
                picture = sources.Load(source);
            std::cout << "  " << jpeg.filename().string() << " and " << bmp.filename().string()
                      << std::endl;
            const TRecipe recipe = MakeRecipe(picture, PhotoWidth, PhotoHeight, std::uint32_t(i));
            WriteOnce(jpeg, [&](const fs::path& path) {
                WriteJpeg(path, PhotoWidth, PhotoHeight, Quality,
                          Render(picture, recipe, PhotoWidth, PhotoHeight));
            });
            // The same pixels as the JPEG file decodes to, so that both share one reference.
            WriteOnce(bmp, [&](const fs::path& path) { WriteBmp(path, DecodeJpeg(jpeg)); });
        }
    }
}

void MakeSmall(const TCorpus& corpus, const TSources& sources, int count) {
    for (int source = 0; source < sources.Count() && source < count; ++source) {
        TPicture picture;
        for (int i = source; i < count; i += sources.Count()) {
            const bool jpeg = i % 2 == 0;
            const fs::path path =
                corpus.small / "DATA" / Numbered("S", i, 3, jpeg ? ".JPG" : ".BMP");
            if (fs::exists(path))
                continue;
            if (picture.width == 0)
                picture = sources.Load(source);
            const int width = 640 - 16 * (i % 3);
            const int height = 480 - 8 * (i % 4);
            const TRecipe recipe = MakeRecipe(picture, width, height, std::uint32_t(100000 + i));
            WriteOnce(path, [&](const fs::path& partial) {
                if (jpeg) {
                    WriteJpeg(partial, width, height, Quality,
                              Render(picture, recipe, width, height));
                    return;
                }
                TPicture small(width, height);
                const TRowSource rows = Render(picture, recipe, width, height);
                for (int y = 0; y < height; ++y)
                    rows(y, small.Row(y));
                WriteBmp(partial, small);
            });
        }
    }
}

// Hard links: ten thousand distinct names cost no disk space.
void LinkMany(const fs::path& folder, const std::vector<fs::path>& small, int count) {
    fs::create_directories(folder / "DATA");
    for (int i = 0; i < count; ++i) {
        const fs::path& target = small[std::size_t(i) % small.size()];
        const fs::path link =
            folder / "DATA" / Numbered("M", i, 5, target.extension().string().c_str());
        if (!fs::exists(link))
            fs::create_hard_link(target, link);
    }
}

void MakeHuge(const fs::path& path, const TSources& sources) {
    WriteOnce(path, [&](const fs::path& partial) {
        const TPicture picture = sources.Load(0);
        TRecipe recipe = MakeRecipe(picture, HugeWidth, HugeHeight, 424242);
        std::cout << "  " << path.filename().string() << std::endl;
        WriteJpeg(partial, HugeWidth, HugeHeight, Quality,
                  Render(picture, recipe, HugeWidth, HugeHeight));
    });
}

std::string Stamp(const TCorpusSize& size, const std::string& content) {
    std::ostringstream text;
    text << "recipe " << RecipeVersion << "\nphotos " << size.photos << "\nsmall "
         << size.smallPictures << "\nmany " << size.manyPictures << "\nfew " << size.fewPictures
         << "\nhuge " << size.hugeJpeg << "\ncontent " << content << "\n";
    return text.str();
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::vector<fs::path> PicturesIn(const fs::path& folder) {
    std::vector<fs::path> pictures;
    for (const auto& entry : fs::directory_iterator(folder / "DATA")) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".JPG" || extension == ".BMP")
            pictures.push_back(entry.path());
    }
    std::sort(pictures.begin(), pictures.end());
    return pictures;
}

TCorpus PrepareCorpus(const fs::path& root, const TCorpusSize& size) {
    const TSources sources = FindSources(size.synthetic);
    TCorpus corpus;
    corpus.root = root;
    corpus.content = Describe(sources);
    corpus.photosJpeg = root / "photos-jpeg";
    corpus.photosBmp = root / "photos-bmp";
    corpus.small = root / "small";
    corpus.many = root / "many";
    corpus.few = root / "few";
    const std::string stamp = Stamp(size, corpus.content);
    if (fs::exists(root) && ReadText(root / "corpus.txt") != stamp) {
        std::cout << "The corpus in " << root.string() << " was made otherwise: making it again\n";
        fs::remove_all(root);
    }
    for (const fs::path& folder : {corpus.photosJpeg, corpus.photosBmp, corpus.small})
        fs::create_directories(folder / "DATA");
    std::cout << "Corpus in " << root.string() << " (content: " << corpus.content << ")"
              << std::endl;
    MakePhotos(corpus, sources, size.photos);
    MakeSmall(corpus, sources, size.smallPictures);
    const std::vector<fs::path> small = PicturesIn(corpus.small);
    LinkMany(corpus.many, small, size.manyPictures);
    LinkMany(corpus.few, small, size.fewPictures);
    fs::create_directories(root / "sparse" / "DATA");
    corpus.sparseRle = root / "sparse" / "DATA" / "SPARSE.BMP";
    WriteOnce(corpus.sparseRle,
              [](const fs::path& partial) { WriteSparseRle8(partial, SparseSide); });
    if (size.hugeJpeg) {
        fs::create_directories(root / "huge");
        corpus.hugeJpeg = root / "huge" / "HUGE.JPG";
        MakeHuge(corpus.hugeJpeg, sources);
    }
    std::ofstream(root / "corpus.txt") << stamp;
    return corpus;
}

} // namespace bench
