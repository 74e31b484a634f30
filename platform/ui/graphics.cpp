#include "platform/ui/graphics.h"

#include "platform/core/bmp_file.h"
#include "platform/core/exception.h"
#include "platform/core/orientation.h"
#include "platform/core/resample.h"
#include "platform/core/thread_buffer.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/colour_transform_p.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <variant>

TRect Rect(int left, int top, int right, int bottom) {
    return TRect{left, top, right, bottom};
}

namespace {

std::atomic<double> g_madeBitmapDensity{1};

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

// A side in pixels of a side in the bitmap's own units, rounded to the nearest pixel.
int PixelSide(int side, double density) {
    return static_cast<int>(std::lround(side * density));
}

// The pixels of a rectangle of the bitmap, each edge rounded on its own, so that rectangles that
// meet cover their pixels once.
TRect PixelRect(const TRect& rect, double density) {
    return Rect(PixelSide(rect.Left, density), PixelSide(rect.Top, density),
                PixelSide(rect.Right, density), PixelSide(rect.Bottom, density));
}

// Each source pixel becomes a block of the destination, which is a whole multiple of the source on
// each axis.
void RepeatPixels(const TConstRgbRows& source, const TRgbRows& destination) {
    const int across = destination.width / source.width;
    const int down = destination.height / source.height;
    for (int y = 0; y < destination.height; ++y) {
        const std::uint8_t* from = source.Row(y / down);
        std::uint8_t* to = destination.Row(y);
        for (int x = 0; x < destination.width; ++x)
            std::memcpy(to + std::ptrdiff_t{x} * 3, from + std::ptrdiff_t{x / across} * 3, 3);
    }
}

// The pixels of a rectangle that lies inside the picture, as rows of their own.
template <class TRows> TRows SubRows(const TRows& rows, const TRect& rect) {
    return {rows.data + rect.Top * rows.stride + rect.Left * 3, rows.stride, rect.Width(),
            rect.Height()};
}

TRgbRows RowsOf(QImage& image) {
    return {image.bits(), image.bytesPerLine(), image.width(), image.height()};
}

} // namespace

// TPendingPicture

TPendingPicture::TPendingPicture(std::unique_ptr<TPictureDecoder> decoder, int orientation)
    : m_decoder(std::move(decoder)), m_orientation(orientation) {}

int TPendingPicture::Width() const {
    return SwapsAxes(m_orientation) ? m_decoder->Height() : m_decoder->Width();
}

int TPendingPicture::Height() const {
    return SwapsAxes(m_orientation) ? m_decoder->Width() : m_decoder->Height();
}

// A BMP file may store its profile after its pixels: it is known once they have been read.
const TColourTransform* TPendingPicture::Colour() {
    if (!m_colour && !m_decoder->Profile().empty())
        m_colour = ColourTransformFor(m_decoder->Profile(), TProfilePixels::Rgb);
    return m_colour.get();
}

void TPendingPicture::Cover(int width, int height) {
    if (SwapsAxes(m_orientation))
        m_decoder->Cover(height, width);
    else
        m_decoder->Cover(width, height);
}

QImage TPendingPicture::Decode() {
    QImage stored = MakeBlackImage(m_decoder->Width(), m_decoder->Height());
    if (stored.isNull())
        m_decoder->NoMemory();
    TRowsWriter writer(RowsOf(stored), m_decoder->Layout());
    m_decoder->Deliver(writer);
    if (const TColourTransform* colour = Colour())
        colour->ConvertRows(RowsOf(stored));
    if (m_orientation == UprightOrientation)
        return stored;
    QImage upright = MakeBlackImage(Width(), Height());
    if (upright.isNull())
        m_decoder->NoMemory();
    OrientRgb({stored.constBits(), stored.bytesPerLine(), stored.width(), stored.height()},
              RowsOf(upright), m_orientation);
    return upright;
}

