#pragma once

// Where the programs' stored layouts put the form and its controls, in client coordinates: what
// the form's tests and the end-to-end tests expect to find.

#include <ostream>

namespace test::layout {

struct TBounds {
    int left;
    int top;
    int width;
    int height;
    friend bool operator==(const TBounds&, const TBounds&) = default;
    friend void PrintTo(const TBounds& b, std::ostream* os) {
        *os << "(" << b.left << ", " << b.top << ", " << b.width << " x " << b.height << ")";
    }
};

constexpr TBounds Client{0, 0, 254, 496};
constexpr TBounds ListView1{8, 8, 145, 465};
constexpr TBounds Button1{168, 16, 75, 25};
constexpr TBounds Button2{168, 56, 75, 25}; // OmbrelMT only

} // namespace test::layout
