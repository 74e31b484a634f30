#include "platform/core/exception.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/graphics.h"
#include "tests/support/picture_files.h"

#include <string>

namespace {

TColor Colour(int r, int g, int b) {
    return static_cast<TColor>(r) | static_cast<TColor>(g) << 8 | static_cast<TColor>(b) << 16;
}

// Every pixel different, so that a misplaced pixel shows.
TColor Gradient(int x, int y) {
    return Colour(x * 10, y * 20, 255 - x - y);
}

void Fill(TBitmap& bitmap, TColor colour) {
    bitmap.Canvas()->Brush()->SetColor(colour);
    bitmap.Canvas()->FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void DrawGradient(TBitmap& bitmap, int width, int height) {
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            bitmap.Canvas()->Brush()->SetColor(Gradient(x, y));
            bitmap.Canvas()->FillRect(Rect(x, y, x + 1, y + 1));
        }
}

struct FillRow {
    const char* name;
    TRect rect;
    TRect expectedArea; // what changes colour in a 10 by 8 bitmap
};

void PrintTo(const FillRow& row, std::ostream* os) {
    *os << row.name;
}

class FillRectTest : public ::testing::TestWithParam<FillRow> {};

TEST_P(FillRectTest, PaintsTheClippedRectangleOnly) {
    TBitmap bitmap;
    bitmap.SetSize(10, 8);
    Fill(bitmap, clBlack);
    bitmap.Canvas()->Brush()->SetColor(0x123456);
    bitmap.Canvas()->FillRect(GetParam().rect);
    const TRect& area = GetParam().expectedArea;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside =
                x >= area.Left && x < area.Right && y >= area.Top && y < area.Bottom;
            ASSERT_EQ(ColourAt(bitmap, x, y), inside ? 0x123456u : clBlack)
                << "at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Rows, FillRectTest,
                         ::testing::Values(FillRow{"Whole", Rect(0, 0, 10, 8), Rect(0, 0, 10, 8)},
                                           FillRow{"Inside", Rect(2, 3, 5, 4), Rect(2, 3, 5, 4)},
                                           FillRow{"OverTheEdges", Rect(-5, -5, 3, 20),
                                                   Rect(0, 0, 3, 8)},
                                           FillRow{"Outside", Rect(10, 0, 20, 8), Rect(0, 0, 0, 0)},
                                           FillRow{"Inverted", Rect(5, 5, 2, 2), Rect(0, 0, 0, 0)}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Canvas, PixelOutsideIsBlackAndColoursKeepTheirChannels) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    Fill(bitmap, Colour(1, 2, 3));
    EXPECT_EQ(ColourAt(bitmap, 1, 1), Colour(1, 2, 3));
    EXPECT_EQ(ColourAt(bitmap, 2, 0), clBlack);
    EXPECT_EQ(ColourAt(bitmap, 0, -1), clBlack);
    EXPECT_THROW(bitmap.Canvas()->SetCopyMode(0x00EE0086), Exception);
}

TEST(Canvas, CopyAtOneToOneIsExact) {
    TBitmap source;
    DrawGradient(source, 7, 5);
    TBitmap destination;
    destination.SetSize(7, 5);
    destination.Canvas()->CopyRect(Rect(0, 0, 7, 5), source.Canvas(), Rect(0, 0, 7, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(ColourAt(destination, x, y), Gradient(x, y)) << x << "," << y;
}

TEST(Canvas, CopyOverTheEdgeKeepsEachPixelInPlace) {
    TBitmap source;
    DrawGradient(source, 6, 6);
    TBitmap destination;
    destination.SetSize(4, 4);
    Fill(destination, clWhite);
    // One pixel of the destination rectangle hangs off the left and top edges.
    destination.Canvas()->CopyRect(Rect(-1, -1, 3, 3), source.Canvas(), Rect(2, 2, 6, 6));
    EXPECT_EQ(ColourAt(destination, 0, 0), Gradient(3, 3));
    EXPECT_EQ(ColourAt(destination, 2, 2), Gradient(5, 5));
    EXPECT_EQ(ColourAt(destination, 3, 3), clWhite);
}

TEST(Canvas, CopyWithinOneBitmapReadsThePixelsBeforeTheCopy) {
    TBitmap bitmap;
    DrawGradient(bitmap, 6, 1);
    bitmap.Canvas()->CopyRect(Rect(1, 0, 6, 1), bitmap.Canvas(), Rect(0, 0, 5, 1));
    for (int x = 1; x < 6; ++x)
        EXPECT_EQ(ColourAt(bitmap, x, 0), Gradient(x - 1, 0)) << x;
}

struct NothingCopiedRow {
    const char* name;
    int sourceWidth;
    int sourceHeight;
    TRect destination;
    TRect source;
};

void PrintTo(const NothingCopiedRow& row, std::ostream* os) {
    *os << row.name;
}

class NothingCopiedTest : public ::testing::TestWithParam<NothingCopiedRow> {};

TEST_P(NothingCopiedTest, LeavesTheDestinationAlone) {
    const NothingCopiedRow& row = GetParam();
    TBitmap source;
    source.SetSize(row.sourceWidth, row.sourceHeight);
    Fill(source, clBlack);
    TBitmap destination;
    destination.SetSize(4, 4);
    Fill(destination, clSilver);
    destination.Canvas()->CopyRect(row.destination, source.Canvas(), row.source);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(ColourAt(destination, x, y), clSilver) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NothingCopiedTest,
    ::testing::Values(
        NothingCopiedRow{"EmptySourceBitmap", 0, 0, Rect(0, 0, 4, 4), Rect(0, 0, 0, 0)},
        NothingCopiedRow{"EmptySourceRect", 4, 4, Rect(0, 0, 4, 4), Rect(2, 2, 2, 4)},
        NothingCopiedRow{"EmptyDestinationRect", 4, 4, Rect(1, 1, 1, 1), Rect(0, 0, 4, 4)},
        NothingCopiedRow{"SourceRectOutside", 4, 4, Rect(0, 0, 4, 4), Rect(4, 4, 8, 8)},
        NothingCopiedRow{"DestinationRectOutside", 4, 4, Rect(-4, 0, 0, 4), Rect(0, 0, 4, 4)}),
    [](const auto& row) { return std::string(row.param.name); });

struct SizeRow {
    const char* name;
    int width;
    int height;
};

void PrintTo(const SizeRow& row, std::ostream* os) {
    *os << row.name;
}

class RefusedSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(RefusedSizeTest, RaisesAndKeepsTheOldSize) {
    TBitmap bitmap;
    bitmap.SetSize(3, 2);
    Fill(bitmap, clWhite);
    try {
        bitmap.SetSize(GetParam().width, GetParam().height);
        FAIL() << "no exception";
    } catch (const Exception& error) {
        const std::string expected = "Cannot make a " + std::to_string(GetParam().width) + " by " +
                                     std::to_string(GetParam().height) + " bitmap";
        EXPECT_EQ(error.Message().str().rfind(expected, 0), 0u) << error.what();
    }
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(ColourAt(bitmap, 2, 1), clWhite);
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedSizeTest,
                         ::testing::Values(SizeRow{"NegativeWidth", -1, 10},
                                           SizeRow{"NegativeHeight", 10, -1},
                                           SizeRow{"BeyondThePictureLimit", 16384, 8193}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Bitmap, WidthThenHeightFromEmptyGivesBothAndBlackPixels) {
    TBitmap bitmap;
    EXPECT_EQ(bitmap.Width(), 0);
    bitmap.SetWidth(100);
    EXPECT_EQ(bitmap.Width(), 100);
    bitmap.SetHeight(110);
    EXPECT_EQ(bitmap.Height(), 110);
    EXPECT_EQ(ColourAt(bitmap, 99, 109), clBlack);
}

class BitmapFileTest : public test::TempCurrentDir {};

TEST_F(BitmapFileTest, LoadFromFileGivesTheFilesPixels) {
    test::WriteBmp("PICTURE.BMP", 5, 3, [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x * 50), static_cast<std::uint8_t>(y * 100), 7};
    });
    TBitmap bitmap;
    bitmap.LoadFromFile("PICTURE.BMP");
    ASSERT_EQ(bitmap.Width(), 5);
    ASSERT_EQ(bitmap.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(ColourAt(bitmap, x, y), Colour(x * 50, y * 100, 7)) << x << "," << y;
}

TEST_F(BitmapFileTest, FailedLoadKeepsTheOldPicture) {
    test::WriteFile("NOT A PICTURE.BMP", "GIF89a and more bytes than a header would need to hold");
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    Fill(bitmap, clSilver);
    EXPECT_THROW(bitmap.LoadFromFile("NOT A PICTURE.BMP"), EInvalidGraphic);
    EXPECT_THROW(bitmap.LoadFromFile("MISSING.BMP"), Exception);
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(ColourAt(bitmap, 1, 1), clSilver);
}

} // namespace
