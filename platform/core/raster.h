#pragma once

#include <cstddef>
#include <cstdint>

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
