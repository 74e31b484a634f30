#include "platform/core/bmp_reader.h"

#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "tests/support/test_support.h"

#include <QImage>
#include <QString>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// What the suite's notes ask of a reader, file by file.
enum class TVerdict {
    Decode,   // must decode and match a reference
    Should,   // must decode and match; our reader supports every one of these
    Optional, // matching a reference or a clean error
    Reject,   // EInvalidGraphic
    Survive,  // either, without a crash and quickly
};

struct TSuiteFile {
    const char* file;
    TVerdict verdict;
    std::vector<const char*> references; // matching any one is right
    bool redGreenSwapped = false;        // the reference assumes colour management we do not do
    int tolerance = 0;                   // per channel
};

void PrintTo(const TSuiteFile& row, std::ostream* os) {
    *os << row.file;
}

struct TPicture {
    QImage image{0, 0, QImage::Format_RGB888};
};

TPicture DecodeFile(const std::filesystem::path& path) {
    TFileStream stream(path.string().c_str(), fmOpenRead);
    TPicture picture;
    test::ReadBmp(stream, path.string().c_str(), [&](int width, int height) {
        picture.image = QImage(width, height, QImage::Format_RGB888);
        return TRgbRows{picture.image.bits(), picture.image.bytesPerLine(), width, height};
    });
    return picture;
}

// Empty when the picture equals the reference wherever the reference is not fully transparent;
// otherwise the first difference.
std::string Difference(const QImage& decoded, const std::filesystem::path& referencePath,
                       const TSuiteFile& row) {
    const QImage reference = QImage(QString::fromStdString(referencePath.string()))
                                 .convertToFormat(QImage::Format_ARGB32);
    if (reference.isNull())
        return "cannot read " + referencePath.string();
    if (reference.size() != decoded.size())
        return "size " + std::to_string(decoded.width()) + "x" + std::to_string(decoded.height()) +
               " instead of " + std::to_string(reference.width()) + "x" +
               std::to_string(reference.height());
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            const QRgb want = reference.pixel(x, y);
            if (qAlpha(want) == 0)
                continue;
            const QRgb got = decoded.pixel(x, y);
            const int wantRed = row.redGreenSwapped ? qGreen(want) : qRed(want);
            const int wantGreen = row.redGreenSwapped ? qRed(want) : qGreen(want);
            if (std::abs(qRed(got) - wantRed) > row.tolerance ||
                std::abs(qGreen(got) - wantGreen) > row.tolerance ||
                std::abs(qBlue(got) - qBlue(want)) > row.tolerance)
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " +
                       std::to_string(qRed(got)) + "," + std::to_string(qGreen(got)) + "," +
                       std::to_string(qBlue(got)) + " instead of " + std::to_string(wantRed) + "," +
                       std::to_string(wantGreen) + "," + std::to_string(qBlue(want));
        }
    return {};
}

// Empty when the picture matches one of the row's references.
std::string MatchAny(const QImage& decoded, const TSuiteFile& row) {
    std::string differences;
    for (const char* reference : row.references) {
        const auto path = test::TestData(std::string("bmpsuite/ref/") + reference);
        if (!path)
            return std::string("missing reference ") + reference;
        const std::string difference = Difference(decoded, *path, row);
        if (difference.empty())
            return {};
        differences += std::string(reference) + ": " + difference + "; ";
    }
    return differences;
}

class BmpSuite : public ::testing::TestWithParam<TSuiteFile> {};

TEST_P(BmpSuite, MeetsItsVerdict) {
    const TSuiteFile& row = GetParam();
    const auto path = test::TestData(std::string("bmpsuite/") + row.file);
    if (!path)
        return;

    const auto start = std::chrono::steady_clock::now();
    std::optional<TPicture> picture;
    std::string error;
    try {
        picture = DecodeFile(*path);
    } catch (const EInvalidGraphic& invalid) {
        error = invalid.what();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(250));

    switch (row.verdict) {
    case TVerdict::Decode:
    case TVerdict::Should:
        ASSERT_TRUE(picture) << error;
        EXPECT_EQ(MatchAny(picture->image, row), "");
        break;
    case TVerdict::Optional:
        if (picture) {
            EXPECT_EQ(MatchAny(picture->image, row), "");
        } else {
            EXPECT_NE(error.find(path->string()), std::string::npos) << error;
        }
        break;
    case TVerdict::Reject:
        EXPECT_FALSE(picture) << "decoded a file that must be rejected";
        EXPECT_NE(error.find(path->string()), std::string::npos) << error;
        break;
    case TVerdict::Survive:
        if (picture && !row.references.empty()) {
            EXPECT_EQ(MatchAny(picture->image, row), "");
        }
        break;
    }
}

