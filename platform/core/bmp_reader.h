#pragma once

#include "platform/core/ansi_string.h"
#include "platform/core/raster.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TStream;

// A Windows bitmap (BMP) file whose headers have been read and checked, its rows read from the
// stream when they are delivered: a picture drawn smaller than itself is never held whole.
// Bottom-up files deliver their bottom row first, and 24-bit files their rows as B, G, R.
class TBmpPicture final : public TRowSource {
public:
    // Reads the headers from stream, which must outlive the picture. Raises EInvalidGraphic naming
    // fileName and the cause for a file that is not a readable BMP or cannot hold its pixels.
    TBmpPicture(TStream& stream, const AnsiString& fileName);
    ~TBmpPicture() override;
    TBmpPicture(const TBmpPicture&) = delete;
    TBmpPicture& operator=(const TBmpPicture&) = delete;

    int Width() const override;
    int Height() const override;
    TRowLayout Layout() const override;
    // Reads the pixels from where the headers left the stream, and so once only. Raises
    // EInvalidGraphic naming the file and the cause for damaged pixels (the same messages as
    // ReadBmp), possibly after some rows have been delivered.
    void Deliver(TRowSink& sink) override;
    // The ICC profile that a V5 header embeds, empty when there is none: one stored before the
    // pixels is read with the headers, one after them once they have been delivered.
    const std::vector<std::uint8_t>& Profile() const;

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

// Decodes a Windows bitmap (BMP) file from stream. Once the header has been checked, allocate is
// called once with the picture's size and returns the rows to fill; every pixel of them is written
// once the picture has been read to its end (a failure may leave rows unwritten). Raises
// EInvalidGraphic naming fileName and the cause for anything that is not a readable BMP, and
// EApplicationClosing between rows once decodes are stopped. When profile is given, it receives
// the ICC profile that a V5 header embeds (else it stays empty).
void ReadBmp(TStream& stream, const AnsiString& fileName,
             const std::function<TRgbRows(int width, int height)>& allocate,
             std::vector<std::uint8_t>* profile = nullptr);
