#include "bench/floors.h"

#include "bench/jpeg_errors.h"
#include "bench/picture_files.h"

#include <fcntl.h>
#include <unistd.h>

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

namespace {

// The file handed to libjpeg a chunk at a time through one reused buffer, as our loader reads it:
// cheaper than reading the whole file first, whose bytes would leave the processor's cache before
// libjpeg reached them.
constexpr std::size_t ChunkBytes = std::size_t{64} * 1024;
constexpr JOCTET EndOfImage[] = {0xFF, JPEG_EOI};

struct TChunkSource {
    jpeg_source_mgr manager; // first, so that libjpeg's pointer to it is one to the whole
    int file = -1;
    std::vector<JOCTET> chunk = std::vector<JOCTET>(ChunkBytes);
};

TChunkSource& SourceOf(j_decompress_ptr cinfo) {
    return *reinterpret_cast<TChunkSource*>(cinfo->src);
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    TChunkSource& source = SourceOf(cinfo);
    const ssize_t got = read(source.file, source.chunk.data(), source.chunk.size());
    if (got <= 0) {
        source.manager.next_input_byte = EndOfImage;
        source.manager.bytes_in_buffer = sizeof EndOfImage;
    } else {
        source.manager.next_input_byte = source.chunk.data();
        source.manager.bytes_in_buffer = static_cast<std::size_t>(got);
    }
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr& manager = SourceOf(cinfo).manager;
    if (count <= 0)
        return;
    while (count > static_cast<long>(manager.bytes_in_buffer)) {
        count -= static_cast<long>(manager.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    manager.next_input_byte += count;
    manager.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void NoSourceStep(j_decompress_ptr) {}

} // namespace

struct TJpegFloor::TState {
    TChunkSource source;
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
    jpeg_source_mgr& manager = m_state->source.manager;
    manager.init_source = NoSourceStep;
    manager.fill_input_buffer = FillInputBuffer;
    manager.skip_input_data = SkipInputData;
    manager.resync_to_restart = jpeg_resync_to_restart;
    manager.term_source = NoSourceStep;
    m_state->cinfo.src = &manager;
}

TJpegFloor::~TJpegFloor() {
    jpeg_destroy_decompress(&m_state->cinfo);
}

int TJpegFloor::Decode(const std::filesystem::path& path) {
    TState& state = *m_state;
    TChunkSource& source = state.source;
    source.file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source.file < 0)
        throw std::runtime_error(path.string() + ": cannot open");
    const std::unique_ptr<int, void (*)(int*)> closer(&source.file,
                                                      [](int* file) { close(*file); });
    source.manager.bytes_in_buffer = 0;
    jpeg_decompress_struct& cinfo = state.cinfo;
    if (setjmp(state.errors.jump) != 0) {
        jpeg_abort_decompress(&cinfo);
        throw std::runtime_error(path.string() + ": " + state.errors.message);
    }
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