std::string RowName(const ::testing::TestParamInfo<TSuiteFile>& info) {
    std::string name = info.param.file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name.substr(0, name.size() - 4);
}

using enum TVerdict;

INSTANTIATE_TEST_SUITE_P(
    Good, BmpSuite,
    ::testing::Values(
        TSuiteFile{"g/pal1.bmp", Decode, {"pal1.png"}},
        TSuiteFile{"g/pal1wb.bmp", Decode, {"pal1.png"}},
        TSuiteFile{"g/pal1bg.bmp", Decode, {"pal1bg.png"}},
        TSuiteFile{"g/pal4.bmp", Decode, {"pal4.png"}},
        TSuiteFile{"g/pal4gs.bmp", Decode, {"pal4gs.png"}},
        TSuiteFile{"g/pal4rle.bmp", Decode, {"pal4.png"}},
        TSuiteFile{"g/pal8.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/pal8-0.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/pal8gs.bmp", Decode, {"pal8gs.png"}},
        TSuiteFile{"g/pal8rle.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/pal8w126.bmp", Decode, {"pal8w126.png"}},
        TSuiteFile{"g/pal8w125.bmp", Decode, {"pal8w125.png"}},
        TSuiteFile{"g/pal8w124.bmp", Decode, {"pal8w124.png"}},
        TSuiteFile{"g/pal8topdown.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/pal8nonsquare.bmp", Decode, {"pal8nonsquare-e.png", "pal8nonsquare-v.png"}},
        TSuiteFile{"g/pal8os2.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/pal8v4.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/pal8v5.bmp", Decode, {"pal8.png"}},
        TSuiteFile{"g/rgb16.bmp", Decode, {"rgb16.png"}},
        TSuiteFile{"g/rgb16bfdef.bmp", Decode, {"rgb16.png"}},
        TSuiteFile{"g/rgb16-565.bmp", Decode, {"rgb16-565.png"}},
        TSuiteFile{"g/rgb16-565pal.bmp", Decode, {"rgb16-565.png"}},
        TSuiteFile{"g/rgb24.bmp", Decode, {"rgb24.png"}},
        TSuiteFile{"g/rgb24pal.bmp", Decode, {"rgb24.png"}},
        TSuiteFile{"g/rgb32.bmp", Decode, {"rgb24.png"}},
        TSuiteFile{"g/rgb32bfdef.bmp", Decode, {"rgb24.png"}},
        TSuiteFile{"g/rgb32bf.bmp", Decode, {"rgb24.png"}}),
    RowName);

