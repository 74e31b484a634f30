#include "platform/ui/colour_transform_p.h"

#include "platform/core/colour_memo.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct TProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;

struct TTransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using THandle = std::unique_ptr<void, TTransformDeleter>;

// Grey pictures reach the transform as RGB triples; it reads the first byte of each as the grey.
constexpr cmsUInt32Number GreyInRgb =
    COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2);

cmsUInt32Number InputFormat(TProfilePixels pixels) {
    switch (pixels) {
    case TProfilePixels::Grey:
        return GreyInRgb;
    case TProfilePixels::Inks:
        return TYPE_CMYK_8;
    case TProfilePixels::InvertedInks:
        return TYPE_CMYK_8_REV;
    default:
        return TYPE_RGB_8;
    }
}

cmsColorSpaceSignature SpaceOf(TProfilePixels pixels) {
    switch (pixels) {
    case TProfilePixels::Grey:
        return cmsSigGrayData;
    case TProfilePixels::Inks:
    case TProfilePixels::InvertedInks:
        return cmsSigCmykData;
    default:
        return cmsSigRgbData;
    }
}

// LittleCMS's own sRGB, made once; used only under the cache's lock.
cmsHPROFILE Srgb() {
    static const TProfile srgb(cmsCreate_sRGBProfile());
    return srgb.get();
}

bool Near(const cmsCIEXYZ& a, const cmsCIEXYZ& b) {
    constexpr double Tolerance = 0.002;
    return std::abs(a.X - b.X) < Tolerance && std::abs(a.Y - b.Y) < Tolerance &&
           std::abs(a.Z - b.Z) < Tolerance;
}

bool SameCurve(const cmsToneCurve* a, const cmsToneCurve* b) {
    constexpr int Points = 33;
    // Half a level of 8 bits: curves that differ by less give the same pixels.
    constexpr double Tolerance = 0.5 / 255;
    for (int i = 0; i < Points; ++i) {
        const auto x = static_cast<cmsFloat32Number>(i) / (Points - 1);
        if (std::abs(cmsEvalToneCurveFloat(a, x) - cmsEvalToneCurveFloat(b, x)) > Tolerance)
            return false;
    }
    return true;
}

// A profile whose primaries and tone curves are sRGB's, whatever its name or version, needs no
// conversion, and converting it anyway would move some pixels by a level. Comparing the matrix and
// the curves with those of LittleCMS's own sRGB is cheap, and it is done once per distinct profile.
bool IsSrgb(cmsHPROFILE profile) {
    if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile))
        return false;
    constexpr std::array<cmsTagSignature, 3> Colorants = {
        cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    constexpr std::array<cmsTagSignature, 3> Curves = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                                       cmsSigBlueTRCTag};
    for (std::size_t i = 0; i < Colorants.size(); ++i) {
        const auto* ours = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, Colorants[i]));
        const auto* theirs = static_cast<const cmsCIEXYZ*>(cmsReadTag(Srgb(), Colorants[i]));
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, Curves[i]));
        const auto* srgbCurve = static_cast<const cmsToneCurve*>(cmsReadTag(Srgb(), Curves[i]));
        if (ours == nullptr || theirs == nullptr || curve == nullptr || srgbCurve == nullptr ||
            !Near(*ours, *theirs) || !SameCurve(curve, srgbCurve))
            return false;
    }
    return true;
}

std::shared_ptr<const TColourTransform> MakeTransform(std::span<const std::uint8_t> bytes,
                                                      TProfilePixels pixels);

// Transforms made so far, newest last. A few entries cover a folder of photographs from a few
// cameras; the bound keeps hostile files from growing it, and huge profiles are not kept at all.
class TTransformCache {
public:
    std::shared_ptr<const TColourTransform> Find(std::span<const std::uint8_t> bytes,
                                                 TProfilePixels pixels) {
        // Transforms are made under the lock too: it happens once per profile, and the sRGB
        // profile that they all share is then used by one thread at a time.
        const std::lock_guard lock(m_mutex);
        for (const TEntry& entry : m_entries)
            if (entry.pixels == pixels && std::ranges::equal(entry.bytes, bytes))
                return entry.transform;
        std::shared_ptr<const TColourTransform> transform = MakeTransform(bytes, pixels);
        if (bytes.size() > MaxKeptProfileBytes)
            return transform;
        if (m_entries.size() == MaxEntries)
            m_entries.pop_front();
        m_entries.push_back({std::vector(bytes.begin(), bytes.end()), pixels, transform});
        return transform;
    }

private:
    static constexpr std::size_t MaxEntries = 16;
    static constexpr std::size_t MaxKeptProfileBytes = std::size_t{1} << 20;

    struct TEntry {
        std::vector<std::uint8_t> bytes;
        TProfilePixels pixels;
        std::shared_ptr<const TColourTransform> transform;
    };
    std::mutex m_mutex;
    std::deque<TEntry> m_entries;
};

} // namespace

// One profile's LittleCMS transform, converting through the thread's memo (colour_memo.h).
class TColourTransformData final : public TColourConversion {
public:
    TColourTransformData(THandle handle, TProfilePixels kind)
        : transform(std::move(handle)), pixels(kind) {}

    void Convert(std::uint8_t* colours, std::size_t count) const override {
        cmsDoTransform(transform.get(), colours, colours, static_cast<cmsUInt32Number>(count));
    }

    THandle transform;
    TProfilePixels pixels;
};

namespace {

std::shared_ptr<const TColourTransform> MakeTransform(std::span<const std::uint8_t> bytes,
                                                      TProfilePixels pixels) {
    const TProfile profile(
        cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != SpaceOf(pixels) || IsSrgb(profile.get()))
        return nullptr;
    // Without its one-pixel cache a transform keeps no state, so threads may share it.
    THandle handle(cmsCreateTransform(profile.get(), InputFormat(pixels), Srgb(), TYPE_RGB_8,
                                      INTENT_RELATIVE_COLORIMETRIC,
                                      cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE));
    if (!handle)
        return nullptr;
    return std::make_shared<const TColourTransform>(
        std::make_unique<TColourTransformData>(std::move(handle), pixels));
}

} // namespace

TColourTransform::TColourTransform(std::unique_ptr<TColourTransformData> data)
    : m_data(std::move(data)) {}

TColourTransform::~TColourTransform() = default;

bool TColourTransform::TakesInks() const {
    return m_data->pixels == TProfilePixels::Inks || m_data->pixels == TProfilePixels::InvertedInks;
}

void TColourTransform::ConvertRows(const TRgbRows& rows) const {
    for (int y = 0; y < rows.height; ++y)
        m_data->ConvertRemembering(rows.Row(y), static_cast<std::size_t>(rows.width));
}

void TColourTransform::ConvertInks(const std::uint8_t* cmyk, std::uint8_t* rgb, int count) const {
    cmsDoTransform(m_data->transform.get(), cmyk, rgb, static_cast<cmsUInt32Number>(count));
}

std::shared_ptr<const TColourTransform> ColourTransformFor(std::span<const std::uint8_t> profile,
                                                           TProfilePixels pixels) {
    if (profile.empty())
        return nullptr;
    static TTransformCache cache;
    return cache.Find(profile, pixels);
}
