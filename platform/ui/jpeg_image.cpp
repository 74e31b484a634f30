#include "platform/ui/jpeg_image.h"

#include "platform/core/decode_control.h"
#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "platform/core/orientation.h"
#include "platform/core/photo_metadata.h"
#include "platform/core/thread_buffer.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/colour_transform_p.h"
#include "platform/ui/graphics.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

// JPEG pictures are decoded with libjpeg-turbo directly rather than through Qt's reader: a
// thumbnail wants the 1/2, 1/4 or 1/8 scale done in the DCT domain and its rows handed straight to
// the reduction, the picture's size refused before anything is allocated, and every failure turned
// into a clean error that names the file.

namespace {

// The compressed data is read from the file a chunk at a time as libjpeg asks for it; a file larger
// than this is no picture we accept, whatever it claims.
constexpr std::int64_t MaxFileBytes = 128LL * 1024 * 1024;
// Room for the whole of a small picture's file, and few reads for a large one's.
constexpr std::size_t ChunkBytes = std::size_t{64} * 1024;
// libjpeg's own working memory, chiefly the whole-image coefficient buffers of progressive files. A
// header that lies about its size then fails when its buffers are asked for, not after gigabytes.
constexpr long MaxDecoderMemory = 512L * 1024 * 1024;
// A picture may come in several scans, each a pass over the blocks of its components that refines
// some of their coefficients. A hostile file can repeat scans to no end: ten thousand empty scans
// kept a 12 MP decode busy for 10 s, and ninety copies of a refinement scan with its data for 5 s.
// Encoders write about ten scans, and a valid progression refines each coefficient in one first
// scan and at most one more per bit of its 14; a file that goes beyond either is refused, which
// keeps a decode's work within a small multiple of its picture's size.
constexpr int MaxScans = 100;
constexpr int MaxCoefficientScans = 14;
// Rows decoded before they are converted and reduced. libjpeg hands back one row group, one or two
// rows at the reduced scales, per call; going on to our own work after each group evicts what the
// decoder had in the cache (bench/README.md has the figures).
constexpr int RowsPerRead = 32;

constexpr const char* ChangedSinceLoaded = "the file has changed since it was loaded";
constexpr JOCTET EndOfImage[] = {0xFF, JPEG_EOI};

// libjpeg reports failures by calling error_exit, which must not return. It leaves through
// longjmp to RunGuarded, so neither that frame nor any frame skipped on the way (the Step
// functions below and libjpeg's own) may own anything with a destructor.
struct TJpegErrors {
    jpeg_error_mgr manager;
    // Progress comes here too: libjpeg calls it inside jpeg_start_decompress, where a progressive
    // picture spends most of its time, as well as between scanlines.
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    bool stopped;
    // The scans seen of this decode, and how many of them refined each coefficient of each
    // component.
    int scansSeen;
    std::uint8_t coefficientScans[MAX_COMPONENTS][DCTSIZE2];
    // Room for libjpeg's message and our words around it.
    char message[JMSG_LENGTH_MAX + 64];
};
static_assert(std::is_trivially_destructible_v<TJpegErrors>);

TJpegErrors& ErrorsOf(j_common_ptr cinfo) {
    return *static_cast<TJpegErrors*>(cinfo->client_data);
}

void ErrorExit(j_common_ptr cinfo) {
    TJpegErrors& errors = ErrorsOf(cinfo);
    errors.manager.format_message(cinfo, errors.message);
    std::longjmp(errors.jump, 1);
}

// Warnings are damage inside the compressed data (a restart marker out of place, a segment cut
// short, stray bytes): libjpeg resynchronises and goes on, and the picture it reconstructs is
// shown, as other viewers show such files. What a hostile file can cost is bounded by the scans
// and by the decode budget instead.
void IgnoreWarning(j_common_ptr, int) {}

// Leaves the decode with the message written into errors.
[[noreturn]] void Refuse(TJpegErrors& errors) {
    errors.manager.msg_code = 0;
    std::longjmp(errors.jump, 1);
}

// Counts the scan that libjpeg has begun to read, refusing one too many. Called inside libjpeg, so
// it leaves by longjmp and keeps nothing with a destructor.
void CountScan(j_decompress_ptr cinfo, TJpegErrors& errors) {
    errors.scansSeen = cinfo->input_scan_number;
    if (errors.scansSeen > MaxScans) {
        std::snprintf(errors.message, sizeof errors.message, "more than %d scans", MaxScans);
        Refuse(errors);
    }
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
        const int component = cinfo->cur_comp_info[i]->component_index;
        // A sequential scan's band is not checked by libjpeg, which reads only the whole block.
        const int first = std::clamp(cinfo->Ss, 0, DCTSIZE2 - 1);
        const int last = std::clamp(cinfo->Se, first, DCTSIZE2 - 1);
        for (int k = first; k <= last; ++k) {
            if (++errors.coefficientScans[component][k] <= MaxCoefficientScans)
                continue;
            std::snprintf(errors.message, sizeof errors.message,
                          "its scans refine coefficient %d of component %d more often than any "
                          "picture needs",
                          k, component);
            Refuse(errors);
        }
    }
}

