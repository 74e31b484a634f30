#include "platform/ui/graphics.h"

#include "platform/core/decode_control.h"
#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "platform/core/orientation.h"
#include "platform/core/resample.h"
#include "platform/core/thread_buffer.h"
#include "platform/ui/bitmap_image_p.h"
#include "platform/ui/colour_transform_p.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

TRect Rect(int left, int top, int right, int bottom) {
    return TRect{left, top, right, bottom};
}

namespace {

std::string SizeText(int width, int height) {
    return std::to_string(width) + " by " + std::to_string(height);
}

// An empty string when a width by height picture can be had, else why not.
std::string CheckPictureSize(int width, int height) {
    if (width < 0 || height < 0)
        return "a side is negative";
    if (std::int64_t{width} * height > MaxPicturePixels)
        return "more than " + std::to_string(MaxPicturePixels) + " pixels";
    return {};
}

// A black picture, or a null one when memory ran out.
QImage MakeBlackImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    if (!image.isNull())
        image.fill(Qt::black);
    return image;
}

bool IsEmpty(const TRect& rect) {
    return rect.Width() <= 0 || rect.Height() <= 0;
}

TRect Intersect(const TRect& a, const TRect& b) {
    return Rect(std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                std::min(a.Bottom, b.Bottom));
}

TRect Offset(const TRect& rect, int dx, int dy) {
    return Rect(rect.Left + dx, rect.Top + dy, rect.Right + dx, rect.Bottom + dy);
}

TRect Bounds(const TBitmap& bitmap) {
    return Rect(0, 0, bitmap.Width(), bitmap.Height());
}

// The pixels of a rectangle that lies inside the picture, as rows of their own.
template <class TRows> TRows SubRows(const TRows& rows, const TRect& rect) {
    return {rows.data + rect.Top * rows.stride + rect.Left * 3, rows.stride, rect.Width(),
            rect.Height()};
}

TRgbRows RowsOf(QImage& image) {
    return {image.bits(), image.bytesPerLine(), image.width(), image.height()};
}

// A BMP file whose headers have been read. Its picture reads the file forward, once; a second
// delivery reads its headers again. The file stays open, so that every delivery reads the file that
// was loaded, never one that has taken its name since; and one written since it was loaded, or
// while its pixels are read, is refused rather than shown half old and half new.
class TBmpFile final : public TDeferredPicture {
public:
    explicit TBmpFile(const AnsiString& fileName) : m_stream(fileName, fmOpenRead) {
        m_picture = std::make_unique<TBmpPicture>(m_stream, fileName);
        m_width = m_picture->Width();
        m_height = m_picture->Height();
        m_layout = m_picture->Layout();
        m_profile = m_picture->Profile();
    }

    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    TRowLayout Layout() const override { return m_layout; }
    const std::vector<std::uint8_t>& Profile() const override { return m_profile; }

    void Deliver(TRowSink& sink) override {
        if (!m_picture) {
            m_stream.Rewind();
            m_picture = std::make_unique<TBmpPicture>(m_stream, m_stream.FileName());
            // The rows go into buffers sized by the first headers.
            if (m_picture->Width() != m_width || m_picture->Height() != m_height ||
                m_picture->Layout().bottomUp != m_layout.bottomUp ||
                m_picture->Layout().bgr != m_layout.bgr)
                FailChanged();
        }
        if (m_stream.Changed())
            FailChanged();
        // Taken, so that the next delivery starts afresh, whatever happens.
        const std::unique_ptr<TBmpPicture> picture = std::move(m_picture);
        picture->Deliver(sink);
        if (m_stream.Changed())
            FailChanged();
        m_profile = picture->Profile();
    }

    [[noreturn]] void NoMemory() const override {
        Fail("out of memory for " + SizeText(m_width, m_height) + " pixels");
    }

private:
    [[noreturn]] void Fail(const std::string& cause) const {
        throw EInvalidGraphic(
            AnsiString("Cannot read picture " + m_stream.FileName().str() + ": " + cause));
    }
    [[noreturn]] void FailChanged() const { Fail("the file has changed since it was loaded"); }

    TFileStream m_stream;
    std::unique_ptr<TBmpPicture> m_picture;
    int m_width = 0;
    int m_height = 0;
    TRowLayout m_layout;
    std::vector<std::uint8_t> m_profile;
};

// A profile stored after a deferred picture's pixels is known once they have been read.
void TakeProfile(TBitmapImage& store) {
    if (!store.colour && !store.deferred->Profile().empty())
        store.colour = ColourTransformFor(store.deferred->Profile(), TProfilePixels::Rgb);
}

