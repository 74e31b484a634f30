#include "platform/core/bmp_reader.h"
#include "platform/core/decode_control.h"

#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "tests/support/memory_stream.h"
#include "tests/support/picture_files.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using test::Rgb;
using test::TBmpFile;

const AnsiString FileName = ".\\DATA\\X.BMP";

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int value : values)
        out.push_back(static_cast<char>(value));
    return out;
}

struct TDecoded {
    int allocations = 0;
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels; // top row first
};

// Decodes into rows with a stride wider than the pixels, as a real image's may be.
TDecoded Decode(const std::string& bytes, int maxRead = 1 << 30, std::int64_t claimedSize = -1) {
    test::TMemoryStream stream(bytes, maxRead, claimedSize);
    TDecoded result;
    std::vector<std::uint8_t> memory;
    std::ptrdiff_t stride = 0;
    test::ReadBmp(stream, FileName, [&](int width, int height) {
        ++result.allocations;
        if (std::int64_t{width} * height > 1 << 24)
            throw std::runtime_error("allocate was asked for a lying header's size");
        result.width = width;
        result.height = height;
        stride = std::ptrdiff_t{width} * 3 + 5;
        memory.assign(static_cast<std::size_t>(stride * height), 0xCD);
        return TRgbRows{memory.data(), stride, width, height};
    });
    for (int y = 0; y < result.height; ++y)
        for (int x = 0; x < result.width; ++x) {
            const std::uint8_t* pixel = memory.data() + y * stride + x * 3;
            result.pixels.push_back({pixel[0], pixel[1], pixel[2]});
        }
    return result;
}

constexpr Rgb C(std::uint32_t colour) {
    return {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
            static_cast<std::uint8_t>(colour)};
}

constexpr std::uint32_t P0 = 0x112233;
constexpr std::uint32_t P1 = 0xA0B0C0;
constexpr std::uint32_t P2 = 0x405060;
constexpr std::uint32_t P3 = 0xF0E0D0;
constexpr Rgb Black{0, 0, 0};
constexpr Rgb White{255, 255, 255};

struct TFormatCase {
    const char* name;
    TBmpFile file;
    int width;
    int height;
    std::vector<Rgb> expected;
};

void PrintTo(const TFormatCase& row, std::ostream* os) {
    *os << row.name;
}

// Rows are named after the edge they cover.
class BmpFormat : public ::testing::TestWithParam<TFormatCase> {};

// Every format is also read one dribble of 3 bytes at a time, so that a decoder that assumes a
// read fills its buffer shows.
TEST_P(BmpFormat, DecodesToTheExpectedPixels) {
    const TFormatCase& row = GetParam();
    const std::string bytes = row.file.Build();
    for (const int maxRead : {1 << 30, 3}) {
        const TDecoded decoded = Decode(bytes, maxRead);
        EXPECT_EQ(decoded.allocations, 1);
        EXPECT_EQ(decoded.width, row.width);
        EXPECT_EQ(decoded.height, row.height);
        EXPECT_EQ(decoded.pixels, row.expected) << "reading at most " << maxRead << " bytes a time";
    }
}

TBmpFile Indexed(std::uint16_t bits, int width, int height, std::vector<std::uint32_t> palette,
                 std::string pixels, std::uint32_t compression = 0) {
    TBmpFile file;
    file.bitCount = bits;
    file.width = width;
    file.height = height;
    file.coloursUsed = static_cast<std::uint32_t>(palette.size());
    file.palette = std::move(palette);
    file.pixels = std::move(pixels);
    file.compression = compression;
    return file;
}

TBmpFile Direct(std::uint16_t bits, int width, int height, std::string pixels,
                std::vector<std::uint32_t> masks = {}, std::uint32_t infoSize = 40) {
    TBmpFile file;
    file.bitCount = bits;
    file.width = width;
    file.height = height;
    file.pixels = std::move(pixels);
    file.infoSize = infoSize;
    if (!masks.empty()) {
        file.compression = 3;
        file.masks = std::move(masks);
    }
    return file;
}

TBmpFile CoreHeader() {
    TBmpFile file = Indexed(8, 2, 1, {P0, P1}, Bytes({1, 0, 0, 0}));
    file.infoSize = 12;
    return file;
}

// The offset says that the pixels start where the palette does; they follow it, ending the file.
TBmpFile OffsetAtThePalette(std::string pixels) {
    TBmpFile file = Indexed(8, 2, 1, {P0, P1, P2}, std::move(pixels));
    file.pixelOffset = 54;
    return file;
}

