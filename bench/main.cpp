// ombrel_bench: times the real loaders and whole gallery fills of OmbrelMT's form on an offscreen
// display, beside floors measured in the same run, and checks the figures against the targets.

#include "app/fMain.h"
#include "bench/corpus.h"
#include "bench/floors.h"
#include "bench/measure.h"
#include "bench/photographs.h"
#include "bench/picture_files.h"
#include "bench/reference.h"
#include "bench/report.h"
#include "platform/core/thread_p.h"
#include "platform/ui/application_p.h"
#include "platform/ui/bitmap_p.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <limits>
#include <malloc.h>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr int ThumbWidth = 100;
constexpr int ThumbHeight = 110;
constexpr std::int64_t MiB = 1024 * 1024;

// The display's scale factor (--scale): a thumbnail holds this many pixels on each axis for each
// of its size, and the floors decode what covers them. Quality is judged at scale 1 only, where the
// references are made.
double g_scale = 1;

int ThumbPixels(int side) {
    return static_cast<int>(std::lround(side * g_scale));
}

struct TOptions {
    bool quick = false;
    bool synthetic = false;
    int runs = 5;
    fs::path corpus = OMBREL_BENCH_CORPUS;
    fs::path json = "bench-report.json";
    // Which parts run: photos, portraits, small, button2, many, big; all when empty.
    std::string only;
    double scale = 1;
    bool Runs(const std::string& part) const {
        return only.empty() || ("," + only + ",").find("," + part + ",") != std::string::npos;
    }
};

void Usage() {
    std::cout
        << "Usage: ombrel_bench [--quick] [--runs N] [--corpus FOLDER] [--json FILE]\n"
           "  --quick   a tiny corpus, one run: proves that the bench works (about 30 s)\n"
           "  --runs    timed runs of each part (default 5)\n"
           "  --corpus  where the generated pictures are kept (default "
        << OMBREL_BENCH_CORPUS
        << ")\n"
           "  --json    where the report goes (default bench-report.json)\n"
           "  --only    parts, comma-separated: photos, portraits, small, button2, many, big\n"
           "  --scale   the display's scale factor, as QT_SCALE_FACTOR sets it (default 1)\n";
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--synthetic") {
            options.synthetic = true;
        } else if (argument == "--runs" && hasValue) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--corpus" && hasValue) {
            options.corpus = argv[++i];
        } else if (argument == "--json" && hasValue) {
            options.json = argv[++i];
        } else if (argument == "--only" && hasValue) {
            options.only = argv[++i];
        } else if (argument == "--scale" && hasValue) {
            options.scale = std::max(1.0, std::atof(argv[++i]));
        } else {
            Usage();
            std::exit(argument == "--help" ? 0 : 2);
        }
    }
    if (options.quick)
        options.runs = 1;
    options.corpus /=
        std::string(options.quick ? "quick" : "full") + (options.synthetic ? "-synthetic" : "");
    return options;
}

// The messages the application would have shown in a message box.
std::vector<std::string>& Shown() {
    static std::vector<std::string> messages;
    return messages;
}

void ExpectNothingShown(const std::string& what) {
    if (Shown().empty())
        return;
    const std::string first = Shown().front();
    Shown().clear();
    throw std::runtime_error(what + " showed an error: " + first);
}

bool IsBitmap(const fs::path& path) {
    return path.extension() == ".BMP";
}

std::unique_ptr<TBitmap> LoadThumbnail(const fs::path& path) {
    return std::unique_ptr<TBitmap>(IsBitmap(path) ? Form1->LoadBitmapThumbnail(path.string())
                                                   : Form1->LoadJpegThumbnail(path.string()));
}

TPicture PictureOf(TBitmap& bitmap) {
    TPicture picture(bitmap.Width(), bitmap.Height());
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const TColor colour = ColourAt(bitmap, x, y);
            std::uint8_t* pixel = picture.Row(y) + x * 3;
            pixel[0] = std::uint8_t(colour & 0xFF);
            pixel[1] = std::uint8_t((colour >> 8) & 0xFF);
            pixel[2] = std::uint8_t((colour >> 16) & 0xFF);
        }
    return picture;
}

// A floor or a reference timed beside the loader, file by file.
struct TTimed {
    std::string name;
    std::function<void(const fs::path&)> action;
};

struct TLoaderRun {
    TPart part;
    std::vector<TPart> references;    // each against the same floor
    std::vector<TPart> kinds;         // the files of each kind, against their own floor's times
    std::vector<TPicture> thumbnails; // of the first run, for the quality check
};