// A deferred picture decoded whole into the bitmap's own pixels, its orientation and colour
// profile still to be applied (TBitmapImage::Settle). On failure the picture stays deferred, so
// that every later use raises its error again.
void Realize(TBitmapImage& store) {
    if (!store.deferred)
        return;
    TDeferredPicture& picture = *store.deferred;
    QImage decoded = MakeBlackImage(picture.Width(), picture.Height());
    if (decoded.isNull())
        picture.NoMemory();
    TRowsWriter writer(RowsOf(decoded), picture.Layout());
    picture.Deliver(writer);
    TakeProfile(store);
    store.image = std::move(decoded);
    store.deferred.reset();
}

// The whole of a picture reduced onto target as it is to be seen, through reduce, which writes the
// stored picture reduced to the rows it is given: the target's size, transposed when the
// orientation turns the picture. They are the thread's scratch, kept from one thumbnail to the
// next (fresh pages cost more than the copy through them), and written to the target only once
// the reduction is complete, so that a failure leaves nothing drawn. This is the one place where
// a thumbnail's picture is finished: only the reduced pixels are turned, and converted when the
// profile is known only once the pixels have been read (a BMP file may store it after them).
template <class TReduce, class TColourOf>
void ReduceSeenAs(int orientation, const TRgbRows& target, TReduce reduce, TColourOf colourOf) {
    thread_local TKeptBuffer<std::uint8_t> kept;
    const bool swaps = SwapsAxes(orientation);
    const int width = swaps ? target.height : target.width;
    const int height = swaps ? target.width : target.height;
    const TBorrowedBuffer<std::uint8_t> scratch(kept, static_cast<std::size_t>(width) *
                                                          static_cast<std::size_t>(height) * 3);
    const TRgbRows reduced{scratch.Data(), std::ptrdiff_t{width} * 3, width, height};
    reduce(reduced);
    if (const TColourTransform* colour = colourOf())
        colour->ConvertRows(reduced);
    if (orientation != UprightOrientation) {
        OrientRgb({reduced.data, reduced.stride, width, height}, target, orientation);
        return;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(target.Row(y), reduced.Row(y), static_cast<std::size_t>(width) * 3);
}

// Pixels in memory, still to be turned or converted.
void DrawSeenAs(const TBitmapImage& source, const TRgbRows& target) {
    ReduceSeenAs(
        source.orientation, target,
        [&](const TRgbRows& reduced) { StretchRgb(source.StoredRows(), reduced); },
        [&] { return source.colour.get(); });
}

// A deferred picture: its rows flow through the reduction as they are read.
void DrawWhole(TBitmapImage& store, const TRgbRows& target) {
    ReduceSeenAs(
        store.orientation, target,
        [&](const TRgbRows& reduced) { StretchRows(*store.deferred, reduced); },
        [&] {
            TakeProfile(store);
            return store.colour.get();
        });
}

} // namespace

// TBitmapImage

void TBitmapImage::Settle() {
    if (!Pending())
        return;
    const QSize seen(Width(), Height());
    if (colour && !image.isNull())
        colour->ConvertRows(RowsOf(image));
    colour = nullptr;
    if (orientation != UprightOrientation && !image.isNull()) {
        QImage upright(seen, QImage::Format_RGB888);
        if (upright.isNull())
            throw Exception(AnsiString("Cannot turn a " + SizeText(seen.width(), seen.height()) +
                                       " picture upright: out of memory"));
        OrientRgb(StoredRows(), RowsOf(upright), orientation);
        image = std::move(upright);
    }
    emptySize = seen;
    orientation = UprightOrientation;
}

// TBitmap

TBitmap::TBitmap() : m_image(std::make_unique<TBitmapImage>()), m_canvas(*this) {}

TBitmap::~TBitmap() = default;

TPixelFormat TBitmap::PixelFormat() const {
    return m_image->format;
}
void TBitmap::SetPixelFormat(TPixelFormat format) {
    m_image->format = format;
}
int TBitmap::Width() const {
    return m_image->Width();
}
int TBitmap::Height() const {
    return m_image->Height();
}
void TBitmap::SetWidth(int width) {
    SetSize(width, Height());
}
void TBitmap::SetHeight(int height) {
    SetSize(Width(), height);
}

void TBitmap::SetSize(int width, int height) {
    if (width == Width() && height == Height())
        return;
    std::string problem = CheckPictureSize(width, height);
    QImage image;
    if (problem.empty()) {
        image = MakeBlackImage(width, height);
        if (image.isNull() && width != 0 && height != 0)
            problem = "out of memory";
    }
    if (!problem.empty())
        throw Exception(
            AnsiString("Cannot make a " + SizeText(width, height) + " bitmap: " + problem));
    m_image->Replace(std::move(image), QSize(width, height));
}

