// The bench's own judges: if the reference, the PSNR or the statistics were wrong, every figure
// it prints would be too.

#include "bench/floors.h"
#include "bench/measure.h"
#include "bench/picture_files.h"
#include "bench/reference.h"

#include <cmath>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace {

using bench::TPicture;

TPicture Make(int width, int height, int (*pattern)(int x, int y, int c)) {
    TPicture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                picture.Row(y)[x * 3 + c] = std::uint8_t(pattern(x, y, c));
    return picture;
}

struct TResize {
    const char* name;
    int sourceWidth;
    int sourceHeight;
    int width;
    int height;
};

void PrintTo(const TResize& row, std::ostream* os) {
    *os << row.name;
}

class LanczosReference : public ::testing::TestWithParam<TResize> {};

// Weights that do not sum to one would darken or brighten a flat picture; a misplaced centre would
// shift a ramp; both show in any direction and at the edges.
TEST_P(LanczosReference, KeepsFlatPicturesAndCentresRamps) {
    const TResize& row = GetParam();
    const TPicture flat =
        Make(row.sourceWidth, row.sourceHeight, [](int, int, int c) { return 40 + 90 * c; });
    const TPicture flatResult = bench::LanczosResize(flat, row.width, row.height);
    for (std::size_t i = 0; i < flatResult.pixels.size(); ++i)
        ASSERT_EQ(flatResult.pixels[i], 40 + 90 * int(i % 3)) << "byte " << i;

    // A staircase rising by one every ten pixels, a ramp of slope 1/10 less 0.45 on average: the
    // filtered ramp is its value at the destination pixel's centre, away from the edges.
    const TPicture ramp =
        Make(row.sourceWidth, row.sourceHeight, [](int x, int, int) { return x / 10; });
    const TPicture rampResult = bench::LanczosResize(ramp, row.width, row.height);
    const double scale = double(row.sourceWidth) / row.width;
    const auto* middle = rampResult.Row(row.height / 2);
    for (int x = 4; x < row.width - 4; ++x) {
        const double centre = (x + 0.5) * scale - 0.5;
        EXPECT_NEAR(middle[x * 3], centre / 10 - 0.45, 1.0) << x;
    }
}

INSTANTIATE_TEST_SUITE_P(Bench, LanczosReference,
                         ::testing::Values(TResize{"ThumbnailReduction", 2000, 1500, 100, 110},
                                           TResize{"OneToOne", 120, 90, 120, 90},
                                           TResize{"Enlargement", 50, 40, 100, 110}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Bench, PsnrOfIdenticalAndOfOffsetPictures) {
    const TPicture a = Make(10, 10, [](int x, int y, int c) { return x * 20 + y + c; });
    const TPicture b = Make(10, 10, [](int x, int y, int c) { return x * 20 + y + c + 1; });
    EXPECT_TRUE(std::isinf(bench::Psnr(a, a)));
    // Every byte off by one: 10 log10(255^2).
    EXPECT_NEAR(bench::Psnr(a, b), 48.13, 0.01);
    EXPECT_THROW(bench::Psnr(a, TPicture(5, 5)), std::runtime_error);
}

TEST(Bench, StatisticsOfRuns) {
    const bench::TStats odd = bench::StatsOf({3, 1, 2});
    EXPECT_EQ(odd.median, 2);
    EXPECT_EQ(odd.min, 1);
    EXPECT_EQ(odd.max, 3);
    EXPECT_EQ(bench::StatsOf({4, 1, 2, 3}).median, 2.5);
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i)
        hundred.push_back(i);
    EXPECT_EQ(bench::Percentile(hundred, 0.99), 99);
    EXPECT_EQ(bench::Percentile(hundred, 1.0), 100);
    EXPECT_EQ(bench::Percentile({7}, 0.99), 7);
}

// The corpus's files: a JPEG written a row at a time must decode to what was written, the right
// way up, and a BMP must be bottom-up with padded rows, as readers expect.
class PictureFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("bench_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
};

