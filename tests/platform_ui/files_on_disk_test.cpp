// Pictures as they are found on real disks: damaged inside their compressed data, hostile, or
// replaced between their load and their draw. A damaged photograph is shown as far as its data
// goes; a hostile one is refused with words before it costs much; and a draw gives the picture that
// was loaded or says that the file has changed, whatever happened to the file meanwhile.

#include "platform/core/decode_control_p.h"
#include "platform/core/exception.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/graphics.h"
#include "platform/ui/jpeg_image.h"
#include "tests/support/picture_files.h"
#include "tests/support/test_support.h"

#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// 256 x 256 in 4:2:0, so 16 x 16 MCUs: smooth, so that a lost interval shows.
constexpr int Side = 256;
constexpr int McuRows = Side / 16;
constexpr int Mcus = McuRows * McuRows;

test::Rgb Gradient(int x, int y) {
    return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>((x + y) / 2)};
}

// The bytes of a JPEG file of width by Side pixels.
std::string JpegBytes(int width, const test::TPixelAt& pixel, const test::TJpegOptions& options) {
    test::WriteJpeg("encoded.jpg", width, Side, pixel, options);
    return test::ReadFile("encoded.jpg");
}

QImage DrawnWhole(TJPEGImage& jpeg) {
    TBitmap bitmap;
    jpeg.DrawInto(&bitmap);
    return PixelsOf(bitmap).image;
}

QImage Decoded(const std::string& bytes) {
    test::WriteFile("picture.jpg", bytes);
    TJPEGImage jpeg;
    jpeg.LoadFromFile("picture.jpg");
    return DrawnWhole(jpeg);
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.what();
    }
    return "no error";
}

// --- Damage inside the compressed data ---

struct TDamage {
    const char* name;
    std::function<std::string(std::string)> damage;
    // The MCU rows from the top that the damage leaves as they were. The last row of pixels above
    // damage changes too, its colours being drawn from the rows below.
    int intactRows;
};

void PrintTo(const TDamage& row, std::ostream* os) {
    *os << row.name;
}

class DamagedJpeg : public test::TempCurrentDir, public ::testing::WithParamInterface<TDamage> {};

// With a restart marker after every MCU, each damaged marker is a warning of its own: far more
// than a decoder that refuses a file after a hundred of them would take.
TEST_P(DamagedJpeg, IsShownAndIntactWhereItsDataIs) {
    const std::string clean = JpegBytes(Side, Gradient, {.restartInterval = 1});
    const QImage undamaged = Decoded(clean);
    QImage shown;
    ASSERT_EQ(MessageOf([&] { shown = Decoded(GetParam().damage(clean)); }), "no error");
    ASSERT_EQ(shown.size(), undamaged.size());
    const int intact = GetParam().intactRows * 16;
    EXPECT_EQ(shown.copy(0, 0, Side, intact), undamaged.copy(0, 0, Side, intact));
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedJpeg,
    ::testing::Values(
        // A marker four numbers off is taken for the one expected: the picture is whole.
        TDamage{"EveryRestartMarkerMisnumbered",
                [](std::string bytes) {
                    return test::WithRestartMarkers(std::move(bytes), [](int, char& number) {
                        number = static_cast<char>(0xD0 | ((number + 4) & 7));
                    });
                },
                McuRows},
        // One number ahead: libjpeg takes the data before it as lost, and resynchronises.
        TDamage{"RestartMarkersAheadInTheLowerHalf",
                [](std::string bytes) {
                    return test::WithRestartMarkers(std::move(bytes), [](int marker, char& number) {
                        if (marker >= Mcus / 2 && marker % 3 == 0)
                            number = static_cast<char>(0xD0 | ((number + 1) & 7));
                    });
                },
                McuRows / 2 - 1},
        TDamage{"BytesLostInTheLowerHalf",
                [](std::string bytes) {
                    const test::TJpegScan scan = test::JpegScans(bytes).front();
                    return bytes.erase(scan.start + (scan.end - scan.start) * 3 / 4, 40);
                },
                McuRows / 2},
        TDamage{"DataEndsInTheLowerHalf",
                [](const std::string& bytes) {
                    const test::TJpegScan scan = test::JpegScans(bytes).front();
                    return bytes.substr(0, scan.start + (scan.end - scan.start) * 3 / 4);
                },
                McuRows / 2}),
    test::RowName());

