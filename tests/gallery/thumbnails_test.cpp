#include "platform/ui/bitmap_p.h"
#include "tests/support/app_fixture.h"
#include "tests/support/picture_files.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

constexpr test::Rgb Silver{192, 192, 192};
constexpr test::Rgb Red{200, 30, 40};

test::Rgb PixelOf(TBitmap& bitmap, int x, int y) {
    return test::ToRgb(ColourAt(bitmap, x, y));
}

// A picture whose left half is red and right half blue, so the whole picture must span the
// thumbnail.
test::Rgb Halves(int x, int width) {
    return x < width / 2 ? Red : test::Rgb{20, 40, 220};
}

struct GeometryCase {
    const char* name;
    int width;
    int height;
};

void PrintTo(const GeometryCase& geometry, std::ostream* os) {
    *os << geometry.name;
}

class ThumbnailGeometryTest : public test::FormTest,
                              public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(ThumbnailGeometryTest, TheWholePictureCoversTheThumbnail) {
    const int width = GetParam().width;
    fs::create_directory("DATA");
    test::WriteBmp("DATA/P.BMP", width, GetParam().height,
                   [width](int x, int) { return Halves(x, width); });
    auto thumbnail = std::unique_ptr<TBitmap>(Form().LoadBitmapThumbnail(".\\DATA\\P.BMP"));
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->Width(), 100);
    EXPECT_EQ(thumbnail->Height(), 110);
    EXPECT_EQ(PixelFormatOf(*thumbnail), pf24bit);
    // The corners show the picture's own colours, never the silver background.
    EXPECT_EQ(PixelOf(*thumbnail, 0, 0), Halves(0, width));
    EXPECT_EQ(PixelOf(*thumbnail, 0, 109), Halves(0, width));
    EXPECT_EQ(PixelOf(*thumbnail, 99, 0), Halves(width - 1, width));
    EXPECT_EQ(PixelOf(*thumbnail, 99, 109), Halves(width - 1, width));
}

INSTANTIATE_TEST_SUITE_P(Shapes, ThumbnailGeometryTest,
                         ::testing::Values(GeometryCase{"Landscape400x300", 400, 300},
                                           GeometryCase{"Portrait300x400", 300, 400},
                                           GeometryCase{"Small50x50", 50, 50},
                                           GeometryCase{"Exact100x110", 100, 110},
                                           GeometryCase{"Tall2x1000", 2, 1000}),
                         test::RowName());

using ThumbnailTest = test::FormTest;

TEST_F(ThumbnailTest, AOnePixelPictureColoursTheWholeThumbnail) {
    fs::create_directory("DATA");
    test::WriteBmp("DATA/ONE.BMP", 1, 1, Red);
    auto thumbnail = std::unique_ptr<TBitmap>(Form().LoadBitmapThumbnail(".\\DATA\\ONE.BMP"));
    for (int y = 0; y < 110; y += 9)
        for (int x = 0; x < 100; x += 9)
            ASSERT_EQ(PixelOf(*thumbnail, x, y), Red) << x << "," << y;
}

TEST_F(ThumbnailTest, APictureOfTheThumbnailsSizeIsCopiedPixelForPixel) {
    const auto pattern = [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x * 2), static_cast<std::uint8_t>(y * 2),
                         static_cast<std::uint8_t>((x * 7 + y * 13) % 256)};
    };
    fs::create_directory("DATA");
    test::WriteBmp("DATA/EXACT.BMP", 100, 110, pattern);
    auto thumbnail = std::unique_ptr<TBitmap>(Form().LoadBitmapThumbnail(".\\DATA\\EXACT.BMP"));
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(PixelOf(*thumbnail, x, y), pattern(x, y)) << x << "," << y;
}

TEST_F(ThumbnailTest, DrawThumbnailWithANullBitmapDrawsNothing) {
    auto thumbnail = std::unique_ptr<TBitmap>(Form().NewThumbBitmap(100, 110));
    thumbnail->Canvas()->Brush()->SetColor(0x00FF00);
    thumbnail->Canvas()->FillRect(Rect(0, 0, 100, 110));
    Form().DrawThumbnail(thumbnail.get(), nullptr);
    Form().DrawThumbnail(nullptr, thumbnail.get());
    EXPECT_EQ(PixelOf(*thumbnail, 50, 50), (test::Rgb{0, 255, 0}));
}

