#include "app/fMain.h"
#include "platform/core/file_stream.h"
#include "platform/ui/jpeg_image.h"

#include <memory>

namespace {

constexpr TColor ThumbBackground = clSilver;

// A JPEG picture decoded at the smallest scale that still covers the thumbnail on both axes: the
// decoder then does most of the reduction, at a fraction of the work and memory.
void DrawJpegPicture(const AnsiString& path, TBitmap* source, int thumbWidth, int thumbHeight) {
    auto picture = std::make_unique<TJPEGImage>();
    picture->LoadFromFile(path);
    for (TJPEGScale scale : {jsEighth, jsQuarter, jsHalf, jsFullSize}) {
        picture->SetScale(scale);
        if (picture->ScaledWidth() >= thumbWidth && picture->ScaledHeight() >= thumbHeight)
            break;
    }
    picture->DrawInto(source);
}

bool StartsWithBitmapSignature(const AnsiString& path) {
    auto stream = std::make_unique<TFileStream>(path, fmOpenRead);
    char signature[2] = {};
    return stream->Read(signature, sizeof signature) == sizeof signature && signature[0] == 'B' &&
           signature[1] == 'M';
}

} // namespace

TBitmap* TForm1::NewThumbBitmap(int width, int height) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetWidth(width);
    bitmap->SetHeight(height);
    return bitmap.release();
}

// Fills the thumbnail with silver, then stretches the whole source over the whole thumbnail, each
// axis on its own.
void TForm1::DrawThumbnail(TBitmap* thumbnail, TBitmap* source) {
    if (thumbnail == nullptr || source == nullptr)
        return;
    const TRect sourceRect = Rect(0, 0, source->Width(), source->Height());
    const TRect thumbRect = Rect(0, 0, thumbnail->Width(), thumbnail->Height());
    TCanvas* canvas = thumbnail->Canvas();
    canvas->SetCopyMode(cmSrcCopy);
    canvas->Brush()->SetColor(ThumbBackground);
    canvas->FillRect(thumbRect);
    canvas->CopyRect(thumbRect, source->Canvas(), sourceRect);
}

TBitmap* TForm1::LoadBitmapThumbnail(AnsiString path) {
    auto thumbnail = std::unique_ptr<TBitmap>(NewThumbBitmap(ThumbWidth, ThumbHeight));
    auto source = std::unique_ptr<TBitmap>(NewThumbBitmap(0, 0));
    source->LoadFromFile(path);
    DrawThumbnail(thumbnail.get(), source.get());
    return thumbnail.release();
}

// A file that starts with the bitmap signature is read as a bitmap, as the probe judged it; every
// other file is decoded as a JPEG picture.
TBitmap* TForm1::LoadJpegThumbnail(AnsiString path) {
    auto thumbnail = std::unique_ptr<TBitmap>(NewThumbBitmap(ThumbWidth, ThumbHeight));
    auto source = std::unique_ptr<TBitmap>(NewThumbBitmap(0, 0));
    if (StartsWithBitmapSignature(path))
        source->LoadFromFile(path);
    else
        DrawJpegPicture(path, source.get(), ThumbWidth, ThumbHeight);
    DrawThumbnail(thumbnail.get(), source.get());
    return thumbnail.release();
}

TBitmap* TForm1::LoadThumbnailOfKind(int kind, AnsiString path) {
    switch (kind) {
    case 0:
        return LoadBitmapThumbnail(path);
    case 1:
        return LoadJpegThumbnail(path);
    default:
        return nullptr;
    }
}
