#pragma once

#include "platform/core/raster.h"

// Stretches the whole source over the whole destination, each axis on its own: Lanczos-3 where an
// axis is reduced, smooth (linear) where it is enlarged, an exact copy at 1:1.
void StretchRgb(const TConstRgbRows& source, const TRgbRows& destination);
