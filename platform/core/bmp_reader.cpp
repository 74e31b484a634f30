// Our own BMP decoder rather than Qt 6.4's, which falls short where it was measured: it leaves 5-
// and 6-bit channels unscaled (white reads 248), decodes channels wider than 8 bits wrongly,
// reports a truncated file or a broken RLE stream as a success with uninitialised memory in its
// pixels, and its 128 MB limit refuses a valid 8000x8000 picture. Here every size and offset is
// checked against the file before it is read, nothing is allocated before the header has been
// checked, and every pixel of the result is defined.

#include "platform/core/bmp_reader.h"

#include "platform/core/decode_control.h"
#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "platform/core/thread_buffer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int FileHeaderSize = 14;
constexpr int CoreHeaderSize = 12;
constexpr int LargestInfoHeaderSize = 124;
// Large enough that a 12-megapixel picture takes a few hundred reads, small beside its pixels.
constexpr std::size_t ChunkBytes = std::size_t{256} * 1024;
// Enough for the headers and a whole palette in one read.
constexpr std::int64_t HeaderChunkBytes = 4096;
// Rows are converted in pieces of at most this many bytes, read or written, so that a very wide row
// never needs a buffer of its own.
constexpr std::size_t SegmentBytes = std::size_t{64} * 1024;

constexpr const char* InPixels = "the pixel data";

enum class TCompression { None, Rle8, Rle4, Rle24, BitFields };

using TColour = TRgb;

// Indices beyond the file's palette read as black, so that every index has a defined colour.
using TPalette = std::array<TColour, 256>;

struct TBmpFormat {
    std::int64_t pixelOffset = 0;
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitCount = 0;
    TCompression compression = TCompression::None;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue
    TPalette palette{};
    // Where in the file an embedded colour profile lies; -1 when there is none to read.
    std::int64_t profileOffset = -1;
    std::int64_t profileSize = 0;
};

std::uint16_t U16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t U32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::int32_t I32(const std::uint8_t* bytes) {
    return static_cast<std::int32_t>(U32(bytes));
}

// The file, read forward. The headers are read through a small buffer of the input's own, so that
// loading a picture reads little more than its headers; the pixels through a large one that the
// thread keeps from load to load (thread_buffer.h), lent for the time of one decode.
class TBmpInput {
public:
    TBmpInput(TStream& stream, const AnsiString& fileName)
        : m_stream(stream), m_fileName(fileName), m_size(std::max<std::int64_t>(stream.Size(), 0)),
          m_own(static_cast<std::size_t>(std::min<std::int64_t>(m_size, HeaderChunkBytes))) {
        m_buffer = m_own.data();
        m_capacity = m_own.size();
    }

    std::int64_t Size() const { return m_size; }
    std::int64_t Position() const { return m_position; }
    std::int64_t Remaining() const { return m_size - m_position; }

    [[noreturn]] void Fail(const std::string& cause) const {
        throw EInvalidGraphic("Cannot read picture " + m_fileName.str() + ": " + cause);
    }

    // From now on reads go through buffer, of capacity bytes, which must outlive the reads; the
    // bytes already read are moved into it.
    void UseBuffer(std::uint8_t* buffer, std::size_t capacity) {
        MovePending(buffer);
        m_end -= m_begin;
        m_begin = 0;
        m_buffer = buffer;
        m_capacity = capacity;
        m_own = {};
    }

    // The next count bytes, valid until the next call.
    const std::uint8_t* Take(std::size_t count, const char* where) {
        if (m_end - m_begin < count)
            Refill(count, where);
        const std::uint8_t* bytes = m_buffer + m_begin;
        m_begin += count;
        m_position += static_cast<std::int64_t>(count);
        return bytes;
    }

    void Skip(std::int64_t count, const char* where) {
        while (count > 0) {
            const auto step = static_cast<std::size_t>(
                std::min<std::int64_t>(count, static_cast<std::int64_t>(m_capacity)));
            Take(step, where);
            count -= static_cast<std::int64_t>(step);
        }
    }

private:
    // The bytes read and not yet taken, to the start of to; an empty file has no buffer at all.
    void MovePending(std::uint8_t* to) const {
        if (m_end > m_begin)
            std::memmove(to, m_buffer + m_begin, m_end - m_begin);
    }