// Names the kind of a file, for a part that mixes kinds; files of no kind ("") are not split.
using TKindOf = std::function<std::string(const fs::path&)>;

// Each run times the floor, each reference and the loader in passes over all the files, the
// loader's pass first in every other run; the files are read once beforehand so that every run
// finds them in the page cache. Between two passes over a file the others push it out of the
// processor's cache, so every action finds it as a gallery's fill does: in the page cache only.
// Timed file by file instead, the floor first, the floor brought each file into the cache for the
// loader, and the small pictures' loaders measured about 9% faster against their floor than they
// are.
TLoaderRun MeasureLoaders(const std::string& name, const std::vector<fs::path>& files,
                          const TTimed& floor, int runs, const std::vector<TTimed>& references = {},
                          const TKindOf& kindOf = nullptr) {
    std::cout << "Timing " << name << " (" << files.size() << " files, " << runs << " runs)"
              << std::endl;
    for (const fs::path& file : files)
        floor.action(file);
    // Each kind's files and their loader's and floor's times, run by run, in order of appearance.
    struct TKind {
        std::string name;
        int files = 0;
        double loaderTotal = 0;
        double floorTotal = 0;
        std::vector<double> loaderRuns;
        std::vector<double> floorRuns;
    };
    std::vector<TKind> kinds;
    std::vector<int> kindOfFile;
    for (const fs::path& file : files) {
        const std::string kind = kindOf ? kindOf(file) : "";
        auto found = std::find_if(kinds.begin(), kinds.end(),
                                  [&](const TKind& known) { return known.name == kind; });
        if (found == kinds.end()) {
            found = kinds.insert(kinds.end(), TKind{});
            found->name = kind;
        }
        ++found->files;
        kindOfFile.push_back(int(found - kinds.begin()));
    }
    TLoaderRun result;
    std::vector<double> loaderRuns;
    std::vector<double> floorRuns;
    std::vector<std::vector<double>> referenceRuns(references.size());
    const auto count = double(files.size());
    for (int run = 0; run < runs; ++run) {
        std::vector<double> floorSeconds(files.size());
        std::vector<double> loaderSeconds(files.size());
        const auto loaderPass = [&] {
            for (std::size_t f = 0; f < files.size(); ++f) {
                std::unique_ptr<TBitmap> thumbnail;
                loaderSeconds[f] = SecondsOf([&] { thumbnail = LoadThumbnail(files[f]); });
                if (run == 0)
                    result.thumbnails.push_back(PictureOf(*thumbnail));
            }
        };
        if (run % 2 == 1)
            loaderPass();
        for (std::size_t f = 0; f < files.size(); ++f)
            floorSeconds[f] = SecondsOf([&] { floor.action(files[f]); });
        for (std::size_t i = 0; i < references.size(); ++i) {
            double total = 0;
            for (const fs::path& file : files)
                total += SecondsOf([&] { references[i].action(file); });
            referenceRuns[i].push_back(total / count);
        }
        if (run % 2 == 0)
            loaderPass();
        for (TKind& kind : kinds)
            kind.loaderTotal = kind.floorTotal = 0;
        for (std::size_t f = 0; f < files.size(); ++f) {
            TKind& kind = kinds[std::size_t(kindOfFile[f])];
            kind.floorTotal += floorSeconds[f];
            kind.loaderTotal += loaderSeconds[f];
        }
        loaderRuns.push_back(std::accumulate(loaderSeconds.begin(), loaderSeconds.end(), 0.0) /
                             count);
        floorRuns.push_back(std::accumulate(floorSeconds.begin(), floorSeconds.end(), 0.0) / count);
        for (TKind& kind : kinds) {
            kind.loaderRuns.push_back(kind.loaderTotal / double(kind.files));
            kind.floorRuns.push_back(kind.floorTotal / double(kind.files));
        }
    }
    result.part = {name,       int(files.size()),  runs, StatsOf(loaderRuns),
                   floor.name, StatsOf(floorRuns), -1};
    for (std::size_t i = 0; i < references.size(); ++i)
        result.references.push_back({references[i].name, int(files.size()), runs,
                                     StatsOf(referenceRuns[i]), floor.name, StatsOf(floorRuns),
                                     -1});
    if (kinds.size() > 1)
        for (const TKind& kind : kinds)
            result.kinds.push_back({name + ", " + kind.name, kind.files, runs,
                                    StatsOf(kind.loaderRuns), floor.name + ", " + kind.name,
                                    StatsOf(kind.floorRuns), -1});
    if (TPeakGrowth::Available()) {
        result.part.peakGrowth = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 3); ++i) {
            const TPeakGrowth growth;
            static_cast<void>(LoadThumbnail(files[i]));
            result.part.peakGrowth = std::max(result.part.peakGrowth, growth.Bytes());
        }
    }
    return result;
}

