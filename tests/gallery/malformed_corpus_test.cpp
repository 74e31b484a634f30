// Hundreds of damaged pictures, made at run time from valid ones, through the probe and the loaders
// as a fill runs them: each gives a thumbnail of the form's size or an Exception that names the
// file; none crashes, takes more than a few seconds or lets memory grow without bound.

#include "platform/ui/bitmap_p.h"
#include "tests/support/app_fixture.h"
#include "tests/support/picture_files.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr auto MaxLoadTime = std::chrono::seconds(5);
// Under a memory checker everything runs tens of times slower; tools/valgrind-sample.sh says so.
int TimeFactor() {
    const char* factor = std::getenv("OMBREL_TIME_FACTOR");
    return factor != nullptr ? std::max(1, std::atoi(factor)) : 1;
}
// The largest picture we accept is 128 M pixels; a damaged file may make the loaders allocate that
// once, but never keep it or more.
constexpr std::int64_t MaxPeakGrowthKb = 1536 * 1024;

struct TSample {
    std::string name; // becomes the file's name, with the extension
    std::string bytes;
};

// Sets the size bytes at offset to value, the least significant first.
void Overwrite(std::string& bytes, std::size_t offset, std::uint32_t value, int size) {
    std::string field;
    test::Append(field, value, size);
    bytes.replace(offset, field.size(), field);
}

std::uint32_t Get(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    return value;
}

// A bitmap with a 40-byte info header (plus masks for bit fields) and the given palette size and
// pixel data, which the caller lays out for bitCount and compression.
std::string Bitmap(int width, int height, int bitCount, int compression, int colours,
                   const std::string& pixels) {
    std::vector<std::uint32_t> palette;
    for (int i = 0; i < colours; ++i)
        palette.push_back(static_cast<std::uint32_t>(i * 0x010203) & 0xFFFFFF);
    std::vector<std::uint32_t> masks;
    if (compression == 3)
        masks = bitCount == 32 ? std::vector<std::uint32_t>{0xFF0000, 0xFF00, 0xFF}
                               : std::vector<std::uint32_t>{0xF800, 0x07E0, 0x001F};
    return test::TBmpFile{.width = width,
                          .height = height,
                          .bitCount = static_cast<std::uint16_t>(bitCount),
                          .compression = static_cast<std::uint32_t>(compression),
                          .coloursUsed = static_cast<std::uint32_t>(colours),
                          .palette = palette,
                          .masks = masks,
                          .pixels = pixels}
        .Build();
}

// Rows of a pattern at bitCount bits, each padded to four bytes.
std::string PlainRows(int width, int height, int bitCount) {
    const int rowBytes = (width * bitCount + 31) / 32 * 4;
    std::string pixels;
    for (int i = 0; i < rowBytes * height; ++i)
        pixels.push_back(static_cast<char>(i * 37 + 11));
    return pixels;
}

// Two lines of runs and literals, then the end of the picture.
std::string RleStream(bool four) {
    const std::string line = four ? std::string("\x04\x12\x00\x05\x34\x56\x70\x00\x00\x00", 10)
                                  : std::string("\x04\x02\x00\x03\x01\x02\x03\x00\x00\x00", 10);
    return line + line + std::string("\x00\x01", 2);
}

std::vector<TSample> ValidBitmaps() {
    std::vector<TSample> bases;
    test::WriteBmp("base.bmp", 13, 7, [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x * 19), static_cast<std::uint8_t>(y * 35), 90};
    });
    bases.push_back({"RGB24", test::ReadFile("base.bmp")});
    fs::remove("base.bmp");
    bases.push_back({"PAL1", Bitmap(9, 5, 1, 0, 2, PlainRows(9, 5, 1))});
    bases.push_back({"PAL4", Bitmap(9, 5, 4, 0, 16, PlainRows(9, 5, 4))});
    bases.push_back({"PAL8", Bitmap(9, 5, 8, 0, 256, PlainRows(9, 5, 8))});
    bases.push_back({"RLE4", Bitmap(7, 2, 4, 2, 16, RleStream(true))});
    bases.push_back({"RLE8", Bitmap(7, 2, 8, 1, 256, RleStream(false))});
    bases.push_back({"FIELDS16", Bitmap(9, 5, 16, 3, 0, PlainRows(9, 5, 16))});
    bases.push_back({"FIELDS32", Bitmap(9, 5, 32, 3, 0, PlainRows(9, 5, 32))});
    return bases;
}