    void Refill(std::size_t count, const char* where) {
        if (m_capacity < count) {
            // Only the headers' own buffer grows, for a palette larger than it.
            std::vector<std::uint8_t> larger(count);
            MovePending(larger.data());
            m_own = std::move(larger);
            m_buffer = m_own.data();
            m_capacity = m_own.size();
        } else {
            MovePending(m_buffer);
        }
        m_end -= m_begin;
        m_begin = 0;
        while (m_end < count) {
            // No more than the file holds, so that its last chunk is not followed by a read that
            // only finds its end; but at least what is needed, so that a file cut short is found.
            const auto room = static_cast<std::int64_t>(m_capacity - m_end);
            const std::int64_t unread = Remaining() - static_cast<std::int64_t>(m_end);
            const auto want = std::max(
                count - m_end, static_cast<std::size_t>(std::clamp<std::int64_t>(unread, 0, room)));
            const int got = m_stream.Read(m_buffer + m_end, static_cast<int>(want));
            if (got <= 0)
                Fail(std::string("file ends in ") + where);
            m_end += static_cast<std::size_t>(got);
        }
    }

    TStream& m_stream;
    AnsiString m_fileName;
    std::int64_t m_size = 0;
    std::int64_t m_position = 0;
    std::vector<std::uint8_t> m_own;
    std::uint8_t* m_buffer = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

enum class THeaderKind { Core, Os2, Windows };

THeaderKind HeaderKind(TBmpInput& input, std::uint32_t size) {
    if (size == CoreHeaderSize)
        return THeaderKind::Core;
    if (size == 40 || size == 52 || size == 56 || size == 108 || size == 124)
        return THeaderKind::Windows;
    // The OS/2 2.0 header may be cut short anywhere after its first four fields.
    if (size >= 16 && size <= 64 && size % 4 == 0)
        return THeaderKind::Os2;
    input.Fail("info header size " + std::to_string(size) + " is not valid");
}

TCompression CompressionOf(TBmpInput& input, THeaderKind kind, std::uint32_t code) {
    switch (code) {
    case 0:
        return TCompression::None;
    case 1:
        return TCompression::Rle8;
    case 2:
        return TCompression::Rle4;
    case 3:
        if (kind == THeaderKind::Os2)
            input.Fail("Huffman compression is not supported");
        return TCompression::BitFields;
    case 4:
        if (kind == THeaderKind::Os2)
            return TCompression::Rle24;
        input.Fail("embedded JPEG pictures are not supported");
    case 5:
        input.Fail("embedded PNG pictures are not supported");
    case 6:
        return TCompression::BitFields;
    default:
        input.Fail("unsupported compression " + std::to_string(code));
    }
}

void CheckBitCount(TBmpInput& input, const TBmpFormat& format) {
    const int bits = format.bitCount;
    const auto needs = [&](bool fits, const char* compression) {
        if (!fits)
            input.Fail(std::string(compression) + " compression with bit count " +
                       std::to_string(bits) + " is not valid");
    };
    switch (format.compression) {
    case TCompression::None:
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
            bits != 32)
            input.Fail("unsupported bit count " + std::to_string(bits));
        break;
    case TCompression::Rle8:
        needs(bits == 8, "RLE8");
        break;
    case TCompression::Rle4:
        needs(bits == 4, "RLE4");
        break;
    case TCompression::Rle24:
        needs(bits == 24, "RLE24");
        break;
    case TCompression::BitFields:
        needs(bits == 16 || bits == 32, "bit-field");
        break;
    }
}

void CheckSize(TBmpInput& input, std::int64_t width, std::int64_t height) {
    if (width <= 0)
        input.Fail("width " + std::to_string(width) + " is not valid");
    if (height <= 0)
        input.Fail("height " + std::to_string(height) + " is not valid");
    if (width * height > MaxPicturePixels)
        input.Fail("picture of " + std::to_string(width) + " by " + std::to_string(height) +
                   " pixels is too large");
}

// The info header as read, zero beyond its end so that the fields a short OS/2 header leaves out
// read as 0.
struct TInfoHeader {
    THeaderKind kind = THeaderKind::Windows;
    std::uint32_t size = 0;
    std::array<std::uint8_t, LargestInfoHeaderSize> bytes{};
    const std::uint8_t* At(int offset) const { return bytes.data() + offset; }
};