// Undefined RLE pixels get palette colour 0, which is what the "-0" references show.
INSTANTIATE_TEST_SUITE_P(
    Questionable, BmpSuite,
    ::testing::Values(
        TSuiteFile{"q/pal1p1.bmp", Should, {"pal1p1.png"}},
        TSuiteFile{"q/pal2.bmp", Optional, {"pal2.png"}},
        TSuiteFile{"q/pal2color.bmp", Optional, {"pal2color.png"}},
        TSuiteFile{"q/pal4rletrns.bmp", Should, {"pal4rletrns-0.png", "pal4rletrns-b.png"}},
        TSuiteFile{"q/pal4rlecut.bmp", Should, {"pal4rlecut-0.png", "pal4rlecut-b.png"}},
        TSuiteFile{"q/pal8rletrns.bmp", Should, {"pal8rletrns-0.png", "pal8rletrns-b.png"}},
        TSuiteFile{"q/pal8rlecut.bmp", Should, {"pal8rlecut-0.png", "pal8rlecut-b.png"}},
        TSuiteFile{"q/pal8offs.bmp", Should, {"pal8.png"}},
        TSuiteFile{"q/pal8oversizepal.bmp", Optional, {"pal8.png"}},
        TSuiteFile{"q/pal8os2-sz.bmp", Should, {"pal8.png"}},
        TSuiteFile{"q/pal8os2-hs.bmp", Should, {"pal8.png"}},
        TSuiteFile{"q/pal8os2sp.bmp", Optional, {"pal8.png"}},
        TSuiteFile{"q/pal8os2v2.bmp", Optional, {"pal8.png"}},
        TSuiteFile{"q/pal8os2v2-16.bmp", Optional, {"pal8.png"}},
        TSuiteFile{"q/pal8os2v2-sz.bmp", Optional, {"pal8.png"}},
        TSuiteFile{"q/pal8os2v2-40sz.bmp", Should, {"pal8.png"}},
        TSuiteFile{"q/rgb24rle24.bmp", Optional, {"pal8.png"}},
        TSuiteFile{"q/pal1huffmsb.bmp", Optional, {"pal1.png"}},
        TSuiteFile{"q/rgb16faketrns.bmp", Should, {"rgb16.png"}},
        TSuiteFile{"q/rgb16-231.bmp", Should, {"rgb16-231.png"}},
        TSuiteFile{"q/rgb16-3103.bmp", Should, {"rgb16-3103.png"}},
        TSuiteFile{"q/rgba16-4444.bmp", Optional, {"rgba16-4444.png"}},
        TSuiteFile{"q/rgba16-5551.bmp", Optional, {"rgba16-5551.png"}},
        TSuiteFile{"q/rgba16-1924.bmp", Optional, {"rgba16-1924.png"}},
        TSuiteFile{"q/rgb24largepal.bmp", Should, {"rgb24.png"}},
        TSuiteFile{"q/rgb24prof.bmp", Should, {"rgb24.png"}},
        TSuiteFile{"q/rgb24prof2.bmp", Should, {"rgb24.png"}, true},
        TSuiteFile{"q/rgb24lprof.bmp", Should, {"rgb24.png"}},
        TSuiteFile{"q/rgb24jpeg.bmp", Optional, {}}, TSuiteFile{"q/rgb24png.bmp", Optional, {}},
        TSuiteFile{"q/rgb32h52.bmp", Optional, {"rgb24.png"}},
        TSuiteFile{"q/rgb32-xbgr.bmp", Should, {"rgb24.png"}},
        TSuiteFile{"q/rgb32fakealpha.bmp", Should, {"rgb24.png"}},
        // Some of its 11-bit levels fall just past half-way between the reference's 8-bit ones
        // (red 1690 of 2047 is 210.53), and rounding to nearest gives one more.
        TSuiteFile{"q/rgb32-111110.bmp", Should, {"rgb24.png"}, false, 1},
        TSuiteFile{"q/rgb32-7187.bmp", Should, {"rgb32-7187.png"}},
        TSuiteFile{"q/rgba32-1.bmp", Should, {"rgba32.png"}},
        TSuiteFile{"q/rgba32-2.bmp", Should, {"rgba32.png"}},
        TSuiteFile{"q/rgba32-1010102.bmp", Should, {"rgba32-1010102.png"}},
        TSuiteFile{"q/rgba32-81284.bmp", Should, {"rgba32-81284.png"}},
        TSuiteFile{"q/rgba32-61754.bmp", Should, {"rgba32-61754.png"}},
        TSuiteFile{"q/rgba32abf.bmp", Optional, {"rgba32.png"}},
        TSuiteFile{"q/rgba32h56.bmp", Optional, {"rgba32.png"}},
        TSuiteFile{"q/rgba64.bmp", Optional, {"rgba32.png"}},
        TSuiteFile{"x/ba-bm.bmp", Optional, {"pal8.png"}}),
    RowName);

INSTANTIATE_TEST_SUITE_P(
    Bad, BmpSuite,
    ::testing::Values(
        TSuiteFile{"b/badbitcount.bmp", Reject, {}},
        TSuiteFile{"b/badbitssize.bmp", Survive, {"pal1.png"}},
        TSuiteFile{"b/baddens1.bmp", Survive, {"pal1.png"}},
        TSuiteFile{"b/baddens2.bmp", Survive, {"pal1.png"}},
        TSuiteFile{"b/badfilesize.bmp", Survive, {"pal1.png"}},
        TSuiteFile{"b/badheadersize.bmp", Reject, {}},
        TSuiteFile{"b/badpalettesize.bmp", Reject, {}},
        TSuiteFile{"b/badplanes.bmp", Survive, {"pal1.png"}},
        TSuiteFile{"b/badrle4.bmp", Survive, {}}, TSuiteFile{"b/badrle4bis.bmp", Survive, {}},
        TSuiteFile{"b/badrle4ter.bmp", Survive, {}}, TSuiteFile{"b/badrle.bmp", Survive, {}},
        TSuiteFile{"b/badrlebis.bmp", Survive, {}}, TSuiteFile{"b/badrleter.bmp", Survive, {}},
        TSuiteFile{"b/badwidth.bmp", Reject, {}}, TSuiteFile{"b/pal8badindex.bmp", Survive, {}},
        TSuiteFile{"b/reallybig.bmp", Reject, {}},
        TSuiteFile{"b/rgb16-880.bmp", Survive, {"rgb16-880.png"}},
        TSuiteFile{"b/rletopdown.bmp", Reject, {}}, TSuiteFile{"b/shortfile.bmp", Reject, {}}),
    RowName);

} // namespace
