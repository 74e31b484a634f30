// Bitmaps that the program makes hold the display's pixels: a thumbnail keeps its size in the
// display's logical pixels, and holds its device pixel ratio times as many on each axis.

#include "platform/ui/bitmap_p.h"
#include "platform/ui/graphics.h"
#include "platform/ui/image_list.h"
#include "platform/ui/image_list_p.h"
#include "platform/ui/jpeg_image.h"
#include "tests/support/picture_files.h"
#include "tests/support/test_support.h"

#include <QImage>

#include <cmath>
#include <memory>

namespace {

constexpr TColor Silver = 0xC0C0C0;

// Cells of hard-edged colours: detail at every scale.
test::Rgb Cells(int x, int y) {
    auto hash = static_cast<unsigned>(x / 3 * 7919 + y / 4 * 104729);
    hash = (hash ^ (hash >> 16)) * 0x7FEB352DU;
    hash ^= hash >> 15;
    return {static_cast<std::uint8_t>(hash), static_cast<std::uint8_t>(hash >> 8),
            static_cast<std::uint8_t>(hash >> 16)};
}

std::unique_ptr<TBitmap> Thumbnail() {
    auto thumbnail = std::make_unique<TBitmap>();
    thumbnail->SetPixelFormat(pf24bit);
    thumbnail->SetWidth(100);
    thumbnail->SetHeight(110);
    return thumbnail;
}

test::Rgb PixelAt(const QImage& image, int x, int y) {
    const uchar* pixel = image.constScanLine(y) + std::ptrdiff_t{x} * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

struct TDensityRow {
    const char* name;
    double density;
    QSize pixels;
    // The smallest JPEG scale that covers them, of a picture eight times the thumbnail's size.
    TJPEGScale covering;
};

void PrintTo(const TDensityRow& row, std::ostream* os) {
    *os << row.name;
}

class Density : public test::TempCurrentDir, public ::testing::WithParamInterface<TDensityRow> {
protected:
    void SetUp() override {
        TempCurrentDir::SetUp();
        SetMadeBitmapDensity(GetParam().density);
    }
    void TearDown() override {
        SetMadeBitmapDensity(1);
        TempCurrentDir::TearDown();
    }
};

TEST_P(Density, AThumbnailHoldsTheDisplaysPixelsAndIsDrawnInItsOwnSize) {
    const auto thumbnail = Thumbnail();
    EXPECT_EQ(thumbnail->Width(), 100);
    EXPECT_EQ(thumbnail->Height(), 110);
    const QImage& pixels = PixelsOf(*thumbnail).image;
    ASSERT_EQ(pixels.size(), GetParam().pixels);

    thumbnail->Canvas()->Brush()->SetColor(Silver);
    thumbnail->Canvas()->FillRect(Rect(0, 0, 100, 110));
    EXPECT_EQ(PixelAt(pixels, pixels.width() - 1, pixels.height() - 1), (test::Rgb{192, 192, 192}));

    // A picture of the thumbnail's own size, from a file: its pixels as they are.
    test::WriteBmp("cells.bmp", 100, 110, Cells);
    TBitmap source;
    source.LoadFromFile("cells.bmp");
    EXPECT_EQ(source.Width(), 100);
    thumbnail->Canvas()->CopyRect(Rect(0, 0, 100, 110), source.Canvas(), Rect(0, 0, 100, 110));
    const double density = GetParam().density;
    // At a whole ratio each pixel becomes a block of its colour; between, it is stretched.
    if (density == std::floor(density)) {
        for (int y = 0; y < pixels.height(); ++y)
            for (int x = 0; x < pixels.width(); ++x)
                ASSERT_EQ(PixelAt(pixels, x, y),
                          Cells(static_cast<int>(x / density), static_cast<int>(y / density)))
                    << x << "," << y;
    }

    TImageList list(nullptr);
    list.SetWidth(100);
    list.SetHeight(110);
    list.Add(thumbnail.get(), nullptr);
    const QImage& stored = ImageStoreOf(list).images.at(0);
    EXPECT_EQ(stored.size(), GetParam().pixels);
    EXPECT_EQ(stored.devicePixelRatio(), density);
}

// The program chooses the JPEG scale that covers the thumbnail's size; the decode covers its
// pixels, and draws what a picture decoded at that scale draws.
TEST_P(Density, AJpegPictureIsDecodedWithAtLeastThePixelsOfTheThumbnail) {
    test::WriteJpeg("cells.jpg", 800, 880, Cells);
    TJPEGImage jpeg;
    jpeg.LoadFromFile("cells.jpg");
    const auto drawnFrom = [&](TJPEGScale scale) {
        jpeg.SetScale(scale);
        TBitmap source;
        jpeg.DrawInto(&source);
        auto thumbnail = Thumbnail();
        thumbnail->Canvas()->CopyRect(Rect(0, 0, 100, 110), source.Canvas(),
                                      Rect(0, 0, source.Width(), source.Height()));
        return PixelsOf(*thumbnail).image;
    };
    EXPECT_EQ(drawnFrom(jsEighth), drawnFrom(GetParam().covering));
}

INSTANTIATE_TEST_SUITE_P(Displays, Density,
                         ::testing::Values(TDensityRow{"One", 1, {100, 110}, jsEighth},
                                           TDensityRow{"OneAndAHalf", 1.5, {150, 165}, jsQuarter},
                                           TDensityRow{"Two", 2, {200, 220}, jsQuarter}),
                         test::RowName());

} // namespace