TInfoHeader ReadInfoHeader(TBmpInput& input) {
    TInfoHeader info;
    info.size = U32(input.Take(4, "the info header"));
    info.kind = HeaderKind(input, info.size);
    std::memcpy(info.bytes.data() + 4, input.Take(info.size - 4, "the info header"), info.size - 4);
    return info;
}

void ReadMasks(TBmpInput& input, TBmpFormat& format, const TInfoHeader& info) {
    if (format.compression != TCompression::BitFields) {
        if (format.bitCount == 16)
            format.masks = {0x7C00, 0x03E0, 0x001F};
        else
            format.masks = {0xFF0000, 0x00FF00, 0x0000FF};
        return;
    }
    const std::uint8_t* masks = info.At(40);
    if (info.size < 52) {
        // The masks follow a 40-byte header; the alpha one is there only for BI_ALPHABITFIELDS.
        const std::size_t count = U32(info.At(16)) == 6 ? 16 : 12;
        masks = input.Take(count, "the colour masks");
    }
    format.masks = {U32(masks), U32(masks + 4), U32(masks + 8)};
}

std::int64_t RowBytes(const TBmpFormat& format) {
    return (std::int64_t{format.width} * format.bitCount + 31) / 32 * 4;
}

std::int64_t RowDataBytes(const TBmpFormat& format) {
    return (std::int64_t{format.width} * format.bitCount + 7) / 8;
}

bool Uncompressed(const TBmpFormat& format) {
    return format.compression == TCompression::None ||
           format.compression == TCompression::BitFields;
}

// Whether an uncompressed picture's pixels fill the file exactly from offset on; the last row's
// padding is often left out.
bool PixelsFillFileFrom(const TBmpInput& input, const TBmpFormat& format, std::int64_t offset) {
    const std::int64_t left = input.Size() - offset;
    return Uncompressed(format) &&
           left >= RowBytes(format) * (format.height - 1) + RowDataBytes(format) &&
           left <= RowBytes(format) * format.height;
}

// How many palette entries the file declares, before any limit.
std::int64_t DeclaredColours(TBmpInput& input, const TBmpFormat& format, std::uint32_t coloursUsed,
                             int entryBytes) {
    if (coloursUsed > input.Remaining() / entryBytes)
        input.Fail("palette of " + std::to_string(coloursUsed) +
                   " colours does not fit in the file");
    if (coloursUsed != 0)
        return coloursUsed;
    return format.bitCount <= 8 ? (1 << format.bitCount) : 0;
}

// A pixel offset that cuts into the palette the header declares contradicts the header or the
// file. Some writers store fewer colours than they declare, and the offset then says where the
// pixels really are; but a file was found whose offset points at the start of its palette, with
// its pixels after the whole of it, ending the file. So where the pixels fill the file exactly
// from the palette's end and not from the offset, they are read from there; where they would
// leave a paletted picture no colour at all, every pixel would be black, and the offset is
// refused rather than shown as a black picture.
void CheckPixelOffset(TBmpInput& input, TBmpFormat& format, std::int64_t declared, int entryBytes) {
    const std::int64_t paletteStart = input.Position();
    const std::int64_t paletteEnd = paletteStart + declared * entryBytes;
    if (format.pixelOffset < paletteStart)
        input.Fail("pixel data offset " + std::to_string(format.pixelOffset) +
                   " lies inside the headers");
    if (format.pixelOffset > input.Size())
        input.Fail("file ends before the pixel data");
    if (format.pixelOffset >= paletteEnd)
        return;
    if (PixelsFillFileFrom(input, format, paletteEnd) &&
        !PixelsFillFileFrom(input, format, format.pixelOffset)) {
        format.pixelOffset = paletteEnd;
        return;
    }
    if (format.bitCount <= 8 && format.pixelOffset - paletteStart < entryBytes)
        input.Fail("pixel data offset " + std::to_string(format.pixelOffset) +
                   " is impossible: it leaves no room for the palette of " +
                   std::to_string(declared) + " colours");
}