// Cut at the end of every header field, at the palette's and masks' ends, and inside the pixels.
std::vector<TSample> BitmapTruncations() {
    std::vector<TSample> samples;
    for (const TSample& base : ValidBitmaps()) {
        const std::size_t pixelOffset = Get(base.bytes, 10);
        std::vector<std::size_t> cuts = {0,  1,  2,  6,  10, 14, 18, 22, 26,
                                         28, 30, 34, 38, 42, 46, 50, 54};
        for (std::size_t cut : {pixelOffset - 4, pixelOffset, pixelOffset + 1,
                                (pixelOffset + base.bytes.size()) / 2, base.bytes.size() - 1})
            cuts.push_back(cut);
        for (const std::size_t cut : cuts)
            samples.push_back(
                {base.name + "_CUT" + std::to_string(cut) + ".BMP", base.bytes.substr(0, cut)});
    }
    return samples;
}

struct TField {
    const char* name;
    std::size_t offset;
    int size;
};

// Each header field set to the values that break naive readers: zero, one, all ones, the sign
// bit, the largest signed value, and one either side of the true value.
std::vector<TSample> BitmapFieldFlips() {
    const TField fields[] = {{"FILESIZE", 2, 4},  {"OFFSET", 10, 4},    {"INFOSIZE", 14, 4},
                             {"WIDTH", 18, 4},    {"HEIGHT", 22, 4},    {"BITS", 28, 2},
                             {"COMPRESS", 30, 4}, {"IMAGESIZE", 34, 4}, {"COLOURS", 46, 4},
                             {"REDMASK", 54, 4},  {"BLUEMASK", 62, 4}};
    std::vector<TSample> samples;
    for (const TSample& base : ValidBitmaps()) {
        for (const TField& field : fields) {
            const std::uint32_t own =
                Get(base.bytes, field.offset) & (field.size == 2 ? 0xFFFFU : 0xFFFFFFFFU);
            const std::uint32_t values[] = {0,          1,       0xFFFFFFFF, 0x80000000,
                                            0x7FFFFFFF, own + 1, own - 1};
            for (int i = 0; i < static_cast<int>(std::size(values)); ++i) {
                std::string bytes = base.bytes;
                Overwrite(bytes, field.offset, values[i], field.size);
                samples.push_back(
                    {base.name + "_" + field.name + std::to_string(i) + ".BMP", bytes});
            }
        }
    }
    return samples;
}

// RLE streams that aim past the picture, end early, or never end.
std::vector<TSample> BrokenRle() {
    const std::string breaks[][2] = {
        {"DELTAFAR", std::string("\x00\x02\xFF\xFF\x05\x01", 6)},
        {"LONGRUN", std::string("\xFF\x01\xFF\x01\xFF\x01", 6)},
        {"LITERALPAST", std::string("\x00\xFF\x01\x02", 4)},
        {"NOEND", std::string("\x02\x01", 2)},
        {"ONLYLINES", std::string(40, '\0')},
        {"ESCAPEONLY", std::string("\x00", 1)},
        {"MANYDELTAS", std::string(600, '\x02').insert(0, std::string("\x00", 1))},
    };
    std::vector<TSample> samples;
    for (const bool four : {true, false}) {
        for (const auto& broken : breaks) {
            for (const bool afterLine : {false, true}) {
                // The break at the start, or after a first valid line.
                const std::string stream =
                    (afterLine ? RleStream(four).substr(0, 10) : "") + broken[1];
                samples.push_back(
                    {std::string(four ? "RLE4_" : "RLE8_") + broken[0] +
                         (afterLine ? "_LATE" : "") + ".BMP",
                     Bitmap(7, 2, four ? 4 : 8, four ? 2 : 1, four ? 16 : 256, stream)});
            }
        }
        // Compressed pictures of the largest size a stream can paint with a few bytes.
        samples.push_back({std::string(four ? "RLE4" : "RLE8") + "_HUGE.BMP",
                           Bitmap(8192, 8192, four ? 4 : 8, four ? 2 : 1, 2,
                                  std::string("\x00\x02\xFF\xFF\x00\x01", 6))});
    }
    return samples;
}

