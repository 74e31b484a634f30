#pragma once

// The corpus part of photographs as cameras store them: the 12 MP JPEG pictures again, tagged with
// EXIF Orientation 6 (stored landscape, seen as portrait) and carrying an Adobe RGB (1998) profile,
// and their reference thumbnails, turned and converted the careful way.

#include "bench/picture_files.h"

#include <filesystem>
#include <vector>

namespace bench {

// Makes what is missing of <root>/portrait-adobe/DATA from the pictures of photosJpeg, the same
// compressed data with the two segments spliced in after the start of the file; returns the folder.
std::filesystem::path PreparePortraitAdobe(const std::filesystem::path& root,
                                           const std::filesystem::path& photosJpeg);

// The file decoded at full size, converted from Adobe RGB to sRGB by LittleCMS (relative
// colorimetric, black-point compensation), turned a quarter clockwise as Orientation 6 asks, then
// reduced with the Lanczos-3 reference to width by height.
TPicture PortraitAdobeReference(const std::filesystem::path& file, int width, int height);

} // namespace bench