void ReadPalette(TBmpInput& input, TBmpFormat& format, std::int64_t declared, int entryBytes) {
    CheckPixelOffset(input, format, declared, entryBytes);
    const std::int64_t paletteStart = input.Position();
    if (format.bitCount > 8)
        return;
    // A short palette ends where the pixels begin; entries past 2^bits can never be used.
    const std::int64_t count = std::min({declared, std::int64_t{1} << format.bitCount,
                                         (format.pixelOffset - paletteStart) / entryBytes});
    const std::uint8_t* entries =
        input.Take(static_cast<std::size_t>(count * entryBytes), "the palette");
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = entries + i * entryBytes;
        format.palette[static_cast<std::size_t>(i)] = {entry[2], entry[1], entry[0]};
    }
}

void ReadPictureFields(TBmpInput& input, const TInfoHeader& info, TBmpFormat& format) {
    const bool core = info.kind == THeaderKind::Core;
    const std::int64_t width = core ? U16(info.At(4)) : I32(info.At(4));
    const std::int64_t height = core ? U16(info.At(6)) : I32(info.At(8));
    format.bitCount = U16(info.At(core ? 10 : 14));
    format.compression = CompressionOf(input, info.kind, core ? 0 : U32(info.At(16)));
    CheckBitCount(input, format);
    format.topDown = height < 0;
    if (format.topDown && !Uncompressed(format))
        input.Fail("a top-down picture cannot be RLE compressed");
    CheckSize(input, width, format.topDown ? -height : height);
    format.width = static_cast<int>(width);
    format.height = static_cast<int>(format.topDown ? -height : height);
}

// Only a V5 header can embed a profile. A linked one names a file, which a picture must never make
// us open; sRGB and the Windows colour space need no conversion; and a profile that does not lie
// wholly inside the file is bad metadata, which costs the picture nothing: it is shown as stored.
void ReadColourSpace(TBmpInput& input, const TInfoHeader& info, TBmpFormat& format) {
    constexpr std::uint32_t ProfileEmbedded = 0x4D424544; // 'MBED'
    if (info.size != LargestInfoHeaderSize || U32(info.At(56)) != ProfileEmbedded)
        return;
    const std::int64_t offset = FileHeaderSize + std::int64_t{U32(info.At(112))};
    const std::int64_t size = U32(info.At(116));
    if (size == 0 || offset > input.Size() || size > input.Size() - offset)
        return;
    format.profileOffset = offset;
    format.profileSize = size;
}

void ReadProfile(TBmpInput& input, const TBmpFormat& format, std::vector<std::uint8_t>& profile) {
    input.Skip(format.profileOffset - input.Position(), "the gap before the colour profile");
    profile.resize(static_cast<std::size_t>(format.profileSize));
    for (std::size_t done = 0; done < profile.size();) {
        const std::size_t step = std::min(profile.size() - done, ChunkBytes);
        std::memcpy(profile.data() + done, input.Take(step, "the colour profile"), step);
        done += step;
    }
}

// A profile that lies between the headers and the pixels is read on the way to them, one after the
// pixels once they are delivered (TBmpPicture::Deliver); one anywhere else would need a step back
// and is passed over.
void SkipToPixels(TBmpInput& input, const TBmpFormat& format, std::vector<std::uint8_t>* profile) {
    if (profile != nullptr && format.profileOffset >= input.Position() &&
        format.profileOffset + format.profileSize <= format.pixelOffset)
        ReadProfile(input, format, *profile);
    input.Skip(format.pixelOffset - input.Position(), "the gap before the pixel data");
}

TBmpFormat ReadHeaders(TBmpInput& input, std::vector<std::uint8_t>* profile) {
    const std::uint8_t* fileHeader = input.Take(FileHeaderSize, "the file header");
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M')
        input.Fail("not a BMP file (no \"BM\" signature)");
    TBmpFormat format;
    format.pixelOffset = U32(fileHeader + 10);

    const TInfoHeader info = ReadInfoHeader(input);
    ReadPictureFields(input, info, format);
    ReadColourSpace(input, info, format);
    ReadMasks(input, format, info);
    const bool core = info.kind == THeaderKind::Core;
    const int entryBytes = core ? 3 : 4;
    const std::uint32_t coloursUsed = core ? 0 : U32(info.At(32));
    ReadPalette(input, format, DeclaredColours(input, format, coloursUsed, entryBytes), entryBytes);
    SkipToPixels(input, format, profile);
    return format;
}

void CheckPixelsFit(TBmpInput& input, const TBmpFormat& format) {
    if (input.Remaining() <= 0)
        input.Fail("file ends before the pixel data");
    if (!Uncompressed(format))
        return;
    // The last row's padding is often left out; it is never needed.
    const std::int64_t needed = RowBytes(format) * (format.height - 1) + RowDataBytes(format);
    if (needed > input.Remaining())
        input.Fail("file ends in the pixel data");
}

