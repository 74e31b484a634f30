#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Rows of 24-bit pixels, R, G, B bytes in that order, top row first.
struct TRgbRows {
    std::uint8_t* data = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
    std::uint8_t* Row(int y) const { return data + y * stride; }
};

struct TConstRgbRows {
    const std::uint8_t* data = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
    const std::uint8_t* Row(int y) const { return data + y * stride; }
};

// The largest picture, in pixels, that the readers accept and a bitmap may have: a 100-megapixel
// photograph still loads.
constexpr std::int64_t MaxPicturePixels = 128LL * 1024 * 1024;

struct TRgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// How a source hands over its rows: the top row first or the bottom row first, and the order of
// the three bytes of each pixel in its runs of pixels (a 24-bit BMP's rows are B, G, R, and are
// passed on as they are in the file, unconverted).
struct TRowLayout {
    bool bottomUp = false;
    bool bgr = false;
};

// Receives the rows of a picture one after another, in the order of its layout. Each row comes left
// to right in pieces that cover it exactly once and never cross its end: a run of pixels, or a run
// of one colour, which costs the receiver no more than the boxes it touches.
class TRowSink {
public:
    virtual ~TRowSink() = default;
    // The next count pixels of the current row, three bytes each in the layout's order; the bytes
    // are read before the call returns.
    virtual void Pixels(int count, const std::uint8_t* pixels) = 0;
    // The next count pixels of the current row, all one colour.
    virtual void Solid(int count, TRgb colour) = 0;
    // The next count rows whole, all one colour; the current row has not been started.
    virtual void SolidRows(int count, TRgb colour) = 0;
};

// A picture whose rows are read when they are wanted, from a file or a decoder, rather than held.
class TRowSource {
public:
    virtual ~TRowSource() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual TRowLayout Layout() const = 0;
    // Hands every row of the picture to sink, in the layout's order. Raises the reader's error for
    // damaged pixels, possibly after some rows have been handed over.
    virtual void Deliver(TRowSink& sink) = 0;
};

// A picture file whose headers have been read: its rows, as the file stores them, are decoded from
// the file that was loaded each time they are delivered, and every delivery checks that the file
// has not been written since. Owned by the bitmap that holds the picture; used by one thread at a
// time.
class TPictureDecoder : public TRowSource {
public:
    // The ICC colour profile embedded in the file, as far as it is known: one stored after the
    // pixels is known once they have been delivered. Empty when there is none, or when the
    // decoder converts its rows itself.
    virtual const std::vector<std::uint8_t>& Profile() const = 0;
    // Raises the decoder's own error for a picture of this size that memory cannot hold.
    [[noreturn]] virtual void NoMemory() const = 0;
    // Decodes from now on at a size of at least width by height pixels where the file allows it:
    // a decoder that decodes at several sizes moves to a larger one when the one it was given would
    // give fewer. The others keep the file's size.
    virtual void Cover(int /*width*/, int /*height*/) {}
};

// Whether the raster work may use its kernels written for AVX2: the processor has AVX2 and FMA,
// and OMBREL_PORTABLE_KERNELS is not set in the environment, which chooses the portable kernels
// wherever the program runs, so that the tests try them too. Decided once, at the first call.
bool Avx2KernelsChosen();

// A sink that writes the rows it receives into rows of the picture's size, as a whole decode does.
class TRowsWriter final : public TRowSink {
public:
    TRowsWriter(const TRgbRows& rows, TRowLayout layout);

    void Pixels(int count, const std::uint8_t* pixels) override;
    void Solid(int count, TRgb colour) override;
    void SolidRows(int count, TRgb colour) override;

private:
    std::uint8_t* Here() const;
    void Advance(int count);

    TRgbRows m_rows;
    TRowLayout m_layout;
    int m_row = 0; // rows completed, in delivery order
    int m_x = 0;
};
