#include "platform/core/orientation.h"

#include <cstring>

namespace {

// Where the upright picture's first pixel lies in the stored one, and how far in the stored bytes
// one step right and one step down in the upright picture go.
struct TWalk {
    const std::uint8_t* start;
    std::ptrdiff_t stepX;
    std::ptrdiff_t stepY;
};

TWalk WalkFor(const TConstRgbRows& stored, int orientation) {
    const std::ptrdiff_t right = 3;
    const std::ptrdiff_t down = stored.stride;
    const std::uint8_t* topLeft = stored.data;
    const std::uint8_t* topRight = topLeft + (stored.width - 1) * right;
    const std::uint8_t* bottomLeft = topLeft + (stored.height - 1) * down;
    const std::uint8_t* bottomRight = bottomLeft + (stored.width - 1) * right;
    switch (orientation) {
    case 2:
        return {topRight, -right, down};
    case 3:
        return {bottomRight, -right, -down};
    case 4:
        return {bottomLeft, right, -down};
    case 5:
        return {topLeft, down, right};
    case 6:
        return {bottomLeft, -down, right};
    case 7:
        return {bottomRight, -down, -right};
    case 8:
        return {topRight, down, -right};
    default:
        return {topLeft, right, down};
    }
}

} // namespace

void OrientRgb(const TConstRgbRows& stored, const TRgbRows& upright, int orientation) {
    if (stored.width <= 0 || stored.height <= 0)
        return;
    const TWalk walk = WalkFor(stored, orientation);
    for (int y = 0; y < upright.height; ++y) {
        const std::uint8_t* from = walk.start + y * walk.stepY;
        std::uint8_t* to = upright.Row(y);
        for (int x = 0; x < upright.width; ++x, from += walk.stepX, to += 3)
            std::memcpy(to, from, 3);
    }
}