// --- Hostile progressions: bounded, refused with words ---

struct THostile {
    const char* name;
    std::function<std::string(const std::string&, const std::vector<test::TJpegScan>&)> make;
    // Empty for a file within the limits.
    const char* cause;
};

void PrintTo(const THostile& row, std::ostream* os) {
    *os << row.name;
}

class HostileJpeg : public test::TempCurrentDir, public ::testing::WithParamInterface<THostile> {};

// The rows on either side of each limit: what valid files do is shown, one step further refused.
TEST_P(HostileJpeg, BeyondTheLimitsIsRefusedWithWords) {
    const std::string clean = JpegBytes(Side, Gradient, {.progressive = true});
    const std::string hostile = GetParam().make(clean, test::JpegScans(clean));
    const std::string cause = GetParam().cause;
    EXPECT_EQ(MessageOf([&] { Decoded(hostile); }),
              cause.empty() ? "no error" : "Cannot read picture picture.jpg: " + cause);
}

// The last scan of a simple progression refines every coefficient of the first component, which
// it has then seen three times; its copies add work and nothing else.
std::string LastScanRepeated(const std::string& bytes, const std::vector<test::TJpegScan>& scans,
                             int times) {
    const test::TJpegScan last = scans.back();
    std::string copies;
    for (int i = 0; i < times; ++i)
        copies += bytes.substr(last.start, last.end - last.start);
    return std::string(bytes).insert(last.end, copies);
}

// Scans with no data, each of one coefficient of the first component, the coefficients in turn:
// each still a pass over the component's blocks.
std::string ScansAdded(const std::string& bytes, const std::vector<test::TJpegScan>& scans,
                       int count) {
    const test::TJpegScan last = scans.back();
    std::string header = bytes.substr(last.start, 10);
    std::string added;
    for (int i = 0; i < count; ++i) {
        header[7] = header[8] = static_cast<char>(1 + i % 63); // the first and last coefficient
        added += header;
    }
    return std::string(bytes).insert(last.end, added);
}

const int ScansOfASimpleProgression = 10;

INSTANTIATE_TEST_SUITE_P(
    Files, HostileJpeg,
    ::testing::Values(
        THostile{"RefinedThirteenTimes",
                 [](const std::string& bytes, const std::vector<test::TJpegScan>& scans) {
                     return LastScanRepeated(bytes, scans, 11);
                 },
                 ""},
        THostile{"RefinedFourteenTimes",
                 [](const std::string& bytes, const std::vector<test::TJpegScan>& scans) {
                     return LastScanRepeated(bytes, scans, 12);
                 },
                 "its scans refine coefficient 1 of component 0 more often than any picture "
                 "needs"},
        THostile{"OneHundredScans",
                 [](const std::string& bytes, const std::vector<test::TJpegScan>& scans) {
                     return ScansAdded(bytes, scans, 100 - ScansOfASimpleProgression);
                 },
                 ""},
        THostile{"OneHundredAndOneScans",
                 [](const std::string& bytes, const std::vector<test::TJpegScan>& scans) {
                     return ScansAdded(bytes, scans, 101 - ScansOfASimpleProgression);
                 },
                 "more than 100 scans"}),
    test::RowName());

// --- Files replaced between the load and the draw ---

test::Rgb Plain(int, int) {
    return {200, 40, 40};
}

// The picture loaded is 256 x 256; the one that takes its place is wider, in another colour.
std::string Wider() {
    return JpegBytes(2 * Side, Plain, {});
}