// The picture is reduced to the thread's scratch, kept from one thumbnail to the next (fresh pages
// cost more than the copy through them): the target's size, transposed when the orientation turns
// the picture. Only the reduced pixels are converted and turned, and they are written to the target
// only once the reduction is complete, so that a failure leaves nothing drawn.
void TPendingPicture::DecodeStretched(const TRgbRows& target) {
    thread_local TKeptBuffer<std::uint8_t> kept;
    const bool swaps = SwapsAxes(m_orientation);
    const int width = swaps ? target.height : target.width;
    const int height = swaps ? target.width : target.height;
    const TBorrowedBuffer<std::uint8_t> scratch(kept, static_cast<std::size_t>(width) *
                                                          static_cast<std::size_t>(height) * 3);
    const TRgbRows reduced{scratch.Data(), std::ptrdiff_t{width} * 3, width, height};
    StretchRows(*m_decoder, reduced);
    if (const TColourTransform* colour = Colour())
        colour->ConvertRows(reduced);
    if (m_orientation != UprightOrientation) {
        OrientRgb({reduced.data, reduced.stride, width, height}, target, m_orientation);
        return;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(target.Row(y), reduced.Row(y), static_cast<std::size_t>(width) * 3);
}

// The bitmap's store

TBitmapImage& ImageOf(const TBitmap& bitmap) {
    return *bitmap.m_image;
}

TPixels& PixelsOf(const TBitmap& bitmap) {
    TBitmapImage& image = ImageOf(bitmap);
    if (auto* picture = std::get_if<TPendingPicture>(&image.content)) {
        QImage decoded = picture->Decode();
        const QSize size = decoded.size();
        image.content = TPixels{std::move(decoded), size};
    }
    return std::get<TPixels>(image.content);
}

void SetMadeBitmapDensity(double density) {
    g_madeBitmapDensity.store(density, std::memory_order_relaxed);
}

double DensityOf(const TBitmap& bitmap) {
    return ImageOf(bitmap).density;
}

TPendingPicture* PendingPictureOf(const TBitmap& bitmap) {
    return std::get_if<TPendingPicture>(&ImageOf(bitmap).content);
}

void SetPicture(TBitmap& bitmap, std::unique_ptr<TPictureDecoder> decoder, int orientation) {
    TBitmapImage& image = ImageOf(bitmap);
    image.content = TPendingPicture(std::move(decoder), orientation);
    image.format = pf24bit;
    image.density = 1;
}

// TBitmap

TBitmap::TBitmap() : m_image(std::make_unique<TBitmapImage>()), m_canvas(*this) {
    m_image->density = g_madeBitmapDensity.load(std::memory_order_relaxed);
}

TBitmap::~TBitmap() = default;

TPixelFormat PixelFormatOf(const TBitmap& bitmap) {
    return ImageOf(bitmap).format;
}
void TBitmap::SetPixelFormat(TPixelFormat format) {
    m_image->format = format;
}
int TBitmap::Width() const {
    if (const TPendingPicture* picture = PendingPictureOf(*this))
        return picture->Width();
    return std::get<TPixels>(m_image->content).size.width();
}
int TBitmap::Height() const {
    if (const TPendingPicture* picture = PendingPictureOf(*this))
        return picture->Height();
    return std::get<TPixels>(m_image->content).size.height();
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
    const int pixelWidth = PixelSide(width, m_image->density);
    const int pixelHeight = PixelSide(height, m_image->density);
    std::string problem = CheckPictureSize(pixelWidth, pixelHeight);
    QImage image;
    if (problem.empty()) {
        image = MakeBlackImage(pixelWidth, pixelHeight);
        if (image.isNull() && pixelWidth != 0 && pixelHeight != 0)
            problem = "out of memory";
    }
    if (!problem.empty())
        throw Exception(
            AnsiString("Cannot make a " + SizeText(width, height) + " bitmap: " + problem));
    m_image->content = TPixels{std::move(image), QSize(width, height)};
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
    SetPicture(*this, std::move(file), UprightOrientation);
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
    const TRgbRows rows = SubRows(PixelsOf(m_bitmap).Rows(), PixelRect(area, DensityOf(m_bitmap)));
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

    // The destination's rows first: taking them detaches it from any image that shares its pixels,
    // and decodes it if it was a picture still to be decoded (the source too, when it is the same
    // bitmap).
    const TRgbRows target = SubRows(PixelsOf(m_bitmap).Rows(), PixelRect(to, DensityOf(m_bitmap)));
    TPendingPicture* picture = PendingPictureOf(source->m_bitmap);
    const bool whole = picture != nullptr && from == Bounds(source->m_bitmap);
    if (whole) {
        // A decoder that can decode at several sizes gives the target at least its pixels; the
        // size chosen for the bitmap's may give a high-density display's fewer.
        picture->Cover(target.width, target.height);
        from = Bounds(source->m_bitmap);
    }
    const TRect fromPixels = PixelRect(from, DensityOf(source->m_bitmap));
    // A copy at its own size onto a bitmap of whole times the density stays an exact copy: each
    // pixel becomes a block of its colour.
    const bool repeats = to.Width() == from.Width() && to.Height() == from.Height() &&
                         target.width != fromPixels.Width() &&
                         target.width % fromPixels.Width() == 0 &&
                         target.height % fromPixels.Height() == 0 &&
                         target.width / fromPixels.Width() == target.height / fromPixels.Height();
    if (whole && !repeats) {
        // A picture drawn whole, as a thumbnail is: decoded through the reduction, never held
        // whole.
        picture->DecodeStretched(target);
        return;
    }
    const TPixels& pixels = PixelsOf(source->m_bitmap);
    if (&source->m_bitmap == &m_bitmap) {
        // Within one bitmap the two rectangles may overlap: read from a copy.
        const QImage copy = pixels.image.copy(fromPixels.Left, fromPixels.Top, fromPixels.Width(),
                                              fromPixels.Height());
        StretchRgb({copy.constBits(), copy.bytesPerLine(), copy.width(), copy.height()}, target);
        return;
    }
    const TConstRgbRows copied = SubRows(pixels.ConstRows(), fromPixels);
    if (repeats)
        RepeatPixels(copied, target);
    else
        StretchRgb(copied, target);
}

TColor ColourAt(const TBitmap& bitmap, int x, int y) {
    if (x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height())
        return clBlack;
    const double density = DensityOf(bitmap);
    const std::uint8_t* pixel = PixelsOf(bitmap).ConstRows().Row(static_cast<int>(y * density)) +
                                std::ptrdiff_t{static_cast<int>(x * density)} * 3;
    return TColor{pixel[0]} | TColor{pixel[1]} << 8 | TColor{pixel[2]} << 16;
}
