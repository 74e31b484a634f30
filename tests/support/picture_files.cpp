#include "tests/support/picture_files.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <jpeglib.h>

namespace test {

namespace fs = std::filesystem;

std::string TBmpFile::Build() const {
    std::string info;
    Append(info, infoSize, 4);
    if (infoSize == 12) {
        Append(info, static_cast<std::uint32_t>(width), 2);
        Append(info, static_cast<std::uint32_t>(height), 2);
        Append(info, 1, 2);
        Append(info, bitCount, 2);
    } else {
        for (const std::int32_t side : {width, height})
            Append(info, static_cast<std::uint32_t>(side), 4);
        Append(info, 1, 2);
        Append(info, bitCount, 2);
        for (const std::uint32_t field : {compression, static_cast<std::uint32_t>(pixels.size()),
                                          2835U, 2835U, coloursUsed, 0U})
            Append(info, field, 4);
        for (std::size_t i = 0; infoSize >= 52 && i < masks.size(); ++i)
            Append(info, masks[i], 4);
        info.resize(infoSize, '\0');
        for (std::size_t i = 0; infoSize == 40 && i < masks.size(); ++i)
            Append(info, masks[i], 4);
    }
    for (const std::uint32_t colour : palette)
        Append(info, colour, infoSize == 12 ? 3 : 4);
    const std::size_t pixelsAt = 14 + info.size() + (profileBeforePixels ? profile.size() : 0);
    if (infoSize == 124) {
        // Stored as a number whose bytes, most significant first, are the four letters.
        std::string space(colourSpace.rbegin(), colourSpace.rend());
        space.resize(4, '\0');
        info.replace(56, 4, colourSpace.empty() ? std::string(4, '\0') : space);
        std::string where;
        Append(where,
               profileOffset.value_or(static_cast<std::uint32_t>(
                   profileBeforePixels ? info.size() : pixelsAt - 14 + pixels.size())),
               4);
        Append(where, static_cast<std::uint32_t>(profile.size()), 4);
        info.replace(112, 8, where);
    }
    std::string file = signature;
    Append(file, static_cast<std::uint32_t>(14 + info.size() + pixels.size() + profile.size()), 4);
    Append(file, 0, 4);
    Append(file, pixelOffset.value_or(static_cast<std::uint32_t>(pixelsAt)), 4);
    file += info;
    if (profileBeforePixels)
        return file + profile + pixels;
    return file + pixels + profile;
}

void TBmpFile::Write(const fs::path& path) const {
    WriteFile(path, Build());
}

std::string Rgb24Rows(int width, int height, const TPixelAt& pixel) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    std::string rows;
    rows.reserve(rowBytes * static_cast<std::size_t>(height));
    for (int y = height - 1; y >= 0; --y) {
        const std::size_t start = rows.size();
        for (int x = 0; x < width; ++x) {
            const Rgb colour = pixel(x, y);
            rows += {static_cast<char>(colour.b), static_cast<char>(colour.g),
                     static_cast<char>(colour.r)};
        }
        rows.resize(start + rowBytes, '\0');
    }
    return rows;
}

void WriteBmp(const fs::path& path, int width, int height, const TPixelAt& pixel) {
    TBmpFile{.width = width, .height = height, .pixels = Rgb24Rows(width, height, pixel)}.Write(
        path);
}

void WriteBmp(const fs::path& path, int width, int height, Rgb colour) {
    WriteBmp(path, width, height, [colour](int, int) { return colour; });
}

void WriteJpeg(const fs::path& path, int width, int height, const TPixelAt& pixel,
               const TJpegOptions& options) {
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path.string());
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    jpeg_stdio_dest(&cinfo, file.get());
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    const int components = options.inks ? 4 : 3;
    cinfo.input_components = components;
    cinfo.in_color_space = options.inks ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    cinfo.write_Adobe_marker = options.adobe ? TRUE : FALSE;
    for (int i = 0; options.fullChroma && i < cinfo.num_components; ++i)
        cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    if (options.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_interval = options.restartInterval;
    jpeg_start_compress(&cinfo, TRUE);
    for (const TJpegSegment& segment : options.segments)
        jpeg_write_marker(&cinfo, segment.marker,
                          reinterpret_cast<const JOCTET*>(segment.payload.data()),
                          static_cast<unsigned>(segment.payload.size()));
    std::vector<JSAMPLE> line(static_cast<std::size_t>(width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            JSAMPLE* sample = line.data() + static_cast<std::ptrdiff_t>(x) * components;
            if (options.inks) {
                for (int c = 0; c < 4; ++c)
                    sample[c] = static_cast<JSAMPLE>(options.adobe ? 255 - (*options.inks)[c]
                                                                   : (*options.inks)[c]);
                continue;
            }
            const Rgb colour = pixel(x, y);
            sample[0] = colour.r;
            sample[1] = colour.g;
            sample[2] = colour.b;
        }
        JSAMPROW rows[] = {line.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
}

void WriteJpeg(const fs::path& path, int width, int height, Rgb colour) {
    WriteJpeg(path, width, height, [colour](int, int) { return colour; });
}

TJpegSegment ExifSegment(const TExif& exif) {
    std::string bytes("Exif\0\0", 6);
    bytes += exif.bigEndian ? "MM" : "II";
    const auto put = [&](unsigned value, int size) {
        Append(bytes, value, size, exif.bigEndian);
    };
    put(42, 2);
    put(exif.ifdOffset, 4);
    put(exif.entryCount, 2);
    put(exif.tag, 2);
    put(3, 2); // SHORT
    put(1, 4);
    put(exif.value, 2);
    put(0, 2);
    put(exif.nextIfd, 4);
    return {0xE1, bytes.substr(0, exif.cutTo)};
}

TJpegSegment IccSegment(int sequence, int count, const std::string& bytes) {
    std::string payload("ICC_PROFILE\0", 12);
    payload += static_cast<char>(sequence);
    payload += static_cast<char>(count);
    return {0xE2, payload + bytes};
}

std::vector<TJpegSegment> IccSegments(const std::string& profile, int count) {
    std::vector<TJpegSegment> chunks;
    const std::size_t step = (profile.size() + count - 1) / count;
    for (int i = 0; i < count; ++i)
        chunks.push_back(IccSegment(i + 1, count, profile.substr(i * step, step)));
    return chunks;
}

std::vector<TJpegScan> JpegScans(const std::string& bytes) {
    const auto at = [&](std::size_t i) {
        return static_cast<std::uint8_t>(bytes[i]);
    };
    std::vector<TJpegScan> scans;
    for (std::size_t i = 2; i + 4 <= bytes.size() && at(i + 1) != 0xD9;) {
        const std::size_t length = at(i + 2) << 8 | at(i + 3);
        if (at(i + 1) != 0xDA) {
            i += 2 + length;
            continue;
        }
        std::size_t end = i + 2 + length;
        while (end + 1 < bytes.size() &&
               !(at(end) == 0xFF && at(end + 1) != 0 && (at(end + 1) & 0xF8) != 0xD0))
            ++end;
        scans.push_back({i, end});
        i = end;
    }
    return scans;
}

std::string WithRestartMarkers(std::string bytes, const std::function<void(int, char&)>& change) {
    const TJpegScan scan = JpegScans(bytes).front();
    int marker = 0;
    for (std::size_t i = scan.start + 2; i + 1 < scan.end; ++i) {
        if (bytes[i] == '\xFF' && (static_cast<std::uint8_t>(bytes[i + 1]) & 0xF8) == 0xD0)
            change(marker++, bytes[i + 1]);
    }
    return bytes;
}

} // namespace test
