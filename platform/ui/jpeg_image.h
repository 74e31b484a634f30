#pragma once

#include "platform/core/ansi_string.h"

#include <memory>

class TBitmap;

// The scales at which a JPEG picture can be decoded, in the DCT domain.
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };

struct TJPEGData;

// A JPEG picture read from a file: its header is read at once, its pixels when it is drawn into a
// bitmap. Owned by whoever made it; any thread may use one, one thread at a time.
class TJPEGImage {
public:
    TJPEGImage();
    ~TJPEGImage();
    TJPEGImage(const TJPEGImage&) = delete;
    TJPEGImage& operator=(const TJPEGImage&) = delete;

    // Reads the file and its header; raises EFOpenError or EInvalidGraphic naming the file and the
    // cause ("not a JPEG file", a picture beyond MaxPicturePixels, ...).
    void LoadFromFile(const AnsiString& fileName);
    // The picture's own size, as it is seen: a picture whose EXIF orientation turns it a quarter
    // has its stored sides swapped.
    int Width() const;
    int Height() const;

    TJPEGScale Scale() const { return m_scale; }
    void SetScale(TJPEGScale scale) { m_scale = scale; }
    // The size that the current scale gives.
    int ScaledWidth() const;
    int ScaledHeight() const;

    // Gives bitmap the picture at the current scale, as 24-bit RGB whatever its colour space
    // (greyscale, YCbCr, RGB, CMYK, YCCK), seen as its file says: in sRGB from its ICC profile and
    // upright by its EXIF orientation. The pixels are decoded when the bitmap's are used, straight
    // into the reduction when it is stretched whole onto a smaller bitmap, and the errors come
    // then: EInvalidGraphic for a picture that cannot be decoded or a file written since it was
    // loaded (damage inside the compressed data is not an error: the picture is reconstructed as
    // far as it goes, and metadata that cannot be read leaves it as stored), EOutOfMemory naming
    // the file when memory runs out or the decode needs more working memory than the decode budget
    // holds (TDecodeBudget: it waits until others have ended when it fits), and
    // EApplicationClosing when decodes are stopped. The colours are converted as the rows are
    // decoded, the turn is made on the reduced picture. The picture holds its compressed data in
    // the budget, and its file open, for as long as it lives; the bitmap shares this picture's
    // decoder, so both are used by one thread at a time, and a thread decodes one picture at a
    // time.
    void DrawInto(TBitmap* bitmap) const;

private:
    void Load(const AnsiString& fileName);

    std::shared_ptr<TJPEGData> m_data;
    TJPEGScale m_scale = jsFullSize;
};