// The offsets of the JPEG markers before the entropy-coded data, and of the scan's start.
std::vector<std::size_t> MarkerOffsets(const std::string& bytes) {
    std::vector<std::size_t> offsets = {0};
    std::size_t at = 2;
    while (at + 4 <= bytes.size() && static_cast<std::uint8_t>(bytes[at]) == 0xFF) {
        offsets.push_back(at);
        if (static_cast<std::uint8_t>(bytes[at + 1]) == 0xDA)
            break;
        at += 2 + (static_cast<std::uint8_t>(bytes[at + 2]) << 8) +
              static_cast<std::uint8_t>(bytes[at + 3]);
    }
    return offsets;
}

std::vector<TSample> ValidJpegs() {
    std::vector<TSample> bases;
    test::WriteJpeg("base.jpg", 40, 30, [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8), 60};
    });
    bases.push_back({"BASELINE", test::ReadFile("base.jpg")});
    fs::remove("base.jpg");
    for (const char* name : {"jpg-progressive.jpg", "jpg-cmyk-1.jpg", "jpg-gray.jpg"}) {
        if (const auto path = test::TestData(std::string("jpeg/good/") + name))
            bases.push_back({fs::path(name).stem().string(), test::ReadFile(*path)});
    }
    return bases;
}

// Each marker segment cut at its start, inside its length and inside its body, repeated, or
// dropped; the entropy-coded data cut short or its end marker lost.
std::vector<TSample> JpegMarkers() {
    std::vector<TSample> samples;
    for (const TSample& base : ValidJpegs()) {
        const std::vector<std::size_t> markers = MarkerOffsets(base.bytes);
        for (std::size_t i = 0; i < markers.size(); ++i) {
            const std::size_t at = markers[i];
            const std::size_t next = i + 1 < markers.size() ? markers[i + 1] : base.bytes.size();
            const std::string tag = base.name + "_M" + std::to_string(i);
            for (const std::size_t cut : {at, at + 1, at + 3, (at + next) / 2})
                samples.push_back(
                    {tag + "_CUT" + std::to_string(cut - at) + ".JPG", base.bytes.substr(0, cut)});
            if (i == 0)
                continue;
            const std::string segment = base.bytes.substr(at, next - at);
            samples.push_back({tag + "_TWICE.JPG", std::string(base.bytes).insert(at, segment)});
            samples.push_back({tag + "_DROPPED.JPG", std::string(base.bytes).erase(at, next - at)});
            // The length of the segment pointing past the file.
            std::string longer = base.bytes;
            longer[at + 2] = '\xFF';
            samples.push_back({tag + "_LONG.JPG", longer});
        }
        const std::size_t scan = markers.back();
        for (const std::size_t cut :
             {scan + 20, (scan + base.bytes.size()) / 2, base.bytes.size() - 2})
            samples.push_back(
                {base.name + "_DATA" + std::to_string(cut) + ".JPG", base.bytes.substr(0, cut)});
        // Bytes of the entropy-coded data turned into markers, and garbage after the end.
        std::string restarts = base.bytes;
        for (std::size_t at = scan + 30; at + 1 < restarts.size() - 2; at += 97) {
            restarts[at] = '\xFF';
            restarts[at + 1] = '\xD3';
        }
        samples.push_back({base.name + "_RESTARTS.JPG", restarts});
        samples.push_back({base.name + "_TRAILER.JPG", base.bytes + std::string(5000, '\x5A')});
    }
    return samples;
}

