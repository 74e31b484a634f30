// A BMP drawn smaller than itself is reduced as its rows are read (TBmpPicture into StretchRows);
// the result must be StretchRgb of the whole decode to the bit, for every kind of file the reader
// accepts, and a file that fails must fail with the same message either way.

#include "platform/core/bmp_reader.h"
#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "platform/core/resample.h"
#include "tests/support/memory_stream.h"
#include "tests/support/picture_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

const AnsiString FileName = ".\\DATA\\S.BMP";

// A file with an info header of infoSize bytes (40, or an OS/2 size such as 64), the masks after it
// for bit fields, and a palette of `colours` random entries.
std::string BmpBytes(int width, int height, int bitCount, int compression, int colours,
                     const std::vector<std::uint32_t>& masks, const std::string& pixels,
                     std::uint32_t infoSize = 40) {
    std::mt19937 random(static_cast<std::uint32_t>(colours * 7 + bitCount));
    std::vector<std::uint32_t> palette;
    for (int i = 0; i < colours; ++i)
        palette.push_back(random() & 0xFFFFFF);
    return test::TBmpFile{.infoSize = infoSize,
                          .width = width,
                          .height = height,
                          .bitCount = static_cast<std::uint16_t>(bitCount),
                          .compression = static_cast<std::uint32_t>(compression),
                          .coloursUsed = static_cast<std::uint32_t>(colours),
                          .palette = palette,
                          .masks = masks,
                          .pixels = pixels}
        .Build();
}

// Rows with gradients, hard edges and noise, so that a misplaced row or box shows.
std::string PlainPixels(int width, int height, int bitCount, std::uint32_t seed) {
    std::mt19937 random(seed);
    const int rowBytes = (width * bitCount + 31) / 32 * 4;
    std::string pixels(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < rowBytes; ++i) {
            const int edge = (i * 7 / rowBytes + y * 5 / height) % 2 == 0 ? 0 : 90;
            pixels[static_cast<std::size_t>(y) * rowBytes + i] =
                static_cast<char>(i * 3 + y * 2 + edge + static_cast<int>(random() % 23));
        }
    return pixels;
}

// A random RLE stream: runs, literals, deltas and line ends, in proportions that leave both painted
// and skipped areas; ended by an end-of-bitmap code in the middle of the picture, or by running
// out of lines.
std::string RleStream(int width, int height, int bits, std::uint32_t seed, bool endEarly) {
    std::mt19937 random(seed);
    std::string stream;
    const int pixelBytes = bits == 24 ? 3 : 1;
    const int linesBeforeEnd = endEarly ? height * 2 / 3 : height;
    for (int line = 0; line < linesBeforeEnd; ++line) {
        int x = 0;
        while (x < width + 20) {
            const unsigned choice = random() % 10;
            if (choice < 5) {
                const int count = 1 + static_cast<int>(random() % 200);
                stream.push_back(static_cast<char>(count));
                for (int i = 0; i < pixelBytes; ++i)
                    stream.push_back(static_cast<char>(random()));
                x += count;
            } else if (choice < 8) {
                const int count = 3 + static_cast<int>(random() % 60);
                stream.push_back(0);
                stream.push_back(static_cast<char>(count));
                const int bytes = (count * (bits == 4 ? 4 : bits) + 7) / 8;
                for (int i = 0; i < bytes + bytes % 2; ++i)
                    stream.push_back(static_cast<char>(random()));
                x += count;
            } else if (choice < 9) {
                stream.push_back(0);
                stream.push_back(2);
                stream.push_back(static_cast<char>(random() % 40));
                const bool down = random() % 4 == 0;
                stream.push_back(static_cast<char>(down ? random() % 3 : 0));
                if (down)
                    break;
                x += 20;
            } else {
                break;
            }
        }
        stream.push_back(0);
        stream.push_back(0);
    }
    stream.push_back(0);
    stream.push_back(1);
    return stream;
}

