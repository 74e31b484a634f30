#pragma once

#include "platform/core/raster.h"

// The EXIF orientations, 1 to 8: how the stored pixels are turned to be seen upright.
constexpr int UprightOrientation = 1;

// Orientations 5 to 8 turn the picture a quarter: its upright width is its stored height.
constexpr bool SwapsAxes(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Writes the stored pixels turned upright by the orientation (1 to 8); the destination has the
// upright size (the stored one, transposed when SwapsAxes).
void OrientRgb(const TConstRgbRows& stored, const TRgbRows& upright, int orientation);
