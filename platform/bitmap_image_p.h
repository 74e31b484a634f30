#pragma once

// Private to the platform: the pixels behind a TBitmap.

#include "platform/bmp_reader.h"
#include "platform/graphics.h"

#include <QImage>

// A QImage, not a QPixmap, so that a bitmap can be made and drawn on a worker thread. Every
// bitmap's pixels are 24-bit RGB (QImage::Format_RGB888), whatever PixelFormat records.
struct TBitmapImage {
    QImage image{0, 0, QImage::Format_RGB888};
    TPixelFormat format = pfDevice;

    TRgbRows Rows() {
        return {image.bits(), image.bytesPerLine(), image.width(), image.height()};
    }
    TConstRgbRows ConstRows() const {
        return {image.constBits(), image.bytesPerLine(), image.width(), image.height()};
    }
};
