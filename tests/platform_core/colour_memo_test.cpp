#include "platform/core/colour_memo.h"
#include "tests/support/test_support.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Mixes each colour's channels with its own salt: a pixel left unconverted, given the conversion
// of another colour, or of another conversion, shows.
class TMixing final : public TColourConversion {
public:
    explicit TMixing(std::uint8_t salt) : m_salt(salt) {}
    void Convert(std::uint8_t* pixels, std::size_t count) const override {
        for (std::size_t i = 0; i < count; ++i, pixels += 3) {
            const std::uint8_t r = pixels[0];
            const std::uint8_t g = pixels[1];
            const std::uint8_t b = pixels[2];
            pixels[0] = static_cast<std::uint8_t>(g ^ m_salt);
            pixels[1] = static_cast<std::uint8_t>(b + r * 3);
            pixels[2] = static_cast<std::uint8_t>(r * 7 + m_salt + g);
        }
    }

private:
    std::uint8_t m_salt;
};

struct TColours {
    const char* name;
    int count;
    int distinct; // colours, met in turn
};

void PrintTo(const TColours& row, std::ostream* os) {
    *os << row.name;
}

class ColourMemo : public ::testing::TestWithParam<TColours> {};

// Every pixel is the conversion's own result for its colour, whatever the thread converted before:
// the same pixels through one conversion, another made where it was, and a third like the first.
TEST_P(ColourMemo, GivesEveryPixelItsConversion) {
    const TColours& row = GetParam();
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < row.count; ++i) {
        const int colour = i % row.distinct;
        pixels.insert(pixels.end(), {static_cast<std::uint8_t>(colour * 37),
                                     static_cast<std::uint8_t>(colour >> 3),
                                     static_cast<std::uint8_t>(colour >> 8)});
    }
    for (const std::uint8_t salt : {1, 2, 1}) {
        const TMixing conversion(salt);
        std::vector<std::uint8_t> expected = pixels;
        conversion.Convert(expected.data(), expected.size() / 3);
        std::vector<std::uint8_t> remembered = pixels;
        conversion.ConvertRemembering(remembered.data(), remembered.size() / 3);
        ASSERT_EQ(remembered, expected) << "salt " << int{salt};
    }
}

// Black's key is zero, as an entry's would be if the memo began zeroed; runs of 256 colours are
// looked up at a time, the AVX2 look-up eight at a time, and a run may be all misses.
INSTANTIATE_TEST_SUITE_P(Runs, ColourMemo,
                         ::testing::Values(TColours{"BlackAlone", 1, 1},
                                           TColours{"FewColoursOverAndOver", 1000, 3},
                                           TColours{"NotAWholeNumberOfEights", 83, 83},
                                           TColours{"EveryPixelAnotherColour", 3000, 3000}),
                         test::RowName());

} // namespace