// The file is replaced by another under its name, as a program that saves safely does; the old one
// lives on for whoever has it open.
void ReplaceByRename(const char* name, const std::string& bytes) {
    test::WriteFile("replacement", bytes);
    fs::rename("replacement", name);
}

// The file is written over where it lies, as a program that saves in place does.
void WriteOver(const char* name, const std::string& bytes) {
    test::WriteFile(name, bytes);
}

struct TReplacement {
    const char* name;
    void (*replace)(const char* name, const std::string& bytes);
    // Empty when the loaded picture is drawn.
    const char* cause;
};

void PrintTo(const TReplacement& row, std::ostream* os) {
    *os << row.name;
}

const TReplacement Replacements[] = {
    {"ByRename", ReplaceByRename, ""},
    {"WrittenOver", WriteOver, "the file has changed since it was loaded"},
};

class ReplacedFile : public test::TempCurrentDir,
                     public ::testing::WithParamInterface<TReplacement> {
protected:
    void ExpectLoadedPictureOrWords(const std::string& message, const QImage& drawn,
                                    const QImage& loaded, const char* name) {
        if (*GetParam().cause == '\0') {
            EXPECT_EQ(message, "no error");
            EXPECT_EQ(drawn, loaded);
        } else {
            EXPECT_EQ(message,
                      std::string("Cannot read picture ") + name + ": " + GetParam().cause);
        }
    }
};

TEST_P(ReplacedFile, BitmapDrawsWhatWasLoadedOrSaysSo) {
    test::WriteBmp("picture.bmp", 40, 30, Gradient);
    QImage loaded;
    {
        TBitmap source;
        source.LoadFromFile("picture.bmp");
        loaded = PixelsOf(source).image;
    }
    TBitmap source;
    source.LoadFromFile("picture.bmp");
    test::WriteBmp("other.bmp", 80, 30, test::Rgb{200, 40, 40});
    GetParam().replace("picture.bmp", test::ReadFile("other.bmp"));
    QImage drawn;
    const std::string message = MessageOf([&] { drawn = PixelsOf(source).image; });
    ExpectLoadedPictureOrWords(message, drawn, loaded, "picture.bmp");
}

// Another fill's decode holds the decode memory: this one waits its turn, and reads its file only
// once it has it, after the file was replaced.
TEST_P(ReplacedFile, JpegWaitingForAnotherFillDrawsWhatWasLoadedOrSaysSo) {
    const QImage loaded = Decoded(JpegBytes(Side, Gradient, {}));
    TJPEGImage jpeg;
    jpeg.LoadFromFile("picture.jpg");
    TDecodeBudget& budget = TDecodeBudget::Process();
    std::optional<TDecodeBudget::TReservation> otherFill =
        budget.Reserve(TDecodeBudget::DefaultBytes, "other.jpg");
    QImage drawn;
    std::string message;
    std::thread drawing([&] { message = MessageOf([&] { drawn = DrawnWhole(jpeg); }); });
    GetParam().replace("picture.jpg", Wider());
    otherFill.reset();
    drawing.join();
    ExpectLoadedPictureOrWords(message, drawn, loaded, "picture.jpg");
    EXPECT_TRUE(IsGranted(budget.Ask(TDecodeBudget::DefaultBytes, "all.jpg")));
}

// A picture drawn a second time decodes again, from the file it loaded.
TEST_P(ReplacedFile, JpegDrawnAgainDrawsWhatWasLoadedOrSaysSo) {
    test::WriteFile("picture.jpg", JpegBytes(Side, Gradient, {}));
    TJPEGImage jpeg;
    jpeg.LoadFromFile("picture.jpg");
    const QImage first = DrawnWhole(jpeg);
    GetParam().replace("picture.jpg", Wider());
    QImage drawn;
    const std::string message = MessageOf([&] { drawn = DrawnWhole(jpeg); });
    ExpectLoadedPictureOrWords(message, drawn, first, "picture.jpg");
}

INSTANTIATE_TEST_SUITE_P(Files, ReplacedFile, ::testing::ValuesIn(Replacements), test::RowName());

} // namespace