// The reference thumbnail of each photograph: the JPEG decoded at full size, then Lanczos-3.
std::vector<TPicture> References(const std::vector<fs::path>& jpegFiles) {
    std::cout << "Computing the Lanczos-3 references of " << jpegFiles.size() << " pictures"
              << std::endl;
    std::vector<TPicture> references;
    for (const fs::path& file : jpegFiles)
        references.push_back(LanczosResize(DecodeJpeg(file), ThumbWidth, ThumbHeight));
    return references;
}

double WorstPsnr(const std::vector<TPicture>& thumbnails, const std::vector<TPicture>& references) {
    double worst = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < thumbnails.size() && i < references.size(); ++i)
        worst = std::min(worst, Psnr(thumbnails[i], references[i]));
    return worst;
}

int GalleryCount() {
    return Form1->ListView1->Items()->Count();
}

void ExpectGallery(std::size_t expected, const std::string& what) {
    ExpectNothingShown(what);
    if (std::size_t(GalleryCount()) != expected)
        throw std::runtime_error(what + " showed " + std::to_string(GalleryCount()) +
                                 " thumbnails, not " + std::to_string(expected));
}

// Button1 as a person sees it: the click, then the gallery laid out and painted.
double Button1Fill(const fs::path& folder, std::size_t expected) {
    fs::current_path(folder);
    const double seconds = SecondsOf([] {
        Form1->Button1Click(nullptr);
        ProcessMessages();
    });
    ExpectGallery(expected, "Button1 in " + folder.string());
    return seconds;
}

struct TButton2Fill {
    double seconds = 0;
    std::vector<double> lateness; // seconds past the timer's 1-ms interval, tick by tick
};

// Button2 with a 1-ms timer on the user-interface thread, whose ticks show how long the thread
// was kept from its messages; the fill has ended when no worker is left.
TButton2Fill Button2Fill(const fs::path& folder, std::size_t expected) {
    fs::current_path(folder);
    TButton2Fill fill;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(1);
    TClock::time_point last = TClock::now();
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const TClock::time_point now = TClock::now();
        fill.lateness.push_back(
            std::max(0.0, std::chrono::duration<double>(now - last).count() - 1e-3));
        last = now;
        if (LiveThreadCount() == 0)
            loop.quit();
    });
    const TClock::time_point start = TClock::now();
    Form1->Button2Click(nullptr);
    last = TClock::now();
    timer.start();
    loop.exec();
    timer.stop();
    ProcessMessages();
    fill.seconds = SecondsSince(start);
    ExpectGallery(expected, "Button2 in " + folder.string());
    return fill;
}

void ClearGallery() {
    Form1->ClearGallery();
    ProcessMessages();
}

TTarget AtMost(const std::string& what, double measured, const std::string& unit, double limit) {
    return {what, measured, unit, "<= " + std::to_string(limit).substr(0, 4), measured <= limit};
}

TTarget Below(const std::string& what, double measured, const std::string& unit, double limit) {
    return {what, measured, unit, "< " + std::to_string(int(limit)), measured < limit};
}

TTarget AtLeast(const std::string& what, double measured, const std::string& unit, double limit) {
    return {what, measured, unit, ">= " + std::to_string(int(limit)), measured >= limit};
}

