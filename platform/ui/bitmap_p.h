#pragma once

// Private to the platform: what a TBitmap holds.

#include "platform/core/raster.h"
#include "platform/ui/colour_transform_p.h"
#include "platform/ui/graphics.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <variant>

// A picture still to be decoded: its file's decoder, and how the rows that the file stores are to
// be seen, turned by the picture's orientation and converted by its colour profile. These are the
// two places where a file's pixels are decoded.
class TPendingPicture {
public:
    TPendingPicture(std::unique_ptr<TPictureDecoder> decoder, int orientation);

    // The size it is seen at: the stored one, transposed when the orientation turns it.
    int Width() const;
    int Height() const;

    // Has the decoder decode, from now on, at a size that gives at least width by height pixels as
    // the picture is seen, where it can (TPictureDecoder::Cover).
    void Cover(int width, int height);
    // Decodes the whole picture as it is seen. Raises the decoder's errors.
    QImage Decode();
    // Decodes the whole picture stretched over target as it is seen: its rows flow through the
    // reduction as they are decoded, and only the reduced picture is turned and converted. Raises
    // the decoder's errors, leaving target untouched.
    void DecodeStretched(const TRgbRows& target);

private:
    // The conversion of the file's profile, once it is known.
    const TColourTransform* Colour();

    std::unique_ptr<TPictureDecoder> m_decoder;
    int m_orientation;
    std::shared_ptr<const TColourTransform> m_colour;
};

// Pixels in memory: 24-bit RGB (QImage::Format_RGB888) whatever the bitmap's PixelFormat says. A
// QImage, not a QPixmap, so that a bitmap can be made and drawn on a worker thread. A QImage with a
// side of 0 is null and forgets the other side; the size is kept beside it, so that setting a
// bitmap's width and then its height gives the size asked for.
struct TPixels {
    QImage image;
    QSize size;

    TRgbRows Rows() { return {image.bits(), image.bytesPerLine(), image.width(), image.height()}; }
    TConstRgbRows ConstRows() const {
        return {image.constBits(), image.bytesPerLine(), image.width(), image.height()};
    }
};

// What a bitmap holds: pixels, or a picture still to be decoded.
struct TBitmapImage {
    TPixelFormat format = pfDevice;
    // Pixels held for each pixel of the bitmap's size, on each axis: the display's device pixel
    // ratio for a bitmap that the program makes and sizes (a thumbnail), so that it is sharp on a
    // high-density display; 1 for a picture from a file, which keeps the file's own pixels.
    double density = 1;
    // The size of the pixels' image is the bitmap's size times its density, each side rounded.
    std::variant<TPixels, TPendingPicture> content{TPixels{QImage(), QSize(0, 0)}};
};

// The density that bitmaps made from now on take: the device pixel ratio of the screen that the
// form was made on. Set on the user-interface thread when a form is made, before a worker can run.
void SetMadeBitmapDensity(double density);
double DensityOf(const TBitmap& bitmap);

// The bitmap's pixels; a picture still to be decoded is decoded whole first, and stays to be
// decoded when that fails, so that every later use raises its error again.
TPixels& PixelsOf(const TBitmap& bitmap);
// The picture that the bitmap holds still to be decoded, or null.
TPendingPicture* PendingPictureOf(const TBitmap& bitmap);
// The colour of one pixel of the bitmap's size, decoding it first as PixelsOf does; clBlack
// outside the bitmap.
TColor ColourAt(const TBitmap& bitmap, int x, int y);
TPixelFormat PixelFormatOf(const TBitmap& bitmap);
// Gives the bitmap a picture to be decoded when it is used.
void SetPicture(TBitmap& bitmap, std::unique_ptr<TPictureDecoder> decoder, int orientation);