// Leaves the decode as an error does once decodes are to stop; counts each scan as it begins.
void WatchProgress(j_common_ptr cinfo) {
    TJpegErrors& errors = ErrorsOf(cinfo);
    if (DecodesStopped()) {
        errors.stopped = true;
        std::longjmp(errors.jump, 1);
    }
    const auto decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && decompressor->input_scan_number != errors.scansSeen)
        CountScan(decompressor, errors);
}

// What libjpeg will allocate for a decode: whole-picture coefficient arrays when the picture comes
// in several scans (progressive files chiefly), else a row of blocks per component; and a margin
// for its row buffers. Read once the header has been, when libjpeg has sized each component.
std::int64_t DecoderBytes(j_decompress_ptr cinfo) {
    const bool wholePicture = jpeg_has_multiple_scans(cinfo) != 0;
    std::int64_t bytes = std::int64_t{1024} * 1024;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info& component = cinfo->comp_info[c];
        const auto roundUp = [](std::int64_t value, std::int64_t step) {
            return (value + step - 1) / step * step;
        };
        const std::int64_t across = roundUp(component.width_in_blocks, component.h_samp_factor);
        const std::int64_t down = wholePicture
                                      ? roundUp(component.height_in_blocks, component.v_samp_factor)
                                      : component.v_samp_factor;
        bytes += across * down * DCTSIZE2 * std::int64_t{sizeof(JCOEF)};
        // Sample rows for the inverse transform, the upsampling and the colour conversion.
        bytes += across * DCTSIZE * std::int64_t{cinfo->max_v_samp_factor} * DCTSIZE * 4;
    }
    return bytes;
}

using TStep = void (*)(j_decompress_ptr cinfo, void* context);

// Runs step; false when libjpeg failed, with its message in errors.message.
bool RunGuarded(j_decompress_ptr cinfo, TJpegErrors& errors, TStep step, void* context) {
    if (setjmp(errors.jump) != 0)
        return false;
    step(cinfo, context);
    return true;
}

// libjpeg's source of compressed data: the picture's file, read forward a chunk at a time.
struct TFileSource {
    jpeg_source_mgr manager; // first, so that libjpeg's pointer to it is one to the whole
    TFileStream* file;
    JOCTET* chunk;
    // Nothing has been read since the file was rewound.
    bool atStart;
};
static_assert(std::is_trivially_destructible_v<TFileSource>);

TFileSource& SourceOf(j_decompress_ptr cinfo) {
    return *reinterpret_cast<TFileSource*>(cinfo->src);
}

// The next chunk, or -1 with the reason in errors.message: no exception may cross libjpeg.
int ReadChunk(TFileSource& source, TJpegErrors& errors) noexcept {
    try {
        return source.file->Read(source.chunk, static_cast<int>(ChunkBytes));
    } catch (const std::exception& error) {
        std::snprintf(errors.message, sizeof errors.message, "%s", error.what());
        return -1;
    }
}

