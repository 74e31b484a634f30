#pragma once

// The quality reference: what a thumbnail ought to be, computed the slow, careful way.

#include "bench/picture_files.h"

namespace bench {

// Lanczos-3 weight at distance x (in units of the filter's own scale).
double Lanczos3(double x);

// Reduces (or enlarges) picture to width by height with a separable Lanczos-3 filter in double
// precision, one axis at a time. Where an axis is reduced the kernel is widened by the reduction,
// so that it averages as well as interpolates. Pixel centres map onto pixel centres; taps beyond
// the edges are left out and the rest renormalised.
TPicture LanczosResize(const TPicture& picture, int width, int height);

// Peak signal-to-noise ratio over all channels, in dB; infinity for identical pictures.
double Psnr(const TPicture& a, const TPicture& b);

} // namespace bench