void BenchPhotos(const TCorpus& corpus, int runs, TReport& report) {
    const std::vector<fs::path> jpegs = PicturesIn(corpus.photosJpeg);
    const std::vector<fs::path> bmps = PicturesIn(corpus.photosBmp);
    const std::vector<TPicture> references =
        g_scale == 1 ? References(jpegs) : std::vector<TPicture>{};

    TJpegFloor jpegFloor(ThumbPixels(ThumbWidth), ThumbPixels(ThumbHeight));
    const TLoaderRun jpeg = MeasureLoaders("12 MP JPEG, LoadJpegThumbnail", jpegs,
                                           {"libjpeg 1/8 decode",
                                            [&](const fs::path& file) {
                                                jpegFloor.Decode(file);
                                            }},
                                           runs);
    TReusedRead read;
    const TLoaderRun bmp =
        MeasureLoaders("12 MP BMP, LoadBitmapThumbnail", bmps,
                       {"read(2), reused buffer",
                        [&](const fs::path& file) {
                            read.Read(file);
                        }},
                       runs, {{"12 MP BMP, read(2) into a fresh buffer", [](const fs::path& file) {
                                   static_cast<void>(ReadWholeFile(file));
                               }}});
    report.parts.push_back(jpeg.part);
    report.parts.push_back(bmp.part);
    report.parts.insert(report.parts.end(), bmp.references.begin(), bmp.references.end());
    report.targets.push_back(
        AtMost("12 MP JPEG: loader / 1/8 decode floor", jpeg.part.Ratio(), "x", 1.1));
    report.targets.push_back(
        AtMost("12 MP BMP: loader / reused-buffer read", bmp.part.Ratio(), "x", 3));
    if (g_scale != 1)
        return;
    report.targets.push_back(AtLeast("Quality: worst PSNR of the 12 MP JPEG thumbnails",
                                     WorstPsnr(jpeg.thumbnails, references), "dB", 45));
    report.targets.push_back(AtLeast("Quality: worst PSNR of the 12 MP BMP thumbnails",
                                     WorstPsnr(bmp.thumbnails, references), "dB", 45));
}

// The loaders of the small pictures against their decode floor: libjpeg at the scale the JPEG
// loader uses, the reused-buffer read for a BMP. Each kind is shown beside the whole, for
// information: the target is the whole's.
void BenchSmallLoaders(const TCorpus& corpus, int runs, TReport& report) {
    TSmallPictureFloor floor(ThumbPixels(ThumbWidth), ThumbPixels(ThumbHeight));
    const TLoaderRun small = MeasureLoaders(
        "Small pictures, the loaders", PicturesIn(corpus.small),
        {"decode floor",
         [&](const fs::path& file) {
             floor(file);
         }},
        runs, {}, [](const fs::path& file) { return IsBitmap(file) ? "BMP" : "JPEG"; });
    report.parts.push_back(small.part);
    report.parts.insert(report.parts.end(), small.kinds.begin(), small.kinds.end());
    report.targets.push_back(
        AtMost("Small pictures: loaders / decode floor", small.part.Ratio(), "x", 1.4));
}

// The 12 MP photographs as cameras store them, turned by Orientation 6 and in Adobe RGB: the
// thumbnail turns and converts only its reduced picture, so it costs what the plain ones cost.
void BenchPortraits(const TCorpus& corpus, int runs, TReport& report) {
    const std::vector<fs::path> files =
        PicturesIn(PreparePortraitAdobe(corpus.root, corpus.photosJpeg));
    std::cout << "Computing the turned and converted references of " << files.size() << " pictures"
              << std::endl;
    std::vector<TPicture> references;
    for (const fs::path& file : files) {
        if (g_scale == 1)
            references.push_back(PortraitAdobeReference(file, ThumbWidth, ThumbHeight));
    }
    TJpegFloor jpegFloor(ThumbPixels(ThumbWidth), ThumbPixels(ThumbHeight));
    const TLoaderRun run =
        MeasureLoaders("12 MP JPEG, Orientation 6, Adobe RGB, LoadJpegThumbnail", files,
                       {"libjpeg 1/8 decode",
                        [&](const fs::path& file) {
                            jpegFloor.Decode(file);
                        }},
                       runs);
    report.parts.push_back(run.part);
    report.targets.push_back(AtMost("12 MP JPEG, Orientation 6, Adobe RGB: loader / 1/8 decode",
                                    run.part.Ratio(), "x", 1.1));
    if (g_scale != 1)
        return;
    report.targets.push_back(AtLeast("Quality: worst PSNR of the turned Adobe RGB thumbnails",
                                     WorstPsnr(run.thumbnails, references), "dB", 45));
}