TBmpFile TopDown() {
    TBmpFile file = Direct(24, 1, 2, Bytes({0x30, 0x20, 0x10, 0, 0xFF, 0xFF, 0xFF, 0}));
    file.height = -2;
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    ReadBmp, BmpFormat,
    ::testing::Values(
        TFormatCase{"OneBitAcrossTwoBytes",
                    Indexed(1, 10, 2, {P0, P1}, Bytes({0x07, 0xC0, 0, 0, 0xAA, 0x80, 0, 0})),
                    10,
                    2,
                    {C(P1), C(P0), C(P1), C(P0), C(P1), C(P0), C(P1), C(P0), C(P1), C(P0),
                     C(P0), C(P0), C(P0), C(P0), C(P0), C(P1), C(P1), C(P1), C(P1), C(P1)}},
        TFormatCase{"TwoBit",
                    Indexed(2, 5, 1, {P0, P1, P2, P3}, Bytes({0x1B, 0x80, 0, 0})),
                    5,
                    1,
                    {C(P0), C(P1), C(P2), C(P3), C(P2)}},
        TFormatCase{"FourBitOddWidth",
                    Indexed(4, 3, 1, {P0, P1, P2}, Bytes({0x21, 0x00, 0, 0})),
                    3,
                    1,
                    {C(P2), C(P1), C(P0)}},
        TFormatCase{"EightBitWithRowPadding",
                    Indexed(8, 3, 2, {P0, P1, P2}, Bytes({2, 2, 0, 0, 0, 1, 2, 0})),
                    3,
                    2,
                    {C(P0), C(P1), C(P2), C(P2), C(P2), C(P0)}},
        TFormatCase{"EightBitIndexBeyondPaletteIsBlack",
                    Indexed(8, 2, 1, {P0, P1}, Bytes({1, 200, 0, 0})),
                    2,
                    1,
                    {C(P1), Black}},
        TFormatCase{
            "CoreHeaderThreeBytePaletteCutShortByPixelOffset", CoreHeader(), 2, 1, {C(P1), C(P0)}},
        TFormatCase{"PixelOffsetAtThePaletteReadAfterIt",
                    OffsetAtThePalette(Bytes({1, 2, 0, 0})),
                    2,
                    1,
                    {C(P1), C(P2)}},
        TFormatCase{"SixteenBitDefault555ScaledToFullRange",
                    Direct(16, 3, 1, Bytes({0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00, 0, 0})),
                    3,
                    1,
                    {White, {255, 0, 0}, {0, 0, 132}}},
        TFormatCase{"SixteenBit565",
                    Direct(16, 2, 1, Bytes({0xFF, 0xFF, 0x20, 0x00}), {0xF800, 0x07E0, 0x001F}),
                    2,
                    1,
                    {White, {0, 4, 0}}},
        TFormatCase{"SixteenBitEmptyBlueMask",
                    Direct(16, 1, 1, Bytes({0x80, 0xFF, 0, 0}), {0xFF00, 0x00FF, 0}),
                    1,
                    1,
                    {{255, 128, 0}}},
        TFormatCase{"TwentyFourBitBottomUpWithPadding",
                    Direct(24, 2, 2,
                           Bytes({0x30, 0x20, 0x10, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x01, 0x02,
                                  0x03, 0, 0})),
                    2,
                    2,
                    {White, {3, 2, 1}, {0x10, 0x20, 0x30}, Black}},
        TFormatCase{"TwentyFourBitTopDown", TopDown(), 1, 2, {{0x10, 0x20, 0x30}, White}},
        TFormatCase{"ThirtyTwoBitUnusedByteIgnored",
                    Direct(32, 1, 1, Bytes({0x30, 0x20, 0x10, 0xFF})),
                    1,
                    1,
                    {{0x10, 0x20, 0x30}}},
        TFormatCase{"ThirtyTwoBitMasksInV5Header",
                    Direct(32, 1, 1, Bytes({0x00, 0x30, 0x20, 0x10}),
                           {0xFF000000, 0x00FF0000, 0x0000FF00}, 124),
                    1,
                    1,
                    {{0x10, 0x20, 0x30}}},
        TFormatCase{
            "TenBitChannelsReduced",
            Direct(32, 1, 1, Bytes({0x00, 0x00, 0xF8, 0x3F}), {0x3FF00000, 0x000FFC00, 0x000003FF}),
            1,
            1,
            {{255, 128, 0}}},
        TFormatCase{
            "EighteenBitChannelRoundsToNearest",
            Direct(32, 1, 1, Bytes({0x80, 0xFF, 0xFF, 0x80}), {0xFE000000, 0x01FFFF80, 0x0000007F}),
            1,
            1,
            {{129, 127, 0}}}),
    test::RowName());

// RLE pictures start from palette colour 0 wherever the stream skips (P0 here, not black).
TBmpFile Rle8(int width, int height, std::string stream) {
    return Indexed(8, width, height, {P0, P1, P2}, std::move(stream), 1);
}

