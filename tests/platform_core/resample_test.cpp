#include "platform/core/resample.h"
#include "tests/support/reduction_reference.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Rows padded past the pixels, as a real image's may be, so that a stride mix-up shows.
struct TImage {
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> bytes;

    TImage(int w, int h, std::uint8_t fill = 0xCD)
        : width(w), height(h), stride(std::ptrdiff_t{w} * 3 + 7),
          bytes(static_cast<std::size_t>(stride * h), fill) {}

    std::uint8_t* At(int x, int y) { return bytes.data() + y * stride + x * 3; }
    const std::uint8_t* At(int x, int y) const { return bytes.data() + y * stride + x * 3; }
    TRgbRows Rows() { return {bytes.data(), stride, width, height}; }
    TConstRgbRows ConstRows() const { return {bytes.data(), stride, width, height}; }
};

using TPattern = std::function<int(int x, int y, int channel)>;

TImage Make(int width, int height, const TPattern& pattern) {
    TImage image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                image.At(x, y)[c] = static_cast<std::uint8_t>(pattern(x, y, c));
    return image;
}

TImage Stretch(const TImage& source, int width, int height) {
    TImage destination(width, height);
    StretchRgb(source.ConstRows(), destination.Rows());
    return destination;
}

// Red rises left to right, green top to bottom; blue is busy, so that averages must be exact
// rather than merely smooth.
int Gradient(int width, int height, int x, int y, int channel) {
    if (channel == 0)
        return x * 255 / std::max(width - 1, 1);
    if (channel == 1)
        return y * 255 / std::max(height - 1, 1);
    return (x * x + 3 * y * y + x * y) % 256;
}

// Red rises left to right, green top to bottom, blue waves gently: content a thumbnail can show.
int SmoothContent(int width, int height, int x, int y, int channel) {
    if (channel == 0)
        return x * 255 / std::max(width - 1, 1);
    if (channel == 1)
        return y * 255 / std::max(height - 1, 1);
    return static_cast<int>(std::lround(128 + 100 * std::sin(x * 6.0 / width + y * 9.0 / height)));
}