TEST_F(ThumbnailTest, AnEmptySourceLeavesTheSilverBackground) {
    auto thumbnail = std::unique_ptr<TBitmap>(Form().NewThumbBitmap(100, 110));
    auto source = std::unique_ptr<TBitmap>(Form().NewThumbBitmap(0, 0));
    Form().DrawThumbnail(thumbnail.get(), source.get());
    EXPECT_EQ(PixelOf(*thumbnail, 0, 0), Silver);
    EXPECT_EQ(PixelOf(*thumbnail, 99, 109), Silver);
}

TEST_F(ThumbnailTest, TheJpegLoaderReadsABitmapAsTheBitmapLoaderDoes) {
    fs::create_directory("DATA");
    test::WriteBmp("DATA/B.JPG", 37, 23, [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 11), 77};
    });
    auto fromBitmap = std::unique_ptr<TBitmap>(Form().LoadBitmapThumbnail(".\\DATA\\B.JPG"));
    auto fromJpeg = std::unique_ptr<TBitmap>(Form().LoadJpegThumbnail(".\\DATA\\B.JPG"));
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(PixelOf(*fromJpeg, x, y), PixelOf(*fromBitmap, x, y));
}

TEST_F(ThumbnailTest, AJpegPictureIsDecodedAndStretched) {
    fs::create_directory("DATA");
    test::WriteJpeg("DATA/PHOTO.JPG", 1600, 1200, [](int x, int) { return Halves(x, 1600); });
    auto thumbnail = std::unique_ptr<TBitmap>(Form().LoadJpegThumbnail(".\\DATA\\PHOTO.JPG"));
    ASSERT_EQ(thumbnail->Width(), 100);
    ASSERT_EQ(thumbnail->Height(), 110);
    const auto near = [](test::Rgb a, test::Rgb b) {
        return std::abs(a.r - b.r) <= 12 && std::abs(a.g - b.g) <= 12 && std::abs(a.b - b.b) <= 12;
    };
    EXPECT_TRUE(near(PixelOf(*thumbnail, 10, 55), Red));
    EXPECT_TRUE(near(PixelOf(*thumbnail, 90, 55), Halves(1599, 1600)));
}

struct FailureCase {
    const char* name;
    const char* file;
    std::string contents;
    bool jpegLoader;
    const char* cause; // part of the message
};

void PrintTo(const FailureCase& failure, std::ostream* os) {
    *os << failure.name;
}

class ThumbnailFailureTest : public test::FormTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ThumbnailFailureTest, RaisesAnExceptionNamingTheFile) {
    fs::create_directory("DATA");
    if (!GetParam().contents.empty())
        test::WriteFile(fs::path("DATA") / GetParam().file, GetParam().contents);
    const AnsiString path = AnsiString(".\\DATA\\") + GetParam().file;
    try {
        auto thumbnail =
            std::unique_ptr<TBitmap>(GetParam().jpegLoader ? Form().LoadJpegThumbnail(path)
                                                           : Form().LoadBitmapThumbnail(path));
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_NE(error.Message().Pos(path), 0) << error.what();
        EXPECT_NE(error.Message().Pos(GetParam().cause), 0) << error.what();
    }
}

const std::string PngStart = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(64, '\0');
const std::string TiffStart = std::string("II*\0", 4) + std::string(64, '\0');
const std::string JpegStart = "\xFF\xD8\xFF\xE0" + std::string(64, '\0');

INSTANTIATE_TEST_SUITE_P(
    Files, ThumbnailFailureTest,
    ::testing::Values(
        FailureCase{"MissingFileForTheBitmapLoader", "GONE.BMP", "", false, "Cannot open"},
        FailureCase{"MissingFileForTheJpegLoader", "GONE.JPG", "", true, "Cannot open"},
        FailureCase{"AJpegGivenToTheBitmapLoader", "REAL.BMP", JpegStart, false, "Cannot read"},
        FailureCase{"ATiffNamedBmp", "TIFF.BMP", TiffStart, false, "Cannot read"},
        FailureCase{"APngNamedJpg", "PNG.JPG", PngStart, true, "Cannot read"},
        FailureCase{"ATruncatedBitmap", "CUT.BMP", std::string("BM\x36\x00\x00\x00", 6), false,
                    "Cannot read"}),
    test::RowName());

} // namespace
