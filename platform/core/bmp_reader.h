#pragma once

#include "platform/core/ansi_string.h"
#include "platform/core/raster.h"

#include <cstdint>
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
    // EInvalidGraphic naming the file and the cause for damaged pixels, possibly after some rows
    // have been delivered, and EApplicationClosing between rows once decodes are stopped.
    void Deliver(TRowSink& sink) override;
    // The ICC profile that a V5 header embeds, empty when there is none: one stored before the
    // pixels is read with the headers, one after them once they have been delivered.
    const std::vector<std::uint8_t>& Profile() const;

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};
