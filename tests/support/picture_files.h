#pragma once

#include "tests/support/test_support.h"

#include <filesystem>
#include <functional>

namespace test {

// A JPEG file made by Qt's writer, baseline unless progressive.
void WriteJpeg(const std::filesystem::path& path, int width, int height,
               const std::function<Rgb(int x, int y)>& pixel, int quality = 90,
               bool progressive = false);
void WriteJpeg(const std::filesystem::path& path, int width, int height, Rgb colour);

} // namespace test