INSTANTIATE_TEST_SUITE_P(
    ReadBmpRle, BmpFormat,
    ::testing::Values(
        TFormatCase{
            "Rle8RunDeltaEndOfLineAbsolute",
            Rle8(4, 3, Bytes({2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 0, 3, 2, 1, 2, 0, 0, 1})),
            4,
            3,
            {C(P2), C(P1), C(P2), C(P0), C(P0), C(P0), C(P0), C(P2), C(P1), C(P1), C(P0), C(P0)}},
        TFormatCase{"Rle8EndsEarly",
                    Rle8(3, 2, Bytes({1, 1, 0, 1})),
                    3,
                    2,
                    {C(P0), C(P0), C(P0), C(P1), C(P0), C(P0)}},
        TFormatCase{"Rle8RunBeyondRowIsClipped",
                    Rle8(3, 2, Bytes({255, 1, 0, 0, 1, 2, 0, 1})),
                    3,
                    2,
                    {C(P2), C(P0), C(P0), C(P1), C(P1), C(P1)}},
        TFormatCase{"Rle4NibbleRunsAbsoluteAndDelta",
                    Indexed(4, 5, 2, {P0, P1, P2},
                            Bytes({5, 0x12, 0, 0, 0, 3, 0x21, 0x20, 0, 2, 1, 0, 1, 0x20, 0, 1}), 2),
                    5,
                    2,
                    {C(P2), C(P1), C(P2), C(P0), C(P2), C(P1), C(P2), C(P1), C(P2), C(P1)}}),
    test::RowName());

struct TBrokenCase {
    const char* name;
    TBmpFile file;
    const char* cause;
};

void PrintTo(const TBrokenCase& row, std::ostream* os) {
    *os << row.name;
}

class BrokenBmp : public ::testing::TestWithParam<TBrokenCase> {};

// None of these may get as far as asking for memory.
TEST_P(BrokenBmp, IsRejectedBeforeAllocating) {
    const TBrokenCase& row = GetParam();
    const std::string bytes = row.file.Build();
    test::TMemoryStream stream(bytes);
    int allocations = 0;
    try {
        test::ReadBmp(stream, FileName, [&](int, int) -> TRgbRows {
            ++allocations;
            throw std::runtime_error("allocate called");
        });
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(error.Message().str(),
                  std::string("Cannot read picture .\\DATA\\X.BMP: ") + row.cause);
    }
    EXPECT_EQ(allocations, 0);
}

TBmpFile With(TBmpFile file, auto change) {
    change(file);
    return file;
}

const TBmpFile Plain = Direct(24, 4, 4, std::string(48, '\x7F'));

INSTANTIATE_TEST_SUITE_P(
    ReadBmp, BrokenBmp,
    ::testing::Values(
        TBrokenCase{"PixelOffsetLeavingNoPalette", OffsetAtThePalette(Bytes({1, 2, 0, 0, 7, 7})),
                    "pixel data offset 54 is impossible: it leaves no room for the palette of 3 "
                    "colours"},
        TBrokenCase{"BitmapArraySignature", With(Plain, [](auto& f) { f.signature = "BA"; }),
                    "not a BMP file (no \"BM\" signature)"},
        TBrokenCase{"UnknownHeaderSize", With(Plain, [](auto& f) { f.infoSize = 66; }),
                    "info header size 66 is not valid"},
        TBrokenCase{"AbsurdBitCount", With(Plain, [](auto& f) { f.bitCount = 30000; }),
                    "unsupported bit count 30000"},
        TBrokenCase{"NegativeWidth", With(Plain, [](auto& f) { f.width = -127; }),
                    "width -127 is not valid"},
        TBrokenCase{"ZeroHeight", With(Plain, [](auto& f) { f.height = 0; }),
                    "height 0 is not valid"},
        TBrokenCase{"HugeHeaderInSmallFile",
                    With(Plain,
                         [](auto& f) {
                             f.width = 60000;
                             f.height = 60000;
                         }),
                    "picture of 60000 by 60000 pixels is too large"},
        TBrokenCase{"TopDownRle", With(Rle8(2, 2, Bytes({0, 1})), [](auto& f) { f.height = -2; }),
                    "a top-down picture cannot be RLE compressed"},
        TBrokenCase{"Rle8WithFourBits",
                    With(Rle8(2, 2, Bytes({0, 1})), [](auto& f) { f.bitCount = 4; }),
                    "RLE8 compression with bit count 4 is not valid"},
        TBrokenCase{"AbsurdPaletteSize",
                    With(Indexed(8, 4, 4, {P0}, std::string(16, '\0')),
                         [](auto& f) { f.coloursUsed = 305402420; }),
                    "palette of 305402420 colours does not fit in the file"},
        TBrokenCase{"EmbeddedJpeg", With(Plain, [](auto& f) { f.compression = 4; }),
                    "embedded JPEG pictures are not supported"},
        TBrokenCase{"PixelOffsetBeyondEnd", With(Plain, [](auto& f) { f.pixelOffset = 5000; }),
                    "file ends before the pixel data"},
        TBrokenCase{"PixelOffsetInsideHeader", With(Plain, [](auto& f) { f.pixelOffset = 20; }),
                    "pixel data offset 20 lies inside the headers"},
        TBrokenCase{"FileCutInPixels", With(Plain, [](auto& f) { f.pixels.resize(40); }),
                    "file ends in the pixel data"}),
    test::RowName());