// A file that ends early ends in an end-of-image marker, as libjpeg's own sources make it: the
// picture is shown as far as its data goes.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    TFileSource& source = SourceOf(cinfo);
    TJpegErrors& errors = ErrorsOf(reinterpret_cast<j_common_ptr>(cinfo));
    const int got = ReadChunk(source, errors);
    if (got < 0)
        Refuse(errors);
    if (got == 0 && source.atStart)
        ERREXIT(cinfo, JERR_INPUT_EMPTY);
    source.atStart = false;
    if (got == 0) {
        source.manager.next_input_byte = EndOfImage;
        source.manager.bytes_in_buffer = sizeof EndOfImage;
        return TRUE;
    }
    source.manager.next_input_byte = source.chunk;
    source.manager.bytes_in_buffer = static_cast<std::size_t>(got);
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr& manager = SourceOf(cinfo).manager;
    while (count > static_cast<long>(manager.bytes_in_buffer)) {
        count -= static_cast<long>(manager.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    if (count > 0) {
        manager.next_input_byte += count;
        manager.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

void NoSourceStep(j_decompress_ptr) {}

void StepCreate(j_decompress_ptr cinfo, void*) {
    jpeg_CreateDecompress(cinfo, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
    cinfo->mem->max_memory_to_use = MaxDecoderMemory;
}

void StepReadHeader(j_decompress_ptr cinfo, void*) {
    // EXIF (orientation) and ICC profile segments; a segment is at most 65533 bytes.
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
}

struct TScaledSizes {
    std::array<int, 4> width;
    std::array<int, 4> height;
};

void StepCalcScaledSizes(j_decompress_ptr cinfo, void* context) {
    auto& sizes = *static_cast<TScaledSizes*>(context);
    for (int scale = jsFullSize; scale <= jsEighth; ++scale) {
        cinfo->scale_num = 1;
        cinfo->scale_denom = 1U << scale;
        jpeg_calc_output_dimensions(cinfo);
        sizes.width[scale] = static_cast<int>(cinfo->output_width);
        sizes.height[scale] = static_cast<int>(cinfo->output_height);
    }
}

struct TDecodeTarget {
    TRowSink* sink;
    // RowsPerRead rows of the output's width, written over and over: the rows go on to the sink as
    // they are decoded, and no more of the picture is kept.
    std::uint8_t* strip;
    std::ptrdiff_t stride;
    bool inks;
    bool invertedInks;
    // The picture's profile, or null. Its rows are converted as they are decoded, while they are
    // still in the cache and before they are reduced: averaging pixels before a conversion that
    // is not linear would shift the colours of fine detail.
    const TColourTransform* colour;
};

// c * k / 255, rounded, without a division.
inline std::uint8_t MultiplyInks(unsigned c, unsigned k) {
    const unsigned t = c * k + 128;
    return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

// Adobe's files store each ink inverted (255 is no ink), so a channel is simply the inverted ink
// times the inverted black; plain files are inverted first.
void InksToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, JDIMENSION width, bool inverted) {
    const unsigned flip = inverted ? 0 : 255;
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned k = cmyk[3] ^ flip;
        rgb[0] = MultiplyInks(cmyk[0] ^ flip, k);
        rgb[1] = MultiplyInks(cmyk[1] ^ flip, k);
        rgb[2] = MultiplyInks(cmyk[2] ^ flip, k);
    }
}

void StepDecode(j_decompress_ptr cinfo, void* context) {
    const auto& target = *static_cast<const TDecodeTarget*>(context);
    jpeg_start_decompress(cinfo);
    const int width = static_cast<int>(cinfo->output_width);
    JSAMPARRAY inkRows = nullptr;
    if (target.inks)
        inkRows = cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                           cinfo->output_width * 4, RowsPerRead);
    JSAMPROW rows[RowsPerRead];
    for (int i = 0; i < RowsPerRead; ++i)
        rows[i] = inkRows ? inkRows[i] : target.strip + i * target.stride;
    while (cinfo->output_scanline < cinfo->output_height) {
        WatchProgress(reinterpret_cast<j_common_ptr>(cinfo));
        int got = 0;
        while (got < RowsPerRead && cinfo->output_scanline < cinfo->output_height) {
            const auto more = static_cast<int>(
                jpeg_read_scanlines(cinfo, rows + got, static_cast<JDIMENSION>(RowsPerRead - got)));
            if (more == 0)
                break;
            got += more;
        }
        // Only a suspending source returns nothing; jpeg_finish_decompress then reports the
        // missing scanlines.
        if (got == 0)
            break;
        const TRgbRows decoded{target.strip, target.stride, width, got};
        for (int i = 0; inkRows && i < got; ++i) {
            if (target.colour != nullptr)
                target.colour->ConvertInks(inkRows[i], decoded.Row(i), width);
            else
                InksToRgb(inkRows[i], decoded.Row(i), cinfo->output_width, target.invertedInks);
        }
        if (target.colour != nullptr && !inkRows)
            target.colour->ConvertRows(decoded);
        for (int i = 0; i < got; ++i)
            target.sink->Pixels(width, decoded.Row(i));
    }
    jpeg_finish_decompress(cinfo);
}

} // namespace

struct TJPEGData {
    explicit TJPEGData(const AnsiString& name) : fileName(name) {}
    ~TJPEGData() {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    TJPEGData(const TJPEGData&) = delete;
    TJPEGData& operator=(const TJPEGData&) = delete;

    // Runs step on the decompressor, raising EInvalidGraphic with libjpeg's reason on failure,
    // EOutOfMemory when its memory ran out and EApplicationClosing when decodes were stopped.
    void Run(TStep step, void* context) {
        errors.stopped = false;
        errors.scansSeen = 0;
        std::memset(errors.coefficientScans, 0, sizeof errors.coefficientScans);
        bool done = false;
        try {
            done = RunGuarded(&cinfo, errors, step, context);
        } catch (...) {
            // A decode's receiver of rows raised: the decompressor starts afresh next time.
            Abort();
            throw;
        }
        if (done)
            return;
        Abort();
        if (errors.stopped)
            throw EApplicationClosing("The application is closing: the decode of " + fileName +
                                      " was stopped");
        const int code = errors.manager.msg_code;
        if (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE)
            throw EOutOfMemory("Cannot read picture " + fileName + ": out of memory (" +
                               errors.message + ")");
        Fail(errors.message);
    }
    void Abort() {
        if (created)
            jpeg_abort_decompress(&cinfo);
        headerRead = false;
    }
    // Decodes the picture at scale, handing its rows to sink.
    void Decode(TJPEGScale scale, TRowSink& sink);
    bool SameHeaderAsLoaded() const {
        return static_cast<int>(cinfo.image_width) == width &&
               static_cast<int>(cinfo.image_height) == height &&
               cinfo.num_components == components && cinfo.jpeg_color_space == space;
    }
    [[noreturn]] void Fail(const std::string& cause) const {
        throw EInvalidGraphic("Cannot read picture " + fileName + ": " + cause);
    }

    AnsiString fileName;
    // The file loaded, kept open: every decode reads this one, never another that has taken its
    // name since.
    std::unique_ptr<TFileStream> file;
    std::unique_ptr<JOCTET[]> chunk = std::make_unique_for_overwrite<JOCTET[]>(ChunkBytes);
    TFileSource source{};
    // What libjpeg will allocate for a decode, read from the header.
    std::int64_t decoderBytes = 0;
    TJpegErrors errors{};
    jpeg_decompress_struct cinfo{};
    bool created = false;
    // The decompressor stands just after the header, as a decode wants it; a decode leaves it at
    // the start again.
    bool headerRead = false;
    // As stored, before the orientation turns them.
    int width = 0;
    int height = 0;
    int components = 0;
    J_COLOR_SPACE space = JCS_UNKNOWN;
    TScaledSizes scaled{};
    int orientation = UprightOrientation;
    std::shared_ptr<const TColourTransform> colour;
};

namespace {

// Reads the header from the start of the file.
void ReadHeader(TJPEGData& data) {
    data.file->Rewind();
    data.source.manager.bytes_in_buffer = 0;
    data.source.atStart = true;
    data.Run(StepReadHeader, nullptr);
    data.headerRead = true;
}

bool StoresInks(J_COLOR_SPACE space) {
    return space == JCS_CMYK || space == JCS_YCCK;
}

TProfilePixels ProfilePixelsOf(const jpeg_decompress_struct& cinfo) {
    if (StoresInks(cinfo.jpeg_color_space))
        return cinfo.saw_Adobe_marker ? TProfilePixels::InvertedInks : TProfilePixels::Inks;
    return cinfo.jpeg_color_space == JCS_GRAYSCALE ? TProfilePixels::Grey : TProfilePixels::Rgb;
}

// The orientation and colour profile that the saved segments give; metadata that cannot be read
// leaves the picture as stored.
void ReadMetadata(TJPEGData& data) {
    std::vector<std::span<const std::uint8_t>> iccChunks;
    for (jpeg_saved_marker_ptr marker = data.cinfo.marker_list; marker; marker = marker->next) {
        const std::span<const std::uint8_t> payload(marker->data, marker->data_length);
        if (marker->marker == JPEG_APP0 + 2)
            iccChunks.push_back(payload);
        else if (data.orientation == UprightOrientation)
            data.orientation = ExifOrientation(payload);
    }
    data.colour = ColourTransformFor(AssembleIccProfile(iccChunks), ProfilePixelsOf(data.cinfo));
}

} // namespace

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::LoadFromFile(const AnsiString& fileName) {
    NamingOutOfMemory(fileName, [&] { Load(fileName); });
}

void TJPEGImage::Load(const AnsiString& fileName) {
    auto data = std::make_shared<TJPEGData>(fileName);
    data->file = std::make_unique<TFileStream>(fileName, fmOpenRead);
    const std::int64_t fileSize = data->file->Size();
    if (fileSize > MaxFileBytes)
        data->Fail("the file is " + std::to_string(fileSize) + " bytes, more than the " +
                   std::to_string(MaxFileBytes) + " a picture may take");
    jpeg_std_error(&data->errors.manager);
    data->errors.manager.error_exit = ErrorExit;
    data->errors.manager.emit_message = IgnoreWarning;
    data->cinfo.err = &data->errors.manager;
    data->cinfo.client_data = &data->errors;
    data->Run(StepCreate, nullptr);
    data->created = true;
    data->source = {{nullptr, 0, NoSourceStep, FillInputBuffer, SkipInputData,
                     jpeg_resync_to_restart, NoSourceStep},
                    data->file.get(),
                    data->chunk.get(),
                    true};
    data->cinfo.src = &data->source.manager;
    data->errors.progress.progress_monitor = WatchProgress;
    data->cinfo.progress = &data->errors.progress;

    ReadHeader(*data);
    data->width = static_cast<int>(data->cinfo.image_width);
    data->height = static_cast<int>(data->cinfo.image_height);
    data->components = data->cinfo.num_components;
    data->space = data->cinfo.jpeg_color_space;
    if (std::int64_t{data->width} * data->height > MaxPicturePixels)
        data->Fail("the picture is " + std::to_string(data->width) + " by " +
                   std::to_string(data->height) + " pixels, more than the " +
                   std::to_string(MaxPicturePixels) + " allowed");
    const J_COLOR_SPACE space = data->space;
    if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB && !StoresInks(space))
        data->Fail("unsupported colour space with " + std::to_string(data->cinfo.num_components) +
                   " components");
    data->Run(StepCalcScaledSizes, &data->scaled);
    ReadMetadata(*data);
    data->decoderBytes = DecoderBytes(&data->cinfo);
    m_data = std::move(data);
}

namespace {

bool Turned(const std::shared_ptr<TJPEGData>& data) {
    return data && SwapsAxes(data->orientation);
}

} // namespace

int TJPEGImage::Width() const {
    if (!m_data)
        return 0;
    return Turned(m_data) ? m_data->height : m_data->width;
}

int TJPEGImage::Height() const {
    if (!m_data)
        return 0;
    return Turned(m_data) ? m_data->width : m_data->height;
}

int TJPEGImage::ScaledWidth() const {
    if (!m_data)
        return 0;
    return Turned(m_data) ? m_data->scaled.height[m_scale] : m_data->scaled.width[m_scale];
}

int TJPEGImage::ScaledHeight() const {
    if (!m_data)
        return 0;
    return Turned(m_data) ? m_data->scaled.width[m_scale] : m_data->scaled.height[m_scale];
}

// The decode's working memory is reserved for it from its start to its end. The first decode goes
// on from the header that the load read; any later one reads the file from its start again. The
// rows go into buffers sized by the header read at the load, so a file written since then is
// refused, before its rows are decoded and after.
void TJPEGData::Decode(TJPEGScale scale, TRowSink& sink) {
    const int outputWidth = scaled.width[scale];
    const auto reservation = TDecodeBudget::Process().Reserve(
        decoderBytes + std::int64_t{outputWidth} * RowsPerRead * 3, fileName);
    if (!headerRead)
        ReadHeader(*this);
    headerRead = false;
    if (!SameHeaderAsLoaded() || file->Changed())
        Fail(ChangedSinceLoaded);

    const bool inks = StoresInks(cinfo.jpeg_color_space);
    cinfo.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1U << scale;

    thread_local TKeptBuffer<std::uint8_t> kept;
    const std::ptrdiff_t stride = std::ptrdiff_t{outputWidth} * 3;
    const TBorrowedBuffer<std::uint8_t> strip(kept, static_cast<std::size_t>(stride) * RowsPerRead);
    TDecodeTarget target{&sink,       strip.Data(), stride, inks, cinfo.saw_Adobe_marker != 0,
                         colour.get()};
    Run(StepDecode, &target);
    if (file->Changed())
        Fail(ChangedSinceLoaded);
}

namespace {

// A JPEG picture drawn into a bitmap: decoded at its scale whenever its rows are wanted, straight
// into what receives them, in sRGB. It shares the decompressor of the TJPEGImage it came from.
class TJpegPicture final : public TPictureDecoder {
public:
    TJpegPicture(std::shared_ptr<TJPEGData> data, TJPEGScale scale)
        : m_data(std::move(data)), m_scale(scale) {}

    int Width() const override { return m_data->scaled.width[m_scale]; }
    int Height() const override { return m_data->scaled.height[m_scale]; }
    TRowLayout Layout() const override { return {}; }
    // Converted as the rows are decoded, so there is none left to apply.
    const std::vector<std::uint8_t>& Profile() const override {
        static const std::vector<std::uint8_t> none;
        return none;
    }

    void Deliver(TRowSink& sink) override {
        try {
            m_data->Decode(m_scale, sink);
        } catch (const std::bad_alloc&) {
            NoMemory();
        }
    }

    void Cover(int width, int height) override {
        while (m_scale != jsFullSize && (Width() < width || Height() < height))
            m_scale = static_cast<TJPEGScale>(m_scale - 1);
    }

    [[noreturn]] void NoMemory() const override {
        throw EOutOfMemory("Cannot read picture " + m_data->fileName + ": out of memory for a " +
                           std::to_string(Width()) + " by " + std::to_string(Height()) +
                           " picture");
    }

private:
    std::shared_ptr<TJPEGData> m_data;
    TJPEGScale m_scale;
};

} // namespace

void TJPEGImage::DrawInto(TBitmap* bitmap) const {
    if (!m_data)
        throw EInvalidGraphic("Cannot draw a JPEG picture: none has been loaded");
    SetPicture(*bitmap, std::make_unique<TJpegPicture>(m_data, m_scale), m_data->orientation);
}
