#pragma once

#include "platform/core/ansi_string.h"
#include "platform/core/raster.h"

#include <cstdint>
#include <memory>

// Colours as 0x00BBGGRR.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;

// Canvas copy modes; only a plain source copy is offered.
using TCopyMode = std::uint32_t;
constexpr TCopyMode cmSrcCopy = 0xCC0020;

enum TPixelFormat {
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};

// A rectangle; right and bottom are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

TRect Rect(int left, int top, int right, int bottom);

class TBitmap;

// The colour that a canvas fills with. Owned by its canvas.
class TBrush {
public:
    TColor Color() const { return m_color; }
    void SetColor(TColor color) { m_color = color; }

private:
    TColor m_color = clWhite;
};

// The drawing surface of one bitmap, owned by it; used on the thread that uses the bitmap.
class TCanvas {
public:
    explicit TCanvas(TBitmap& bitmap) : m_bitmap(bitmap) {}

    TBrush* Brush() { return &m_brush; }
    // Raises Exception for any mode but cmSrcCopy.
    void SetCopyMode(TCopyMode mode);

    // Paints the rectangle, clipped to the bitmap, with the brush's colour.
    void FillRect(const TRect& rect);
    // Copies the source rectangle of source onto the destination rectangle of this canvas,
    // stretching each axis on its own: filtered (Lanczos-3) when reducing, smooth when enlarging,
    // an exact copy at 1:1. An empty rectangle copies nothing.
    void CopyRect(const TRect& destination, TCanvas* source, const TRect& sourceRect);

private:
    TBitmap& m_bitmap;
    TBrush m_brush;
    TCopyMode m_copyMode = cmSrcCopy;
};

struct TBitmapImage;

// A picture in memory, of any size (0 by 0 included). Owned by whoever made it; any thread may make
// and draw on one, one thread at a time. Pixels are 24-bit once PixelFormat is pf24bit.
class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    void SetPixelFormat(TPixelFormat format);
    int Width() const;
    int Height() const;
    // Raise Exception when the size cannot be had (negative, or beyond the picture limit).
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);

    TCanvas* Canvas() { return &m_canvas; }

    // Replaces the picture by the Windows bitmap (BMP) file's; reads BMP only, whatever the file's
    // name. Reads and checks the headers, raising EFOpenError, EInvalidGraphic or EOutOfMemory
    // naming the file and the cause; the pixels are read when they are first needed, and an error
    // in them is raised there with the same message (or EApplicationClosing once decodes are
    // stopped): drawn whole onto another bitmap (CopyRect), the rows flow straight into the
    // reduction and the picture is never held whole; anything else (a pixel, a part of it, ...)
    // decodes it whole first. The file stays open while the picture is still to be decoded.
    void LoadFromFile(const AnsiString& fileName);

private:
    friend TBitmapImage& ImageOf(const TBitmap& bitmap);
    void Load(const AnsiString& fileName);

    std::unique_ptr<TBitmapImage> m_image;
    TCanvas m_canvas;
};
