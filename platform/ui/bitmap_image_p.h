#pragma once

// Private to the platform: the pixels behind a TBitmap.

#include "platform/core/bmp_reader.h"
#include "platform/ui/graphics.h"

#include <QImage>
#include <QSize>

// A QImage, not a QPixmap, so that a bitmap can be made and drawn on a worker thread. Every
// bitmap's pixels are 24-bit RGB (QImage::Format_RGB888), whatever PixelFormat records.
struct TBitmapImage {
    QImage image{0, 0, QImage::Format_RGB888};
    TPixelFormat format = pfDevice;
    // A QImage with a side of 0 is null and forgets the other side; a bitmap keeps both, so that
    // setting its width and then its height gives the size asked for.
    QSize emptySize{0, 0};

    int Width() const { return image.isNull() ? emptySize.width() : image.width(); }
    int Height() const { return image.isNull() ? emptySize.height() : image.height(); }

    TRgbRows Rows() { return {image.bits(), image.bytesPerLine(), image.width(), image.height()}; }
    TConstRgbRows ConstRows() const {
        return {image.constBits(), image.bytesPerLine(), image.width(), image.height()};
    }
};
