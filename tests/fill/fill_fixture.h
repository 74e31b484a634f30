#pragma once

#include "tests/support/app_fixture.h"
#include "tests/support/picture_files.h"

#include <filesystem>
#include <string>
#include <vector>

namespace test {

// A DATA folder of pictures, each in a colour of its own, and what a fill must make of it.
class FillTest : public FormTest {
protected:
    // Writes DATA/<name> as a small BMP or JPEG picture (by its extension) of colour index.
    void AddPicture(const std::string& name, int colourIndex) {
        std::filesystem::create_directories("DATA");
        const std::filesystem::path path = std::filesystem::path("DATA") / name;
        const std::string extension = path.extension().string();
        if (extension == ".jpg" || extension == ".JPG" || extension == ".jpeg")
            WriteJpeg(path, 64, 48, Colour(colourIndex));
        else
            WriteBmp(path, 30, 20, Colour(colourIndex));
    }
    static Rgb Colour(int index) {
        return Rgb{static_cast<std::uint8_t>(40 + 50 * (index % 4)),
                   static_cast<std::uint8_t>(200 - 40 * (index % 5)),
                   static_cast<std::uint8_t>(30 + 25 * (index % 7))};
    }
    static bool Near(Rgb a, Rgb b) {
        return std::abs(a.r - b.r) <= 10 && std::abs(a.g - b.g) <= 10 && std::abs(a.b - b.b) <= 10;
    }
};

} // namespace test