TEST_F(PictureFiles, JpegRoundTripKeepsPixelsAndOrientation) {
    const TPicture picture = Make(67, 45, [](int x, int y, int c) {
        return c == 0 ? x * 3 : c == 1 ? y * 5 : 128;
    });
    bench::WriteJpeg(
        m_dir / "a.jpg", picture.width, picture.height, 95,
        [&](int y, std::uint8_t* rgb) { std::copy_n(picture.Row(y), picture.width * 3, rgb); });
    const TPicture decoded = bench::DecodeJpeg(m_dir / "a.jpg");
    ASSERT_EQ(decoded.width, 67);
    ASSERT_EQ(decoded.height, 45);
    EXPECT_GT(bench::Psnr(decoded, picture), 35);
    EXPECT_EQ(bench::DecodeJpeg(m_dir / "a.jpg", 8).width, 9);
}

TEST_F(PictureFiles, BmpIsBottomUpWithPaddedRows) {
    const TPicture picture = Make(5, 2, [](int x, int y, int c) { return y * 100 + x * 10 + c; });
    bench::WriteBmp(m_dir / "a.bmp", picture);
    const bench::TFileBytes file = bench::ReadWholeFile(m_dir / "a.bmp");
    // Rows of 15 bytes padded to 16, after a 54-byte header.
    ASSERT_EQ(file.size, 54U + 2 * 16);
    EXPECT_EQ(file.bytes[0], 'B');
    // The first stored row is the bottom one (y = 1), blue first: 100 + 2, 100 + 1, 100.
    EXPECT_EQ(file.bytes[54], 102);
    EXPECT_EQ(file.bytes[55], 101);
    EXPECT_EQ(file.bytes[56], 100);
    EXPECT_EQ(file.bytes[54 + 16], 2);
}

struct TScaleCase {
    const char* name;
    int width;
    int height;
    int denominator;
};

void PrintTo(const TScaleCase& row, std::ostream* os) {
    *os << row.name;
}

class JpegFloorScale : public PictureFiles, public ::testing::WithParamInterface<TScaleCase> {};

// The floor must decode at the scale our loader picks, which libjpeg's rounding decides at the
// edges: a side of 793 is 100 at 1/8 (rounded up), one of 792 only 99.
TEST_P(JpegFloorScale, DecodesAtTheScaleThatCoversTheThumbnail) {
    const TScaleCase& row = GetParam();
    const std::filesystem::path file = m_dir / "a.jpg";
    bench::WriteJpeg(file, row.width, row.height, 80,
                     [](int, std::uint8_t* rgb) { std::fill_n(rgb, 3, std::uint8_t(90)); });
    bench::TJpegFloor floor(100, 110);
    EXPECT_EQ(floor.Decode(file), row.denominator);
    // Decoded twice with the same decompressor and buffers, and after a smaller file.
    bench::WriteJpeg(m_dir / "b.jpg", 8, 8, 80,
                     [](int, std::uint8_t* rgb) { std::fill_n(rgb, 24, std::uint8_t(0)); });
    EXPECT_EQ(floor.Decode(m_dir / "b.jpg"), 1);
    EXPECT_EQ(floor.Decode(file), row.denominator);
}

INSTANTIATE_TEST_SUITE_P(Bench, JpegFloorScale,
                         ::testing::Values(TScaleCase{"RoundedUpToCoverAtEighth", 793, 873, 8},
                                           TScaleCase{"OnePixelShortAtEighth", 792, 880, 4},
                                           TScaleCase{"SmallPicture", 640, 480, 4},
                                           TScaleCase{"ThumbnailSized", 100, 110, 1},
                                           TScaleCase{"SmallerThanTheThumbnail", 50, 40, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(PictureFiles, ReusedReadGivesEachFileItsOwnBytes) {
    bench::WriteBmp(m_dir / "big.bmp", TPicture(40, 30));
    bench::WriteBmp(m_dir / "small.bmp", Make(2, 1, [](int x, int, int c) { return x + c; }));
    bench::TReusedRead read;
    read.Read(m_dir / "big.bmp");
    EXPECT_EQ(read.Size(), 54U + 30 * 120);
    const std::uint8_t* bytes = read.Read(m_dir / "small.bmp");
    ASSERT_EQ(read.Size(), 54U + 8);
    EXPECT_EQ(bytes[54], 2); // blue of the first pixel: x 0, channel 2
    EXPECT_THROW(read.Read(m_dir / "none.bmp"), std::runtime_error);
}

} // namespace