struct TCutCase {
    const char* name;
    TBmpFile file;
};

void PrintTo(const TCutCase& row, std::ostream* os) {
    *os << row.name;
}

class CutBmp : public ::testing::TestWithParam<TCutCase> {};

// Cut after every byte: inside each header, the masks, the palette and the pixels. Widths are
// chosen without row padding, so that every cut removes something the picture needs.
TEST_P(CutBmp, FailsAtEveryLength) {
    const std::string whole = GetParam().file.Build();
    ASSERT_NO_THROW(Decode(whole));
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE("cut to " + std::to_string(length) + " bytes");
        try {
            Decode(whole.substr(0, length));
            ADD_FAILURE() << "decoded a cut file";
        } catch (const EInvalidGraphic& error) {
            EXPECT_EQ(error.Message().Pos("Cannot read picture .\\DATA\\X.BMP: "), 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReadBmp, CutBmp,
    ::testing::Values(TCutCase{"EightBitPalette",
                               Indexed(8, 4, 2, {P0, P1, P2}, Bytes({0, 1, 2, 1, 2, 1, 0, 0}))},
                      TCutCase{"SixteenBitFields",
                               Direct(16, 2, 2, std::string(8, '\x11'), {0xF800, 0x07E0, 0x001F})},
                      TCutCase{"V5Header", Direct(32, 1, 2, std::string(8, '\x11'), {}, 124)},
                      TCutCase{"Rle8", Rle8(4, 2, Bytes({4, 1, 0, 0, 0, 4, 1, 2, 1, 2, 0, 1}))}),
    test::RowName());

// Stopped decodes end between rows, also inside an RLE stream, whose rows are filled first.
TEST(ReadBmp, StoppedDecodesEndWithApplicationClosing) {
    StopDecodes();
    EXPECT_THROW(Decode(Plain.Build()), EApplicationClosing);
    EXPECT_THROW(Decode(Rle8(4, 2, Bytes({4, 1, 0, 0, 0, 4, 1, 2, 1, 2, 0, 1})).Build()),
                 EApplicationClosing);
    AllowDecodes();
    EXPECT_NO_THROW(Decode(Plain.Build()));
}

TEST(ReadBmp, StreamEndingBeforeItsClaimedSizeFails) {
    const std::string bytes = Plain.Build();
    EXPECT_THROW(Decode(bytes.substr(0, bytes.size() - 10), 1 << 30,
                        static_cast<std::int64_t>(bytes.size())),
                 EInvalidGraphic);
}

// Rows longer than the reader's chunks are converted in pieces; every piece must land in place.
TEST(ReadBmp, RowsWiderThanOneChunkDecodeWhole) {
    constexpr int Width = 100000;
    std::string pixels;
    for (int x = 0; x < Width; ++x)
        pixels += Bytes({x % 251, x % 241, x % 239});
    const TDecoded wide = Decode(Direct(24, Width, 1, pixels).Build());
    ASSERT_EQ(wide.pixels.size(), std::size_t{Width});
    for (int x = 0; x < Width; ++x)
        ASSERT_EQ(wide.pixels[static_cast<std::size_t>(x)],
                  (Rgb{static_cast<std::uint8_t>(x % 239), static_cast<std::uint8_t>(x % 241),
                       static_cast<std::uint8_t>(x % 251)}))
            << "x " << x;

    constexpr int BitsWide = 1 << 20;
    std::string bits(BitsWide / 8, '\0');
    for (int x = 0; x < BitsWide; x += 3) {
        char& byte = bits[static_cast<std::size_t>(x / 8)];
        byte = static_cast<char>(byte | (0x80 >> (x % 8)));
    }
    const TDecoded oneBit = Decode(Indexed(1, BitsWide, 1, {P0, P1}, bits).Build());
    for (int x = 0; x < BitsWide; ++x)
        ASSERT_EQ(oneBit.pixels[static_cast<std::size_t>(x)], x % 3 == 0 ? C(P1) : C(P0))
            << "x " << x;
}

} // namespace
