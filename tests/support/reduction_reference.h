#pragma once

#include "platform/core/raster.h"

#include <vector>

namespace test {

// One channel of source reduced to width by height the slow, exact way, to judge the resampler:
// Lanczos-3 in double precision on every source pixel, one axis at a time, the kernel widened by
// the reduction, pixel centres onto pixel centres, taps beyond the edges left out and the rest
// renormalised. Row by row, top row first. Both sides must be reduced.
std::vector<double> LanczosReduce(const TConstRgbRows& source, int width, int height, int channel);

} // namespace test
