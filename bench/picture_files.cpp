#include "bench/picture_files.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& cause) {
    throw std::runtime_error(path.string() + ": " + cause);
}

// libjpeg leaves a failing call through error_exit; the jump lands in the function that set it,
// which owns nothing with a destructor between the setjmp and the libjpeg calls.
struct TJpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<TJpegErrors*>(cinfo->err);
    errors->manager.format_message(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
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
    errors.manager.error_exit = ErrorExit;
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
    errors.manager.error_exit = ErrorExit;
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

TFileBytes ReadWholeFile(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        Fail(path, std::strerror(errno));
    struct stat status {};
    TFileBytes file;
    if (::fstat(descriptor, &status) == 0) {
        file.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(status.st_size));
        while (file.size < std::size_t(status.st_size)) {
            const ssize_t got = ::read(descriptor, file.bytes.get() + file.size,
                                       std::size_t(status.st_size) - file.size);
            if (got <= 0)
                break;
            file.size += std::size_t(got);
        }
    }
    ::close(descriptor);
    if (file.size != std::size_t(status.st_size))
        Fail(path, "short read");
    return file;
}

} // namespace bench