void BenchSmallFill(const TCorpus& corpus, int runs, TReport& report) {
    const std::vector<fs::path> files = PicturesIn(corpus.small);
    std::cout << "Timing Button1 fills of " << files.size() << " small pictures" << std::endl;
    Button1Fill(corpus.small, files.size()); // warms the page cache and the gallery's code
    std::vector<double> fills;
    std::vector<double> loaders;
    for (int run = 0; run < runs; ++run) {
        ClearGallery();
        fills.push_back(Button1Fill(corpus.small, files.size()) / double(files.size()));
        double sum = 0;
        for (const fs::path& file : files)
            sum += SecondsOf([&] { static_cast<void>(LoadThumbnail(file)); });
        loaders.push_back(sum / double(files.size()));
    }
    TPart part{"Small pictures, whole Button1 fill",
               int(files.size()),
               runs,
               StatsOf(fills),
               "sum of its loaders",
               StatsOf(loaders),
               -1};
    if (TPeakGrowth::Available()) {
        ClearGallery();
        const TPeakGrowth growth;
        Button1Fill(corpus.small, files.size());
        part.peakGrowth = growth.Bytes();
    }
    report.parts.push_back(part);
    report.targets.push_back(
        AtMost("Small pictures: Button1 fill / its loaders", part.Ratio(), "x", 1.3));
}

void BenchResponsiveness(const TCorpus& corpus, TReport& report) {
    const std::size_t count = PicturesIn(corpus.photosJpeg).size();
    std::cout << "Button2 fill of the 12 MP JPEG pictures with a 1-ms timer" << std::endl;
    ClearGallery();
    const TButton2Fill fill = Button2Fill(corpus.photosJpeg, count);
    const double perItem = fill.seconds / double(count);
    report.parts.push_back(
        {"12 MP JPEG, whole Button2 fill", int(count), 1, {perItem, perItem, perItem}, "", {}, -1});
    report.targets.push_back(Below("OmbrelMT: timer lateness during Button2, 99th percentile",
                                   Percentile(fill.lateness, 0.99) * 1e3, "ms", 16));
    const double worst =
        fill.lateness.empty() ? 0 : *std::max_element(fill.lateness.begin(), fill.lateness.end());
    report.targets.push_back(
        Below("OmbrelMT: timer lateness during Button2, max", worst * 1e3, "ms", 50));
}

// The per-item time of a fill of many pictures against one of few, for each button; the gallery's
// memory per item from the Button1 fill, as what stays resident once it has ended.
void BenchManyPictures(const TCorpus& corpus, int runs, TReport& report) {
    const std::size_t many = PicturesIn(corpus.many).size();
    const std::size_t few = PicturesIn(corpus.few).size();
    std::cout << "Fills of " << many << " and of " << few << " small pictures" << std::endl;
    for (int button = 1; button <= 2; ++button) {
        auto fill = [&](const fs::path& folder, std::size_t count) {
            ClearGallery();
            return (button == 1 ? Button1Fill(folder, count) : Button2Fill(folder, count).seconds) /
                   double(count);
        };
        std::vector<double> fewRuns;
        fill(corpus.few, few);
        for (int run = 0; run < runs; ++run)
            fewRuns.push_back(fill(corpus.few, few));
        ClearGallery();
        malloc_trim(0);
        const std::int64_t before = ResidentBytes();
        const double manyPerItem = button == 1
                                       ? Button1Fill(corpus.many, many) / double(many)
                                       : Button2Fill(corpus.many, many).seconds / double(many);
        const std::int64_t perItemBytes = (ResidentBytes() - before) / std::int64_t(many);
        const std::string name = "Many pictures, Button" + std::to_string(button) + " fill";
        report.parts.push_back({name + " of " + std::to_string(many),
                                int(many),
                                1,
                                {manyPerItem, manyPerItem, manyPerItem},
                                "fill of " + std::to_string(few),
                                StatsOf(fewRuns),
                                -1});
        report.targets.push_back(
            AtMost(name + ": per item, " + std::to_string(many) + " / " + std::to_string(few),
                   report.parts.back().Ratio(), "x", 1.5));
        if (button == 1)
            report.targets.push_back(AtMost("Many pictures: memory per gallery item",
                                            double(perItemBytes) / 1024, "KB", 40));
        ClearGallery();
    }
}

// A kilobyte that declares 134 million pixels: the loader's memory and time must follow what the
// file holds, not what it claims.
void BenchSparseBitmap(const TCorpus& corpus, TReport& report) {
    std::cout << "The sparse RLE8 bitmap" << std::endl;
    const TPeakGrowth growth;
    const double seconds = SecondsOf([&] { static_cast<void>(LoadThumbnail(corpus.sparseRle)); });
    const std::int64_t grown = growth.Bytes();
    const std::string name = "RLE8 bitmap of 11585 x 11585 in " +
                             std::to_string(fs::file_size(corpus.sparseRle)) + " bytes";
    report.parts.push_back(
        {name + ", LoadBitmapThumbnail", 1, 1, {seconds, seconds, seconds}, "", {}, grown});
    report.targets.push_back(
        AtMost("Big pictures: " + name + ", peak growth", double(grown) / MiB, "MB", 2));
    report.targets.push_back(Below("Big pictures: " + name + ", time", seconds * 1e3, "ms", 100));
}