void ExpectMonotonic(const TImage& image) {
    for (int y = 0; y < image.height; ++y)
        for (int x = 1; x < image.width; ++x)
            ASSERT_LE(image.At(x - 1, y)[0], image.At(x, y)[0]) << "red at " << x << "," << y;
    for (int y = 1; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            ASSERT_LE(image.At(x, y - 1)[1], image.At(x, y)[1]) << "green at " << x << "," << y;
}

struct TSizes {
    const char* name;
    int sourceWidth;
    int sourceHeight;
    int width;
    int height;
};

void PrintTo(const TSizes& row, std::ostream* os) {
    *os << row.name;
}

class Reduction : public ::testing::TestWithParam<TSizes> {};

// Large reductions sum boxes of source pixels before they filter; on content that a thumbnail can
// show, that must stay within a hair of filtering every source pixel.
TEST_P(Reduction, MatchesALanczosReferenceOnSmoothContent) {
    const TSizes& row = GetParam();
    const TImage source = Make(row.sourceWidth, row.sourceHeight, [&](int x, int y, int c) {
        return SmoothContent(row.sourceWidth, row.sourceHeight, x, y, c);
    });
    const TImage result = Stretch(source, row.width, row.height);
    for (int c = 0; c < 3; ++c) {
        const std::vector<double> exact =
            test::LanczosReduce(source.ConstRows(), row.width, row.height, c);
        for (int y = 0; y < row.height; ++y)
            for (int x = 0; x < row.width; ++x)
                ASSERT_NEAR(result.At(x, y)[c], exact[static_cast<std::size_t>(y * row.width + x)],
                            1.5)
                    << "pixel " << x << "," << y << " channel " << c;
    }
    ExpectMonotonic(result);
}

// A single source pixel straddles up to two destination pixels; one axis may be reduced while the
// other is enlarged; large reductions go through boxes of source pixels. Small pictures' rows are
// boxes of one or two pixels (the 16-bit filter, where the processor has AVX2), the last of them
// short in an odd width; rows narrower than the sixteen bytes that it reads at a time. Boxes of
// hundreds and of thousands of rows.
INSTANTIATE_TEST_SUITE_P(StretchRgb, Reduction,
                         ::testing::Values(TSizes{"ThumbnailFromFourByThree", 400, 300, 100, 110},
                                           TSizes{"NonIntegerRatios", 333, 217, 100, 110},
                                           TSizes{"JustUnderOneToOne", 101, 111, 100, 110},
                                           TSizes{"HeightOnly", 100, 330, 100, 110},
                                           TSizes{"ThroughBoxes", 1999, 1501, 100, 110},
                                           TSizes{"ToOnePixel", 37, 23, 1, 1},
                                           TSizes{"SmallPicture", 640, 480, 100, 110},
                                           TSizes{"BoxesOfTwoOddWidth", 749, 333, 100, 110},
                                           TSizes{"BoxesOfThree", 751, 333, 100, 110},
                                           TSizes{"NarrowRows", 5, 300, 3, 110},
                                           TSizes{"TallBoxes", 100, 5000, 10, 11},
                                           TSizes{"BoxesOfThousandsOfRows", 8, 72000, 4, 11}),
                         test::RowName());

// Columns alternating black and white are detail far beyond a thumbnail: they must become an even
// grey, not stripes.
TEST(StretchRgb, DetailBeyondTheThumbnailBecomesItsMean) {
    const TImage stripes = Make(2000, 1500, [](int x, int, int) { return x % 2 == 0 ? 0 : 255; });
    const TImage result = Stretch(stripes, 100, 110);
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_NEAR(result.At(x, y)[0], 127.5, 1.0) << x << "," << y;
}

class Enlargement : public ::testing::TestWithParam<TSizes> {};

// Linear between pixel centres: the outer rows and columns keep the source's edge pixels, and a
// gradient stays a gradient.
TEST_P(Enlargement, KeepsEdgesAndStaysMonotonic) {
    const TSizes& row = GetParam();
    const TImage source = Make(row.sourceWidth, row.sourceHeight, [&](int x, int y, int c) {
        return c == 2 ? 77 : Gradient(row.sourceWidth, row.sourceHeight, x, y, c);
    });
    const TImage result = Stretch(source, row.width, row.height);
    ExpectMonotonic(result);
    for (int y = 0; y < row.height; ++y) {
        EXPECT_EQ(result.At(0, y)[0], source.At(0, 0)[0]);
        EXPECT_EQ(result.At(row.width - 1, y)[0], source.At(row.sourceWidth - 1, 0)[0]);
    }
    for (int x = 0; x < row.width; ++x) {
        EXPECT_EQ(result.At(x, 0)[1], source.At(0, 0)[1]);
        EXPECT_EQ(result.At(x, row.height - 1)[1], source.At(0, row.sourceHeight - 1)[1]);
        EXPECT_EQ(result.At(x, row.height / 2)[2], 77);
    }
    // A quarter of the way from the first source centre to the second.
    if (row.width == 2 * row.sourceWidth) {
        EXPECT_NEAR(result.At(1, 0)[0], (source.At(0, 0)[0] * 3 + source.At(1, 0)[0]) / 4.0, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(StretchRgb, Enlargement,
                         ::testing::Values(TSizes{"FiftySquareToThumbnail", 50, 50, 100, 110},
                                           TSizes{"TwoByTwoToThumbnail", 2, 2, 100, 110},
                                           TSizes{"NonIntegerRatios", 37, 41, 100, 110}),
                         test::RowName());

TEST(StretchRgb, OneToOneIsAnExactCopy) {
    const TImage source =
        Make(100, 110, [](int x, int y, int c) { return (x * 31 + y * 17 + c * 101) % 256; });
    const TImage result = Stretch(source, 100, 110);
    for (int y = 0; y < 110; ++y)
        ASSERT_TRUE(std::equal(source.At(0, y), source.At(0, y) + 300, result.At(0, y)))
            << "row " << y;
}

TEST(StretchRgb, AxisOfEqualSizeIsCopiedExactly) {
    const TImage source = Make(100, 1, [](int x, int, int c) { return (x * 31 + c * 101) % 256; });
    const TImage result = Stretch(source, 100, 110);
    for (int y = 0; y < 110; ++y)
        ASSERT_TRUE(std::equal(source.At(0, 0), source.At(0, 0) + 300, result.At(0, y)))
            << "row " << y;
}

TEST(StretchRgb, OnePixelFillsTheDestination) {
    const TImage source = Make(1, 1, [](int, int, int c) { return 40 + 100 * c; });
    const TImage result = Stretch(source, 100, 110);
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(
                (std::vector<int>{result.At(x, y)[0], result.At(x, y)[1], result.At(x, y)[2]}),
                (std::vector<int>{40, 140, 240}))
                << x << "," << y;
}

// Weights that sum to a hair under one must still give 255, not 254, on white. The filter is cut
// at the edges, so the checkerboard's mean holds inside them.
TEST(StretchRgb, CheckerboardHalvedGivesTheMeanAndWhiteStaysWhite) {
    const TImage board = Make(200, 220, [](int x, int y, int c) {
        const int colours[2][3] = {{10, 20, 30}, {50, 100, 200}};
        return colours[(x + y) % 2][c];
    });
    const TImage halved = Stretch(board, 100, 110);
    const TImage white = Stretch(Make(613, 419, [](int, int, int) { return 255; }), 100, 110);
    constexpr int Edge = 3;
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 100; ++x) {
            ASSERT_EQ(white.At(x, y)[0], 255) << x << "," << y;
            if (x < Edge || y < Edge || x >= 100 - Edge || y >= 110 - Edge)
                continue;
            ASSERT_EQ(halved.At(x, y)[0], 30) << x << "," << y;
            ASSERT_EQ(halved.At(x, y)[1], 60);
            ASSERT_EQ(halved.At(x, y)[2], 115);
        }
}

TEST(StretchRgb, EmptySourceOrDestinationChangesNothing) {
    const TImage source = Make(4, 4, [](int, int, int) { return 9; });
    TImage destination(3, 3, 0x55);
    StretchRgb(TImage(0, 0).ConstRows(), destination.Rows());
    StretchRgb(TImage(4, 0).ConstRows(), destination.Rows());
    EXPECT_TRUE(std::all_of(destination.bytes.begin(), destination.bytes.end(),
                            [](std::uint8_t b) { return b == 0x55; }));
    StretchRgb(source.ConstRows(), TRgbRows{});
    TImage flat(5, 0);
    StretchRgb(source.ConstRows(), flat.Rows());
}

} // namespace