// One colour channel of a bit-field pixel, scaled to 8 bits with rounding.
class TChannel {
public:
    explicit TChannel(std::uint32_t mask)
        : m_mask(mask), m_shift(mask == 0 ? 0 : std::countr_zero(mask)), m_max(mask >> m_shift) {
        if (m_max != 0 && m_max <= 0xFFFF) {
            m_table.resize(m_max + 1);
            for (std::uint32_t value = 0; value <= m_max; ++value)
                m_table[value] = Scale(value);
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const {
        if (m_max == 0)
            return 0;
        const std::uint32_t value = (pixel & m_mask) >> m_shift;
        return m_table.empty() ? Scale(value) : m_table[value];
    }

    // The byte that holds the channel when it is exactly 8 bits on a byte boundary, else -1.
    int WholeByte() const { return m_max == 0xFF && m_shift % 8 == 0 ? m_shift / 8 : -1; }

private:
    std::uint8_t Scale(std::uint32_t value) const {
        return static_cast<std::uint8_t>((std::uint64_t{value} * 255 + m_max / 2) / m_max);
    }

    std::uint32_t m_mask;
    int m_shift;
    std::uint32_t m_max;
    std::vector<std::uint8_t> m_table;
};

// Converts count pixels starting at a byte boundary of a row in the file into RGB.
class TRowConverter {
public:
    explicit TRowConverter(const TBmpFormat& format)
        : m_format(format), m_red(format.masks[0]), m_green(format.masks[1]),
          m_blue(format.masks[2]) {}

    void operator()(const std::uint8_t* source, int count, std::uint8_t* destination) const {
        switch (m_format.bitCount) {
        case 1:
        case 2:
        case 4:
            Indexed(source, count, destination);
            break;
        case 8:
            for (int x = 0; x < count; ++x, destination += 3)
                Put(destination, m_format.palette[source[x]]);
            break;
        case 16:
            for (int x = 0; x < count; ++x, destination += 3, source += 2)
                Split(U16(source), destination);
            break;
        case 24:
            for (int x = 0; x < count; ++x, destination += 3, source += 3) {
                destination[0] = source[2];
                destination[1] = source[1];
                destination[2] = source[0];
            }
            break;
        default:
            ThirtyTwo(source, count, destination);
        }
    }

private:
    static void Put(std::uint8_t* destination, const TColour& colour) {
        destination[0] = colour.r;
        destination[1] = colour.g;
        destination[2] = colour.b;
    }

    void Split(std::uint32_t pixel, std::uint8_t* destination) const {
        destination[0] = m_red(pixel);
        destination[1] = m_green(pixel);
        destination[2] = m_blue(pixel);
    }

    // The leftmost pixel is in the high bits of each byte.
    void Indexed(const std::uint8_t* source, int count, std::uint8_t* destination) const {
        const int bits = m_format.bitCount;
        const int perByte = 8 / bits;
        const unsigned mask = (1U << bits) - 1;
        for (int x = 0; x < count; ++x, destination += 3) {
            const int shift = 8 - bits * (x % perByte + 1);
            Put(destination, m_format.palette[(source[x / perByte] >> shift) & mask]);
        }
    }

    void ThirtyTwo(const std::uint8_t* source, int count, std::uint8_t* destination) const {
        const int red = m_red.WholeByte();
        const int green = m_green.WholeByte();
        const int blue = m_blue.WholeByte();
        if (red >= 0 && green >= 0 && blue >= 0) {
            for (int x = 0; x < count; ++x, destination += 3, source += 4) {
                destination[0] = source[red];
                destination[1] = source[green];
                destination[2] = source[blue];
            }
            return;
        }
        for (int x = 0; x < count; ++x, destination += 3, source += 4)
            Split(U32(source), destination);
    }

    const TBmpFormat& m_format;
    TChannel m_red;
    TChannel m_green;
    TChannel m_blue;
};

// The pixels of a row are read and handed on in pieces of this many, a whole number of bytes in
// the file whatever the bit count, and at most SegmentBytes both in the file and converted.
int SegmentPixels(const TBmpFormat& format) {
    const std::size_t inFile = SegmentBytes * 8 / static_cast<std::size_t>(format.bitCount);
    return static_cast<int>(std::min(inFile, SegmentBytes / 3)) / 8 * 8;
}

// A 24-bit row is handed on as it is in the file, B, G, R; every other kind is converted.
bool PassesFileBytes(const TBmpFormat& format) {
    return format.compression == TCompression::None && format.bitCount == 24;
}

// The memory of a decode that the thread keeps: the file's chunks and a converted piece of a row.
struct TDecodeMemory {
    TKeptBuffer<std::uint8_t> chunk;
    TKeptBuffer<std::uint8_t> converted;
};

TDecodeMemory& ThreadDecodeMemory() {
    thread_local TDecodeMemory memory;
    return memory;
}

// Uncompressed and bit-field rows, in the file's order.
void DecodeRows(TBmpInput& input, const TBmpFormat& format, TRowSink& sink) {
    const TRowConverter convert(format);
    const int segmentPixels = SegmentPixels(format);
    const bool passOn = PassesFileBytes(format);
    const TBorrowedBuffer<std::uint8_t> converted(ThreadDecodeMemory().converted,
                                                  passOn ? 0 : SegmentBytes);
    const std::int64_t padding = RowBytes(format) - RowDataBytes(format);
    // The decoder's one loop over its rows, each read and handed on in pieces.
    for (int i = 0; i < format.height; ++i) {
        CheckDecodesGoOn();
        for (int x = 0; x < format.width; x += segmentPixels) {
            const int count = std::min(segmentPixels, format.width - x);
            const auto bytes =
                static_cast<std::size_t>((std::int64_t{count} * format.bitCount + 7) / 8);
            const std::uint8_t* pixels = input.Take(bytes, InPixels);
            if (!passOn) {
                convert(pixels, count, converted.Data());
                pixels = converted.Data();
            }
            sink.Pixels(count, pixels);
        }
        if (i + 1 < format.height)
            input.Skip(padding, InPixels);
    }
}

// Decodes RLE4, RLE8 and OS/2 RLE24, bottom row first. What the stream skips (by a delta, the end
// of a line or of the picture) has palette colour 0. Pixels that fall outside the picture are
// dropped: broken files aim runs past the end.
class TRleDecoder {
public:
    TRleDecoder(TBmpInput& input, const TBmpFormat& format, TRowSink& sink)
        : m_input(input), m_format(format), m_sink(sink) {}

    void Decode() {
        // The decoder's one loop, over the stream's codes; its rows end at the end-of-line and
        // delta codes.
        while (m_y < m_format.height) {
            const std::uint8_t* code = m_input.Take(2, InPixels);
            const int count = code[0];
            const int value = code[1];
            if (count > 0)
                Run(count, value);
            else if (value == 0)
                NextLine();
            else if (value == 1)
                break;
            else if (value == 2)
                Delta();
            else
                Literal(value);
        }
        if (m_y < m_format.height) {
            EndRow();
            SkipRows(m_format.height - m_y - 1);
        }
    }

private:
    TColour Skipped() const { return m_format.palette[0]; }

    // How many of count pixels from the current position still fall inside the row; what the
    // stream skipped before them is handed on first.
    int Start(int count) {
        const int inside = std::min(count, m_format.width - m_x);
        if (inside > 0 && m_x > m_done)
            m_sink.Solid(m_x - m_done, Skipped());
        return std::max(inside, 0);
    }

    void Done(int count) {
        m_x += count;
        m_done = m_x;
    }

    void Run(int count, int value) {
        TColour colour = m_format.palette[static_cast<std::size_t>(value)];
        if (m_format.compression == TCompression::Rle24) {
            const std::uint8_t* rest = m_input.Take(2, InPixels);
            colour = {rest[1], rest[0], static_cast<std::uint8_t>(value)};
        }
        const int inside = Start(count);
        if (inside == 0)
            return;
        const int high = value >> 4;
        const int low = value & 0x0F;
        if (m_format.compression == TCompression::Rle4 && high != low) {
            // Two colours in turn.
            for (int i = 0; i < inside; ++i)
                Put(i, m_format.palette[static_cast<std::size_t>(i % 2 == 0 ? high : low)]);
            m_sink.Pixels(inside, m_pixels.data());
        } else {
            m_sink.Solid(inside, m_format.compression == TCompression::Rle4
                                     ? m_format.palette[static_cast<std::size_t>(high)]
                                     : colour);
        }
        Done(inside);
    }

    void Literal(int count) {
        const int pixelBits = m_format.compression == TCompression::Rle4 ? 4 : m_format.bitCount;
        const auto bytes = static_cast<std::size_t>((count * pixelBits + 7) / 8);
        const std::uint8_t* data = m_input.Take(bytes + bytes % 2, InPixels);
        const int inside = Start(count);
        if (inside == 0)
            return;
        for (int i = 0; i < inside; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (m_format.compression == TCompression::Rle24)
                Put(i, {data[3 * at + 2], data[3 * at + 1], data[3 * at]});
            else if (m_format.compression == TCompression::Rle4)
                Put(i, m_format.palette[i % 2 == 0 ? data[at / 2] >> 4 : data[at / 2] & 0x0F]);
            else
                Put(i, m_format.palette[data[at]]);
        }
        m_sink.Pixels(inside, m_pixels.data());
        Done(inside);
    }

    void Put(int i, const TColour& colour) {
        std::uint8_t* pixel = m_pixels.data() + std::ptrdiff_t{i} * 3;
        pixel[0] = colour.r;
        pixel[1] = colour.g;
        pixel[2] = colour.b;
    }

    // The rest of the current row is what the stream skipped.
    void EndRow() {
        if (m_done < m_format.width)
            m_sink.Solid(m_format.width - m_done, Skipped());
    }

    void SkipRows(int count) {
        if (count > 0)
            m_sink.SolidRows(count, Skipped());
    }

    void NextLine() {
        CheckDecodesGoOn();
        EndRow();
        ++m_y;
        m_x = 0;
        m_done = 0;
    }

    // Positions are clamped so that a stream of deltas cannot overflow them.
    void Delta() {
        const std::uint8_t* move = m_input.Take(2, InPixels);
        const int x = std::min(m_x + move[0], m_format.width);
        const int y = std::min(m_y + move[1], m_format.height);
        if (y > m_y) {
            EndRow();
            SkipRows(y - m_y - 1);
            m_y = y;
            m_done = 0;
        }
        m_x = x;
    }

    TBmpInput& m_input;
    const TBmpFormat& m_format;
    TRowSink& m_sink;
    int m_x = 0;
    int m_y = 0;    // from the bottom row
    int m_done = 0; // pixels of the current row handed on
    // A run or literal of at most 255 pixels, converted.
    std::array<std::uint8_t, std::size_t{255} * 3> m_pixels{};
};

} // namespace

struct TBmpPicture::TState {
    TState(TStream& stream, const AnsiString& fileName) : input(stream, fileName) {}
    TBmpInput input;
    TBmpFormat format;
    std::vector<std::uint8_t> profile;
    bool delivered = false;
};

TBmpPicture::TBmpPicture(TStream& stream, const AnsiString& fileName)
    : m_state(std::make_unique<TState>(stream, fileName)) {
    m_state->format = ReadHeaders(m_state->input, &m_state->profile);
    CheckPixelsFit(m_state->input, m_state->format);
}

TBmpPicture::~TBmpPicture() = default;

int TBmpPicture::Width() const {
    return m_state->format.width;
}

int TBmpPicture::Height() const {
    return m_state->format.height;
}

TRowLayout TBmpPicture::Layout() const {
    const TBmpFormat& format = m_state->format;
    return {!format.topDown, PassesFileBytes(format)};
}

void TBmpPicture::Deliver(TRowSink& sink) {
    if (m_state->delivered)
        throw std::logic_error("a BMP picture's rows can be read once only");
    m_state->delivered = true;
    TBmpInput& input = m_state->input;
    const TBorrowedBuffer<std::uint8_t> chunk(ThreadDecodeMemory().chunk, ChunkBytes);
    input.UseBuffer(chunk.Data(), ChunkBytes);
    const TBmpFormat& format = m_state->format;
    if (Uncompressed(format))
        DecodeRows(input, format, sink);
    else
        TRleDecoder(input, format, sink).Decode();
    if (m_state->profile.empty() && format.profileOffset >= input.Position())
        ReadProfile(input, format, m_state->profile);
}

const std::vector<std::uint8_t>& TBmpPicture::Profile() const {
    return m_state->profile;
}
