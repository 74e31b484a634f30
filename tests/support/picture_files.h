#pragma once

// The picture files of the tests, written byte by byte (BMP) or with libjpeg (JPEG), so that no
// fixture depends on the code it tests.

#include "tests/support/test_support.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test {

using TPixelAt = std::function<Rgb(int x, int y)>;

// The fields of a BMP file; whatever is not set is what a plain writer puts. Build lays them out:
// the file header, the info header (the masks inside it from 52 bytes on, after it when it has
// 40), the palette, the pixels as given, and a V5 header's profile.
struct TBmpFile {
    std::string signature = "BM";
    // 12: the core header; 16 to 64: OS/2 2.0; 40, 52, 56, 108 or 124 (V5).
    std::uint32_t infoSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1; // negative for a top-down picture
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    std::vector<std::uint32_t> palette{}; // 0xRRGGBB
    std::vector<std::uint32_t> masks{};   // red, green, blue
    std::string pixels{};                 // as stored: padded rows, or an RLE stream
    std::optional<std::uint32_t> pixelOffset{};
    // A V5 header's colour space ("MBED" for an embedded profile, "LINK", "sRGB", "Win "; none
    // leaves the field 0), its profile's bytes, before the pixels or after them, and where the
    // header says the profile is, from the start of the info header.
    std::string colourSpace{};
    std::string profile{};
    bool profileBeforePixels = false;
    std::optional<std::uint32_t> profileOffset{};

    std::string Build() const;
    void Write(const std::filesystem::path& path) const;
};

// 24-bit rows as a BMP file stores them, bottom row first, each padded to four bytes.
std::string Rgb24Rows(int width, int height, const TPixelAt& pixel);

// A 24-bit bottom-up BMP whose pixel (x, y), counted from the top left, is pixel(x, y).
void WriteBmp(const std::filesystem::path& path, int width, int height, const TPixelAt& pixel);
void WriteBmp(const std::filesystem::path& path, int width, int height, Rgb colour);

// An application segment of a JPEG file: its marker (0xE0 + n for APPn) and what follows its
// length.
struct TJpegSegment {
    int marker;
    std::string payload;
};

struct TJpegOptions {
    int quality = 90;
    // Chroma at full resolution, so that a colour reaches the edge of its block.
    bool fullChroma = false;
    // Written after the JFIF header, in this order.
    std::vector<TJpegSegment> segments{};
    // Stored as these CMYK inks everywhere instead of the pixels: plainly, or inverted and marked
    // as Adobe's files store them.
    std::optional<std::array<std::uint8_t, 4>> inks{};
    bool adobe = false;
    // In the ten scans of a simple progression rather than one.
    bool progressive = false;
    // A restart marker after every so many MCUs; none when 0.
    unsigned restartInterval = 0;
};

// A JPEG file, written row by row.
void WriteJpeg(const std::filesystem::path& path, int width, int height, const TPixelAt& pixel,
               const TJpegOptions& options = {});
void WriteJpeg(const std::filesystem::path& path, int width, int height, Rgb colour);

// Where each scan of a JPEG file's bytes lies, from its start-of-scan marker to the next marker
// that is not a restart marker.
struct TJpegScan {
    std::size_t start;
    std::size_t end;
};
std::vector<TJpegScan> JpegScans(const std::string& bytes);
// Calls change with the index of each restart marker of the first scan and the byte that numbers
// it, as damage to a camera's file changes them.
std::string WithRestartMarkers(std::string bytes, const std::function<void(int, char&)>& change);

// An EXIF segment whose first IFD holds one entry: the Orientation, unless told otherwise.
struct TExif {
    unsigned value = 1;
    bool bigEndian = false;
    unsigned ifdOffset = 8;
    unsigned entryCount = 1;
    unsigned tag = 0x0112;
    unsigned nextIfd = 0;
    std::size_t cutTo = std::string::npos;
};
TJpegSegment ExifSegment(const TExif& exif);

// ICC profile segments: chunk sequence of count, and a whole profile in count chunks in order.
TJpegSegment IccSegment(int sequence, int count, const std::string& bytes);
std::vector<TJpegSegment> IccSegments(const std::string& profile, int count);

} // namespace test
