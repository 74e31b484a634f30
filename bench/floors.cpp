#include "bench/floors.h"

#include "bench/jpeg_errors.h"
#include "bench/picture_files.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace bench {

const std::uint8_t* TReusedRead::Read(const std::filesystem::path& path) {
    m_size = ReadFile(path, [this](std::size_t size) {
        if (m_buffer.size() < size)
            m_buffer.resize(size);
        return m_buffer.data();
    });
    return m_buffer.data();
}

int CoveringScale(int imageWidth, int imageHeight, int width, int height) {
    // libjpeg rounds a scaled side up, as jpeg_calc_output_dimensions does.
    for (int denominator : {8, 4, 2})
        if ((imageWidth + denominator - 1) / denominator >= width &&
            (imageHeight + denominator - 1) / denominator >= height)
            return denominator;
    return 1;
}

struct TJpegFloor::TState {
    TReusedRead file;
    TJpegErrors errors{};
    jpeg_decompress_struct cinfo{};
    // One strip of rows, written over and over: the pixels are not kept.
    std::vector<std::uint8_t> rows;
};

TJpegFloor::TJpegFloor(int thumbWidth, int thumbHeight)
    : m_state(std::make_unique<TState>()), m_thumbWidth(thumbWidth), m_thumbHeight(thumbHeight) {
    m_state->cinfo.err = jpeg_std_error(&m_state->errors.manager);
    m_state->errors.manager.error_exit = JpegErrorExit;
    jpeg_create_decompress(&m_state->cinfo);
}

TJpegFloor::~TJpegFloor() {
    jpeg_destroy_decompress(&m_state->cinfo);
}

int TJpegFloor::Decode(const std::filesystem::path& path) {
    TState& state = *m_state;
    const std::uint8_t* bytes = state.file.Read(path);
    jpeg_decompress_struct& cinfo = state.cinfo;
    if (setjmp(state.errors.jump) != 0) {
        jpeg_abort_decompress(&cinfo);
        throw std::runtime_error(path.string() + ": " + state.errors.message);
    }
    jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(state.file.Size()));
    jpeg_read_header(&cinfo, TRUE);
    const int denominator =
        CoveringScale(int(cinfo.image_width), int(cinfo.image_height), m_thumbWidth, m_thumbHeight);
    // As our loader decodes: RGB, the accurate integer DCT.
    cinfo.out_color_space = JCS_EXT_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(denominator);
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * 3;
    const int strip = cinfo.rec_outbuf_height;
    if (state.rows.size() < stride * std::size_t(strip))
        state.rows.resize(stride * std::size_t(strip));
    JSAMPROW rows[16];
    for (int i = 0; i < strip && i < 16; ++i)
        rows[i] = state.rows.data() + std::size_t(i) * stride;
    while (cinfo.output_scanline < cinfo.output_height)
        if (jpeg_read_scanlines(&cinfo, rows, JDIMENSION(std::min(strip, 16))) == 0)
            break;
    jpeg_finish_decompress(&cinfo);
    return denominator;
}

void TSmallPictureFloor::operator()(const std::filesystem::path& path) {
    if (path.extension() == ".BMP")
        static_cast<void>(m_read.Read(path));
    else
        static_cast<void>(m_jpeg.Decode(path));
}

} // namespace bench