using TPixels = std::vector<std::uint8_t>;

std::optional<TPixels> WholeThenStretched(const std::string& bytes, int width, int height,
                                          std::string& error) {
    test::TMemoryStream stream(bytes);
    TPixels whole;
    int wholeWidth = 0;
    int wholeHeight = 0;
    try {
        test::ReadBmp(stream, FileName, [&](int w, int h) {
            wholeWidth = w;
            wholeHeight = h;
            whole.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 0);
            return TRgbRows{whole.data(), std::ptrdiff_t{w} * 3, w, h};
        });
    } catch (const EInvalidGraphic& invalid) {
        error = invalid.what();
        return std::nullopt;
    }
    TPixels out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0xAB);
    StretchRgb({whole.data(), std::ptrdiff_t{wholeWidth} * 3, wholeWidth, wholeHeight},
               {out.data(), std::ptrdiff_t{width} * 3, width, height});
    return out;
}

std::optional<TPixels> Streamed(const std::string& bytes, int width, int height,
                                std::string& error) {
    test::TMemoryStream stream(bytes);
    TPixels out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0xAB);
    try {
        TBmpPicture picture(stream, FileName);
        StretchRows(picture, {out.data(), std::ptrdiff_t{width} * 3, width, height});
    } catch (const EInvalidGraphic& invalid) {
        error = invalid.what();
        return std::nullopt;
    }
    EXPECT_EQ(stream.ReadsPastTheEnd(), 0);
    return out;
}

// The first pixel where the two differ, or an empty string.
std::string FirstDifference(const TPixels& want, const TPixels& got, int width) {
    for (std::size_t i = 0; i < want.size(); ++i)
        if (want[i] != got[i])
            return "pixel " + std::to_string(i / 3 % static_cast<std::size_t>(width)) + "," +
                   std::to_string(i / 3 / static_cast<std::size_t>(width)) + " channel " +
                   std::to_string(i % 3) + ": " + std::to_string(got[i]) + " instead of " +
                   std::to_string(want[i]);
    return {};
}

struct TSize {
    int width;
    int height;
};

// The thumbnail, reductions by whole boxes and by less than one, one axis enlarged, a single pixel.
const TSize Destinations[] = {{100, 110}, {37, 9}, {1, 1}, {3, 400}, {250, 2}};

// True when the file decoded.
bool ExpectSameEitherWay(const std::string& bytes, int pictureWidth, int pictureHeight) {
    std::vector<TSize> sizes(std::begin(Destinations), std::end(Destinations));
    sizes.push_back({pictureWidth, pictureHeight});
    for (const TSize size : sizes) {
        std::string wholeError;
        std::string streamError;
        const auto want = WholeThenStretched(bytes, size.width, size.height, wholeError);
        const auto got = Streamed(bytes, size.width, size.height, streamError);
        EXPECT_EQ(want.has_value(), got.has_value()) << wholeError << " / " << streamError;
        if (!want || !got) {
            EXPECT_EQ(streamError, wholeError);
            return false;
        }
        EXPECT_EQ(FirstDifference(*want, *got, size.width), "")
            << "to " << size.width << "x" << size.height;
    }
    return true;
}

struct TKind {
    std::string name;
    int bitCount;
    int compression;
    int colours;
    std::vector<std::uint32_t> masks;
    std::uint32_t infoSize = 40;
};

void PrintTo(const TKind& kind, std::ostream* os) {
    *os << kind.name;
}

class StreamedBmp : public ::testing::TestWithParam<TKind> {};

