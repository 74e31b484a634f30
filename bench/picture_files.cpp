#include "bench/picture_files.h"

#include "bench/jpeg_errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& cause) {
    throw std::runtime_error(path.string() + ": " + cause);
}

void PutU16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

} // namespace

void WriteJpeg(const std::filesystem::path& path, int width, int height, int quality,
               const TRowSource& rows) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        Fail(path, std::strerror(errno));
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    jpeg_compress_struct cinfo{};
    TJpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegErrorExit;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        std::fclose(file);
        Fail(path, errors.message);
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // 4:2:0, as cameras write: luma at full resolution, chroma at half on both axes.
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
    cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        rows(static_cast<int>(cinfo.next_scanline), row.data());
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(file) != 0)
        Fail(path, std::strerror(errno));
}

TPicture DecodeJpeg(const std::filesystem::path& path, int scaleDenominator) {
    const TFileBytes file = ReadWholeFile(path);
    TPicture picture;
    jpeg_decompress_struct cinfo{};
    TJpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegErrorExit;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        Fail(path, errors.message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.bytes.get(), static_cast<unsigned long>(file.size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(scaleDenominator);
    jpeg_start_decompress(&cinfo);
    picture = TPicture(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = picture.Row(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return picture;
}

void WriteBmp(const std::filesystem::path& path, const TPicture& picture) {
    const std::uint32_t rowBytes = (std::uint32_t(picture.width) * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = rowBytes * std::uint32_t(picture.height);
    std::vector<std::uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutU32(header, 54 + pixelBytes);
    PutU32(header, 0);
    PutU32(header, 54);
    PutU32(header, 40);
    PutU32(header, static_cast<std::uint32_t>(picture.width));
    PutU32(header, static_cast<std::uint32_t>(picture.height));
    PutU16(header, 1);
    PutU16(header, 24);
    for (int i = 0; i < 6; ++i)
        PutU32(header, 0);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    std::vector<std::uint8_t> row(rowBytes, 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        const std::uint8_t* rgb = picture.Row(y);
        for (int x = 0; x < picture.width; ++x) {
            row[std::size_t(x) * 3] = rgb[x * 3 + 2];
            row[std::size_t(x) * 3 + 1] = rgb[x * 3 + 1];
            row[std::size_t(x) * 3 + 2] = rgb[x * 3];
        }
        out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
    }
    if (!out.flush())
        Fail(path, "cannot write the file");
}

void WriteSparseRle8(const std::filesystem::path& path, int side) {
    constexpr int Colours = 16;
    constexpr int RunsPerBand = 6;
    // Band after band up the picture: a step right, a few runs of 255 pixels, the end of the line,
    // then a step up by 255 lines; the end-of-bitmap code leaves the rest. Every code is legal.
    std::vector<std::uint8_t> pixels;
    int band = 0;
    for (int y = 0; y + 256 < side; y += 256, ++band) {
        pixels.insert(pixels.end(), {0, 2, std::uint8_t(band * 37 % 200), 0});
        for (int run = 0; run < RunsPerBand; ++run)
            pixels.insert(pixels.end(), {255, std::uint8_t(1 + (band + run) % (Colours - 1))});
        pixels.insert(pixels.end(), {0, 0, 0, 2, 0, 255});
    }
    pixels.insert(pixels.end(), {0, 1});
    const std::uint32_t offset = 14 + 40 + Colours * 4;
    std::vector<std::uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutU32(header, offset + std::uint32_t(pixels.size()));
    PutU32(header, 0);
    PutU32(header, offset);
    PutU32(header, 40);
    PutU32(header, std::uint32_t(side));
    PutU32(header, std::uint32_t(side));
    PutU16(header, 1);
    PutU16(header, 8);
    PutU32(header, 1); // BI_RLE8
    PutU32(header, std::uint32_t(pixels.size()));
    PutU32(header, 2835);
    PutU32(header, 2835);
    PutU32(header, Colours);
    PutU32(header, 0);
    for (int i = 0; i < Colours; ++i)
        PutU32(header, std::uint32_t(i * 0x0F0F0F) ^ std::uint32_t(i % 3) << 20);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    if (!out.flush())
        Fail(path, "cannot write the file");
}

std::size_t ReadFile(const std::filesystem::path& path, const TBufferFor& bufferFor) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        Fail(path, std::strerror(errno));
    struct stat status {};
    std::size_t size = 0;
    bool complete = false;
    if (::fstat(descriptor, &status) == 0) {
        const auto wanted = std::size_t(status.st_size);
        std::uint8_t* buffer = bufferFor(wanted);
        while (size < wanted) {
            const ssize_t got = ::read(descriptor, buffer + size, wanted - size);
            if (got <= 0)
                break;
            size += std::size_t(got);
        }
        complete = size == wanted;
    }
    ::close(descriptor);
    if (!complete)
        Fail(path, "short read");
    return size;
}

TFileBytes ReadWholeFile(const std::filesystem::path& path) {
    TFileBytes file;
    file.size = ReadFile(path, [&](std::size_t size) {
        file.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        return file.bytes.get();
    });
    return file;
}

} // namespace bench