// Our own fuzzers' findings, kept as files beside the reader's tests.
std::vector<TSample> Regressions() {
    std::vector<TSample> samples;
    const fs::path folder = fs::path(OMBREL_SOURCE_DIR) / "tests/platform_core/regressions";
    if (!fs::is_directory(folder))
        return samples;
    for (const auto& entry : fs::directory_iterator(folder)) {
        // Both names: the probe sniffs a JPG's first bytes, and takes a BMP by its name.
        const std::string stem = entry.path().filename().string();
        samples.push_back({"REG_" + stem + ".JPG", test::ReadFile(entry.path())});
        samples.push_back({"REG_" + stem + ".BMP", test::ReadFile(entry.path())});
    }
    return samples;
}

struct TFamily {
    std::string name;
    std::vector<TSample> (*make)();
};

void PrintTo(const TFamily& family, std::ostream* os) {
    *os << family.name;
}

std::int64_t PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return 0;
}

class MalformedCorpus : public test::FormTest, public ::testing::WithParamInterface<TFamily> {
protected:
    // Sums every pixel and branches on the sum, so that a memory checker reports a pixel that was
    // never written, wherever it came from.
    static bool AllPixelsDefined(TBitmap& thumbnail) {
        std::uint64_t sum = 0;
        for (int y = 0; y < thumbnail.Height(); ++y) {
            for (int x = 0; x < thumbnail.Width(); ++x)
                sum = sum * 31 + static_cast<std::uint32_t>(ColourAt(thumbnail, x, y));
        }
        return sum != 1;
    }

    // "picture" or "error", failing the test for anything else.
    std::string LoadAsFill(const TSample& sample) {
        fs::create_directories("DATA");
        test::WriteFile(fs::path("DATA") / sample.name, sample.bytes);
        const AnsiString path = AnsiString(".\\DATA\\") + AnsiString(sample.name);
        const auto started = std::chrono::steady_clock::now();
        std::string outcome;
        try {
            auto thumbnail = std::unique_ptr<TBitmap>(
                Form().LoadThumbnailOfKind(Form().ProbeImageKind(path), path));
            if (thumbnail != nullptr) {
                EXPECT_EQ(thumbnail->Width(), 100) << sample.name;
                EXPECT_EQ(thumbnail->Height(), 110) << sample.name;
                EXPECT_TRUE(AllPixelsDefined(*thumbnail));
            }
            outcome = thumbnail != nullptr ? "picture" : "skipped";
        } catch (const Exception& error) {
            EXPECT_NE(std::string(error.what()).find(path.str()), std::string::npos)
                << "the error does not name the file: " << error.what();
            outcome = "error";
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, MaxLoadTime * TimeFactor())
            << sample.name;
        fs::remove(fs::path("DATA") / sample.name);
        return outcome;
    }
};

TEST_P(MalformedCorpus, EachFileGivesAThumbnailOrAnErrorNamingIt) {
    const std::vector<TSample> samples = GetParam().make();
    const std::int64_t peakBefore = PeakResidentKb();
    int pictures = 0;
    int errors = 0;
    for (const TSample& sample : samples) {
        const std::string outcome = LoadAsFill(sample);
        pictures += outcome == "picture";
        errors += outcome == "error";
    }
    EXPECT_LT(PeakResidentKb() - peakBefore, MaxPeakGrowthKb);
    std::cout << "[ corpus   ] " << GetParam().name << ": " << samples.size() << " files, "
              << pictures << " pictures, " << errors << " errors\n";
}

const TFamily Families[] = {
    {"BitmapTruncations", BitmapTruncations},
    {"BitmapFieldFlips", BitmapFieldFlips},
    {"BrokenRle", BrokenRle},
    {"JpegMarkers", JpegMarkers},
    {"Regressions", Regressions},
};

INSTANTIATE_TEST_SUITE_P(Families, MalformedCorpus, ::testing::ValuesIn(Families), test::RowName());

} // namespace