TEST_P(StreamedBmp, ReducesAsTheWholeDecodeDoesBitForBit) {
    const TKind& kind = GetParam();
    const bool rle = kind.compression == 1 || kind.compression == 2 ||
                     (kind.compression == 4 && kind.infoSize != 40);
    for (const TSize picture :
         {TSize{613, 411}, TSize{1203, 29}, TSize{57, 800}, TSize{157, 121}}) {
        for (const bool topDown : {false, true}) {
            if (rle && topDown)
                continue;
            for (const bool endEarly : {false, true}) {
                if (!rle && endEarly)
                    continue;
                const auto seed = static_cast<std::uint32_t>(picture.width + kind.bitCount);
                const int streamBits = kind.compression == 2 ? 4 : kind.bitCount;
                const std::string pixels =
                    rle ? RleStream(picture.width, picture.height, streamBits, seed, endEarly)
                        : PlainPixels(picture.width, picture.height, kind.bitCount, seed);
                const std::string bytes = BmpBytes(
                    picture.width, topDown ? -picture.height : picture.height, kind.bitCount,
                    kind.compression, kind.colours, kind.masks, pixels, kind.infoSize);
                SCOPED_TRACE(std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                             (topDown ? " top-down" : "") + (endEarly ? " ending early" : ""));
                EXPECT_TRUE(ExpectSameEitherWay(bytes, picture.width, picture.height));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StreamedBmp,
    ::testing::Values(TKind{"Pal1", 1, 0, 2, {}}, TKind{"Pal2", 2, 0, 4, {}},
                      TKind{"Pal4", 4, 0, 16, {}}, TKind{"Pal8", 8, 0, 256, {}},
                      TKind{"Pal8ShortPalette", 8, 0, 5, {}}, TKind{"Rgb16", 16, 0, 0, {}},
                      TKind{"Fields565", 16, 3, 0, {0xF800, 0x07E0, 0x001F}},
                      TKind{"Rgb24", 24, 0, 0, {}}, TKind{"Rgb32", 32, 0, 0, {}},
                      TKind{"Fields32Bytes", 32, 3, 0, {0xFF, 0xFF00, 0xFF0000}},
                      TKind{"Fields32Odd", 32, 3, 0, {0x3FF00000, 0x000FFC00, 0x000003FF}},
                      TKind{"Rle8", 8, 1, 256, {}}, TKind{"Rle4", 4, 2, 16, {}},
                      TKind{"Os2Rle24", 24, 4, 0, {}, 64}),
    test::RowName());

// A stream that ends in the middle of its pixels fails with the reader's message either way.
TEST(StreamedBmpFailure, AStreamCutShortFailsWithTheSameMessage) {
    std::string pixels = RleStream(300, 200, 8, 7, false);
    pixels.resize(pixels.size() / 2);
    const std::string bytes = BmpBytes(300, 200, 8, 1, 256, {}, pixels);
    std::string wholeError;
    std::string streamError;
    EXPECT_FALSE(WholeThenStretched(bytes, 100, 110, wholeError));
    EXPECT_FALSE(Streamed(bytes, 100, 110, streamError));
    EXPECT_EQ(streamError, "Cannot read picture .\\DATA\\S.BMP: file ends in the pixel data");
    EXPECT_EQ(streamError, wholeError);
}

// Every file of the BMP suite, whatever its verdict there: the same picture or the same error.
TEST(StreamedBmpSuite, EveryFileReducesAsItsWholeDecode) {
    const auto folder = test::TestData("bmpsuite");
    if (!folder)
        return;
    int files = 0;
    for (const char* part : {"g", "q", "b", "x"}) {
        if (!fs::is_directory(*folder / part))
            continue;
        for (const auto& entry : fs::directory_iterator(*folder / part)) {
            if (entry.path().extension() != ".bmp")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
            SCOPED_TRACE(entry.path().string());
            test::TMemoryStream header(bytes);
            int width = 1;
            int height = 1;
            try {
                const TBmpPicture picture(header, FileName);
                width = picture.Width();
                height = picture.Height();
            } catch (const EInvalidGraphic&) {
                // The header fails; ExpectSameEitherWay checks that it fails alike.
            }
            static_cast<void>(ExpectSameEitherWay(bytes, width, height));
            ++files;
        }
    }
    EXPECT_GE(files, 80);
}

} // namespace