void TBitmap::LoadFromFile(const AnsiString& fileName) {
    NamingOutOfMemory(fileName, [&] { Load(fileName); });
}

void TBitmap::Load(const AnsiString& fileName) {
    auto file = std::make_unique<TBmpFile>(fileName);
    const std::string problem = CheckPictureSize(file->Width(), file->Height());
    if (!problem.empty())
        throw EInvalidGraphic(AnsiString("Cannot read picture " + fileName.str() + ": " +
                                         SizeText(file->Width(), file->Height()) +
                                         " pixels: " + problem));
    // Only a picture whose headers were read replaces the old one.
    m_image->Defer(std::move(file));
    TakeProfile(*m_image);
}

TBitmapImage& TBitmap::Image() {
    Realize(*m_image);
    return *m_image;
}

const TBitmapImage& TBitmap::Image() const {
    Realize(*m_image);
    return *m_image;
}

// TCanvas

void TCanvas::SetCopyMode(TCopyMode mode) {
    if (mode != cmSrcCopy) {
        std::ostringstream text;
        text << "Copy mode 0x" << std::hex << std::uppercase << mode
             << " is not offered: only cmSrcCopy is";
        throw Exception(AnsiString(text.str()));
    }
    m_copyMode = mode;
}

void TCanvas::FillRect(const TRect& rect) {
    const TRect area = Intersect(rect, Bounds(m_bitmap));
    if (IsEmpty(area))
        return;
    const TColor colour = m_brush.Color();
    const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(colour & 0xFF),
                                 static_cast<std::uint8_t>((colour >> 8) & 0xFF),
                                 static_cast<std::uint8_t>((colour >> 16) & 0xFF)};
    // The first row pixel by pixel, the others copied from it: every thumbnail is filled before its
    // picture is drawn, and three bytes copied at a time took about 5 microseconds of it.
    const TRgbRows rows = SubRows(m_bitmap.Image().Rows(), area);
    std::uint8_t* first = rows.Row(0);
    for (int x = 0; x < rows.width; ++x)
        std::memcpy(first + std::ptrdiff_t{x} * 3, rgb, 3);
    for (int y = 1; y < rows.height; ++y)
        std::memcpy(rows.Row(y), first, static_cast<std::size_t>(rows.width) * 3);
}

void TCanvas::CopyRect(const TRect& destination, TCanvas* source, const TRect& sourceRect) {
    if (source == nullptr)
        throw Exception("Cannot copy a rectangle: there is no source canvas");
    TRect to = destination;
    TRect from = sourceRect;
    if (IsEmpty(to) || IsEmpty(from))
        return;
    if (to.Width() == from.Width() && to.Height() == from.Height()) {
        // At 1:1 both rectangles clip together, so every pixel still lands where it would have.
        const int dx = to.Left - from.Left;
        const int dy = to.Top - from.Top;
        from = Intersect(Intersect(from, Bounds(source->m_bitmap)),
                         Offset(Bounds(m_bitmap), -dx, -dy));
        to = Offset(from, dx, dy);
    } else {
        from = Intersect(from, Bounds(source->m_bitmap));
        to = Intersect(to, Bounds(m_bitmap));
    }
    if (IsEmpty(to) || IsEmpty(from))
        return;

    // Rows() first: it detaches the destination from any picture that shares its pixels, and
    // decodes it if it was deferred (the source too, when it is the same bitmap).
    const TRgbRows target = SubRows(m_bitmap.Image().Rows(), to);
    TBitmapImage& store = source->m_bitmap.Store();
    if (store.deferred && from == Bounds(source->m_bitmap)) {
        DrawWhole(store, target);
        return;
    }
    TBitmapImage& sourceImage = source->m_bitmap.Image();
    if (&source->m_bitmap != &m_bitmap && sourceImage.Pending() &&
        from == Bounds(source->m_bitmap)) {
        DrawSeenAs(sourceImage, target);
        return;
    }
    if (&source->m_bitmap == &m_bitmap) {
        // Within one bitmap the two rectangles may overlap: read from a copy.
        const QImage copy =
            m_bitmap.Image().image.copy(from.Left, from.Top, from.Width(), from.Height());
        StretchRgb({copy.constBits(), copy.bytesPerLine(), copy.width(), copy.height()}, target);
        return;
    }
    StretchRgb(SubRows(sourceImage.ConstRows(), from), target);
}

TColor TCanvas::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_bitmap.Width() || y >= m_bitmap.Height())
        return clBlack;
    const std::uint8_t* pixel = m_bitmap.Image().ConstRows().Row(y) + std::ptrdiff_t{x} * 3;
    return TColor{pixel[0]} | TColor{pixel[1]} << 8 | TColor{pixel[2]} << 16;
}
