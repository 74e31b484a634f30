#pragma once

#include "platform/ansi_string.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class TStream;

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

// Decodes a Windows bitmap (BMP) file from stream. Once the header has been checked, allocate is
// called once with the picture's size and returns the rows to fill; every pixel of them is written.
// Raises EInvalidGraphic naming fileName and the cause for anything that is not a readable BMP.
void ReadBmp(TStream& stream, const AnsiString& fileName,
             const std::function<TRgbRows(int width, int height)>& allocate);
