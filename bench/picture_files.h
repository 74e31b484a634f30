#pragma once

// Pictures in memory and the bench's own JPEG and BMP files, written and read with libjpeg and
// plain file writes: the corpus and the reference must not depend on the code being measured.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace bench {

// 24-bit RGB, rows packed, top row first.
struct TPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    TPicture() = default;
    TPicture(int w, int h) : width(w), height(h), pixels(std::size_t(w) * std::size_t(h) * 3) {}
    std::uint8_t* Row(int y) { return pixels.data() + std::size_t(y) * std::size_t(width) * 3; }
    const std::uint8_t* Row(int y) const {
        return pixels.data() + std::size_t(y) * std::size_t(width) * 3;
    }
};

// Fills one row of RGB for row index y; rows are asked for in order, top first.
using TRowSource = std::function<void(int y, std::uint8_t* rgb)>;

// Baseline JPEG with 4:2:0 chroma, written a row at a time so that a 100-megapixel picture needs
// no more than a row of memory here.
void WriteJpeg(const std::filesystem::path& path, int width, int height, int quality,
               const TRowSource& rows);
// Decodes at 1/scaleDenominator (1, 2, 4 or 8) into RGB. Throws std::runtime_error on failure.
TPicture DecodeJpeg(const std::filesystem::path& path, int scaleDenominator = 1);

// 24-bit bottom-up BMP.
void WriteBmp(const std::filesystem::path& path, const TPicture& picture);

// An RLE8 bitmap of side by side pixels whose codes draw a few runs and skip the rest with deltas
// and the end-of-bitmap code: a file of about a kilobyte that declares a huge picture.
void WriteSparseRle8(const std::filesystem::path& path, int side);

// Reads the whole file with read(2) into the buffer that bufferFor gives for its size; returns the
// size. Throws std::runtime_error.
using TBufferFor = std::function<std::uint8_t*(std::size_t size)>;
std::size_t ReadFile(const std::filesystem::path& path, const TBufferFor& bufferFor);

// The whole file, read with read(2) into a fresh buffer that nothing has touched before.
struct TFileBytes {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
};
TFileBytes ReadWholeFile(const std::filesystem::path& path);

} // namespace bench