void BenchBigPictures(const TCorpus& corpus, int runs, TReport& report) {
    if (!TPeakGrowth::Available()) {
        std::cout << "The memory high-water mark cannot be reset here: big pictures skipped\n";
        return;
    }
    const fs::path bmp = PicturesIn(corpus.photosBmp).front();
    const TPeakGrowth bmpGrowth;
    static_cast<void>(LoadThumbnail(bmp));
    report.targets.push_back(
        AtMost("Big pictures: 12 MP BMP peak growth", double(bmpGrowth.Bytes()) / MiB, "MB", 2));
    BenchSparseBitmap(corpus, report);
    if (corpus.hugeJpeg.empty())
        return;
    std::cout << "The 100-megapixel JPEG" << std::endl;
    const TPeakGrowth hugeGrowth;
    static_cast<void>(LoadThumbnail(corpus.hugeJpeg));
    const std::int64_t grown = hugeGrowth.Bytes();
    // Timed after that first load, which read the file from the disk and touched fresh memory:
    // the floor, run after it, would have had neither cost.
    TJpegFloor jpegFloor(ThumbPixels(ThumbWidth), ThumbPixels(ThumbHeight));
    std::vector<double> loaderRuns;
    std::vector<double> floorRuns;
    for (int run = 0; run < runs; ++run) {
        floorRuns.push_back(SecondsOf([&] { jpegFloor.Decode(corpus.hugeJpeg); }));
        loaderRuns.push_back(SecondsOf([&] { static_cast<void>(LoadThumbnail(corpus.hugeJpeg)); }));
    }
    report.parts.push_back({"100 MP JPEG, LoadJpegThumbnail", 1, runs, StatsOf(loaderRuns),
                            "libjpeg 1/8 decode", StatsOf(floorRuns), grown});
    report.targets.push_back(
        Below("Big pictures: 100 MP JPEG peak growth", double(grown) / MiB, "MB", 64));
}

int RunBench(const TOptions& options) {
    TCorpusSize size;
    if (options.quick)
        size = {2, 12, 40, 10, false, false};
    size.synthetic = options.synthetic;
    TReport report;
    report.machine = ThisMachine();
    report.quick = options.quick;
    const TCorpus corpus = PrepareCorpus(fs::absolute(options.corpus), size);
    report.corpus = corpus.root.string();
    report.content = corpus.content;
    const fs::path start = fs::current_path();

    Form1->Show();
    ProcessMessages();
    if (options.Runs("photos"))
        BenchPhotos(corpus, options.runs, report);
    if (options.Runs("portraits"))
        BenchPortraits(corpus, options.runs, report);
    if (options.Runs("small")) {
        BenchSmallLoaders(corpus, options.runs, report);
        BenchSmallFill(corpus, options.runs, report);
    }
    if (options.Runs("button2"))
        BenchResponsiveness(corpus, report);
    if (options.Runs("many"))
        BenchManyPictures(corpus, options.runs, report);
    if (options.Runs("big"))
        BenchBigPictures(corpus, options.runs, report);

    fs::current_path(start);
    // The targets are set for a display at scale 1; at another the figures are shown beside them.
    if (g_scale != 1)
        for (TTarget& target : report.targets)
            target.judged = false;
    Print(report);
    WriteJson(report, options.json);
    std::cout << "Report written to " << fs::absolute(options.json).string() << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const TOptions options = ParseOptions(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    g_scale = options.scale;
    if (g_scale != 1)
        setenv("QT_SCALE_FACTOR", std::to_string(g_scale).c_str(), 1);
    TApplication application;
    Application = &application;
    Application->Initialize();
    SetExceptionPresenter(*Application,
                          [](const AnsiString& message) { Shown().push_back(message.str()); });
    int result = 1;
    try {
        Application->CreateForm(Form1);
        result = RunBench(options);
    } catch (const std::exception& error) {
        std::cerr << "ombrel_bench: " << error.what() << std::endl;
    }
    TThread::WaitForAll();
    Application = nullptr;
    return result;
}
