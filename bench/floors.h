#pragma once

// The floors: the least work that showing a file's thumbnail allows, done the cheapest way. Every
// buffer is kept from file to file, as `cat` keeps its one buffer: a fresh one would add the first
// touch of its pages (about 11 microseconds each on these machines), which is our loaders' overhead
// to be measured, not the task's.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

struct jpeg_decompress_struct;

namespace bench {

// Reads whole files with read(2) into one buffer that only grows. One thread at a time.
class TReusedRead {
public:
    // The file's bytes, valid until the next Read. Throws std::runtime_error.
    const std::uint8_t* Read(const std::filesystem::path& path);
    std::size_t Size() const { return m_size; }

private:
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_size = 0;
};

// The smallest of the DCT scales 1/8, 1/4, 1/2 and 1 that still covers width by height on both
// axes, as our JPEG loader chooses it; its denominator.
int CoveringScale(int imageWidth, int imageHeight, int width, int height);

// libjpeg-turbo decoding each file at the DCT scale that covers the thumbnail, reading it in chunks
// through one reused buffer, with one decompressor and one strip of output rows kept from file to
// file: what any program must do to reduce a JPEG picture. One thread at a time.
class TJpegFloor {
public:
    TJpegFloor(int thumbWidth, int thumbHeight);
    ~TJpegFloor();
    TJpegFloor(const TJpegFloor&) = delete;
    TJpegFloor& operator=(const TJpegFloor&) = delete;

    // Decodes the file; returns the denominator of the scale used. Throws std::runtime_error.
    int Decode(const std::filesystem::path& path);

private:
    struct TState;
    std::unique_ptr<TState> m_state;
    int m_thumbWidth;
    int m_thumbHeight;
};

// The floor of a small picture of either kind: the JPEG decode above, or for a BMP the reused
// read, the file's rows being the pixels already.
class TSmallPictureFloor {
public:
    TSmallPictureFloor(int thumbWidth, int thumbHeight) : m_jpeg(thumbWidth, thumbHeight) {}
    void operator()(const std::filesystem::path& path);

private:
    TJpegFloor m_jpeg;
    TReusedRead m_read;
};

} // namespace bench
