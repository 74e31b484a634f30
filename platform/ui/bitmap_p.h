#pragma once

// Private to the platform: the pixels behind a TBitmap.

#include "platform/core/bmp_reader.h"
#include "platform/core/orientation.h"
#include "platform/ui/colour_transform_p.h"
#include "platform/ui/graphics.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

// A picture whose pixels are read only when they are needed: a BMP file after
// TBitmap::LoadFromFile, a JPEG picture after TJPEGImage::DrawInto. Drawn whole onto a bitmap its
// rows flow straight into the reduction (TCanvas::CopyRect); anything else decodes it whole first
// (TBitmap::Image). Unlike a TRowSource's, its rows may be delivered any number of times.
class TDeferredPicture : public TRowSource {
public:
    // Raises the loader's own error for a picture of this size that memory cannot hold.
    [[noreturn]] virtual void NoMemory() const = 0;
    // The colour profile embedded in the file, as far as it is known: one stored after the pixels
    // is known once they have been delivered.
    virtual const std::vector<std::uint8_t>& Profile() const = 0;
};

// A QImage, not a QPixmap, so that a bitmap can be made and drawn on a worker thread. Every
// bitmap's pixels are 24-bit RGB (QImage::Format_RGB888), whatever PixelFormat records.
struct TBitmapImage {
    QImage image{0, 0, QImage::Format_RGB888};
    TPixelFormat format = pfDevice;
    // A QImage with a side of 0 is null and forgets the other side; a bitmap keeps both, so that
    // setting its width and then its height gives the size asked for. It is also the size of a
    // deferred picture, while image is null.
    QSize emptySize{0, 0};
    // How a photograph's stored pixels are to be seen: turned by its orientation, converted by its
    // colour profile. Both wait until the pixels are used, so that a thumbnail applies them to the
    // reduced picture only (TCanvas::CopyRect); any other use applies them to the whole picture.
    int orientation = UprightOrientation;
    std::shared_ptr<const TColourTransform> colour;
    // The picture not yet decoded, if any; Image() decodes it into image.
    std::unique_ptr<TDeferredPicture> deferred;

    // The size the picture is seen at: the stored one, transposed when the orientation turns it.
    int Width() const { return SwapsAxes(orientation) ? StoredHeight() : StoredWidth(); }
    int Height() const { return SwapsAxes(orientation) ? StoredWidth() : StoredHeight(); }
    bool Pending() const { return orientation != UprightOrientation || colour != nullptr; }
    // Applies the orientation and the colour profile to the whole picture.
    void Settle();

    // Replaces the picture by one to be read when it is needed.
    void Defer(std::unique_ptr<TDeferredPicture> picture) {
        Replace(QImage(), QSize(picture->Width(), picture->Height()));
        deferred = std::move(picture);
        format = pf24bit;
    }

    // The pixels as they are seen.
    TRgbRows Rows() {
        Settle();
        return {image.bits(), image.bytesPerLine(), image.width(), image.height()};
    }
    TConstRgbRows ConstRows() {
        Settle();
        return StoredRows();
    }
    // The pixels as stored, before any orientation or colour conversion.
    TConstRgbRows StoredRows() const {
        return {image.constBits(), image.bytesPerLine(), image.width(), image.height()};
    }
    // A new picture in place of the old: nothing of the old one's metadata applies to it.
    void Replace(QImage pixels, QSize size) {
        image = std::move(pixels);
        emptySize = size;
        orientation = UprightOrientation;
        colour = nullptr;
        deferred.reset();
    }

private:
    int StoredWidth() const { return image.isNull() ? emptySize.width() : image.width(); }
    int StoredHeight() const { return image.isNull() ? emptySize.height() : image.height(); }
};
