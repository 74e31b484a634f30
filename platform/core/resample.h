#pragma once

#include "platform/core/raster.h"

// Stretches the whole source over the whole destination, each axis on its own: Lanczos-3 where an
// axis is reduced, smooth (linear) where it is enlarged, an exact copy at 1:1.
void StretchRgb(const TConstRgbRows& source, const TRgbRows& destination);

// The same stretch of the source's whole picture, equal to StretchRgb of its decoded rows to the
// bit, made as its rows arrive: no row is kept beyond the first step of the reduction, and the
// memory needed is a row of column sums and a few rows of the destination's width. Raises whatever
// the source raises, after writing some rows of the destination or none.
void StretchRows(TRowSource& source, const TRgbRows& destination);
