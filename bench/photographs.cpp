#include "bench/photographs.h"

#include "bench/reference.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include <lcms2.h>

namespace fs = std::filesystem;

namespace bench {

namespace {

using TBytes = std::vector<std::uint8_t>;

struct TProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;

// Adobe RGB (1998) as its published definition gives it: D65 white, its primaries, gamma 563/256.
TProfile AdobeRgbProfile() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    TProfile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(gamma);
    if (!profile)
        throw std::runtime_error("LittleCMS cannot make the Adobe RGB profile");
    return profile;
}

TBytes ProfileBytes() {
    const TProfile profile = AdobeRgbProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile.get(), nullptr, &size);
    TBytes bytes(size);
    cmsSaveProfileToMem(profile.get(), bytes.data(), &size);
    return bytes;
}

void Segment(TBytes& out, std::uint8_t marker, const TBytes& payload) {
    const std::size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF)});
    out.insert(out.end(), payload.begin(), payload.end());
}

// The APP1 EXIF segment with Orientation 6, big-endian as many cameras write it, and the profile in
// one APP2 chunk.
TBytes Segments() {
    TBytes out;
    const TBytes exif = {'E',  'x',  'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                         0x01, 0x12, 0,   3,   0, 0, 0,   1,   0, 6,  0, 0, 0, 0, 0, 0};
    Segment(out, 0xE1, exif);
    TBytes icc = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
    const TBytes profile = ProfileBytes();
    icc.insert(icc.end(), profile.begin(), profile.end());
    Segment(out, 0xE2, icc);
    return out;
}

TBytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), {});
}

} // namespace

fs::path PreparePortraitAdobe(const fs::path& root, const fs::path& photosJpeg) {
    fs::path folder = root / "portrait-adobe";
    fs::create_directories(folder / "DATA");
    const TBytes segments = Segments();
    for (const auto& entry : fs::directory_iterator(photosJpeg / "DATA")) {
        const fs::path target = folder / "DATA" / entry.path().filename();
        if (fs::exists(target))
            continue;
        const TBytes original = ReadBytes(entry.path());
        if (original.size() < 2 || original[0] != 0xFF || original[1] != 0xD8)
            throw std::runtime_error(entry.path().string() + ": not a JPEG file");
        TBytes spliced(original.begin(), original.begin() + 2);
        spliced.insert(spliced.end(), segments.begin(), segments.end());
        spliced.insert(spliced.end(), original.begin() + 2, original.end());
        const fs::path partial = target.string() + ".partial";
        std::ofstream(partial, std::ios::binary)
            .write(reinterpret_cast<const char*>(spliced.data()), std::streamsize(spliced.size()));
        fs::rename(partial, target);
    }
    return folder;
}

TPicture PortraitAdobeReference(const fs::path& file, int width, int height) {
    TPicture stored = DecodeJpeg(file);
    const TProfile adobe = AdobeRgbProfile();
    const TProfile srgb(cmsCreate_sRGBProfile());
    cmsHTRANSFORM transform =
        cmsCreateTransform(adobe.get(), TYPE_RGB_8, srgb.get(), TYPE_RGB_8,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
    if (transform == nullptr)
        throw std::runtime_error("LittleCMS cannot convert Adobe RGB to sRGB");
    cmsDoTransform(transform, stored.pixels.data(), stored.pixels.data(),
                   cmsUInt32Number(stored.width) * cmsUInt32Number(stored.height));
    cmsDeleteTransform(transform);
    // A quarter clockwise: the stored left column becomes the top row.
    TPicture upright(stored.height, stored.width);
    for (int y = 0; y < upright.height; ++y)
        for (int x = 0; x < upright.width; ++x) {
            const std::uint8_t* from = stored.Row(stored.height - 1 - x) + std::size_t(y) * 3;
            std::copy(from, from + 3, upright.Row(y) + std::size_t(x) * 3);
        }
    return LanczosResize(upright, width, height);
}

} // namespace bench
