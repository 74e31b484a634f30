#include "platform/ui/colour_transform_p.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
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

class TColourTransformData {
public:
    THandle transform;
    TProfilePixels pixels;
    // Told apart from every other transform made in the process, even one made where a deleted one
    // was: a thread's memo (TColourMemo) belongs to one transform.
    std::uint64_t serial = NextSerial();

private:
    static std::uint64_t NextSerial() {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
    }
};

namespace {

// Photographs repeat their colours: in the 1/8 decodes of camera photographs about two pixels in
// three have a colour that was met shortly before. LittleCMS takes about 10 ns to convert a pixel
// and a look-up a quarter of that, so each thread keeps a memo of the colours it last converted,
// for the last transform it used, and LittleCMS converts only the colours not found in it. The
// transforms keep no state, so a colour converts the same whether it is found or converted: the
// pixels are LittleCMS's to the bit.
//
// The pixels are taken in runs: every pixel of a run is given the colour its entry holds and the
// ones whose entry was another colour's are noted, with no branch that depends on the picture
// (hits and misses come unpredictably, and a mispredicted branch costs more than the look-up).
// LittleCMS then converts the noted ones in one call, and they replace their entries: the memo is
// written after the run, never while it is read.
class TColourMemo {
public:
    void Convert(const TColourTransformData& transform, std::uint8_t* pixels, int count) {
        if (m_owner != transform.serial) {
            m_entries.assign(Entries, Empty);
            m_owner = transform.serial;
        }
        const auto pixelCount = static_cast<std::size_t>(count);
        for (std::size_t start = 0; start < pixelCount; start += Run)
            ConvertRun(transform.transform.get(), pixels + start * 3,
                       std::min(Run, pixelCount - start));
    }

private:
    // 64 KB of entries: larger memos found more colours, but their slower look-ups cost more.
    static constexpr int SlotBits = 13;
    static constexpr std::size_t Entries = std::size_t{1} << SlotBits;
    static constexpr std::size_t Run = 256;
    // An entry: the colour in the low half, as Key makes it, and its conversion in the high half.
    // No colour has the key of an empty entry.
    static constexpr std::uint64_t Empty = 0xFFFFFFFF;

    static std::uint32_t Key(const std::uint8_t* pixel) {
        return pixel[0] | std::uint32_t{pixel[1]} << 8 | std::uint32_t{pixel[2]} << 16;
    }
    // Fibonacci hashing: neighbouring colours land far apart.
    static std::size_t Slot(std::uint32_t key) { return (key * 2654435761U) >> (32 - SlotBits); }

    void ConvertRun(void* transform, std::uint8_t* pixels, std::size_t count) {
        std::array<std::uint8_t, Run * 3> missed; // the colours not found, then their conversions
        std::array<std::uint32_t, Run> missedKeys;
        std::array<std::size_t, Run> missedAt;
        std::size_t misses = 0;
        // Held here: the pixels' bytes may alias anything, and the vector's would be read again.
        const std::uint64_t* entries = m_entries.data();
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* pixel = pixels + i * 3;
            const std::uint32_t key = Key(pixel);
            const std::uint64_t entry = entries[Slot(key)];
            const auto converted = static_cast<std::uint32_t>(entry >> 32);
            pixel[0] = static_cast<std::uint8_t>(converted);
            pixel[1] = static_cast<std::uint8_t>(converted >> 8);
            pixel[2] = static_cast<std::uint8_t>(converted >> 16);
            missedKeys[misses] = key;
            missedAt[misses] = i;
            misses += static_cast<std::size_t>(static_cast<std::uint32_t>(entry) != key);
        }
        if (misses == 0)
            return;
        for (std::size_t j = 0; j < misses; ++j) {
            missed[j * 3] = static_cast<std::uint8_t>(missedKeys[j]);
            missed[j * 3 + 1] = static_cast<std::uint8_t>(missedKeys[j] >> 8);
            missed[j * 3 + 2] = static_cast<std::uint8_t>(missedKeys[j] >> 16);
        }
        cmsDoTransform(transform, missed.data(), missed.data(),
                       static_cast<cmsUInt32Number>(misses));
        for (std::size_t j = 0; j < misses; ++j) {
            const std::uint8_t* converted = missed.data() + j * 3;
            std::memcpy(pixels + missedAt[j] * 3, converted, 3);
            m_entries[Slot(missedKeys[j])] = missedKeys[j] | std::uint64_t{Key(converted)} << 32;
        }
    }

    std::vector<std::uint64_t> m_entries;
    std::uint64_t m_owner = 0; // the serial of the transform the entries belong to; none is 0
};

} // namespace

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
        std::make_unique<TColourTransformData>(TColourTransformData{std::move(handle), pixels}));
}

} // namespace

TColourTransform::TColourTransform(std::unique_ptr<TColourTransformData> data)
    : m_data(std::move(data)) {}

TColourTransform::~TColourTransform() = default;

bool TColourTransform::TakesInks() const {
    return m_data->pixels == TProfilePixels::Inks || m_data->pixels == TProfilePixels::InvertedInks;
}

void TColourTransform::ConvertRows(const TRgbRows& rows) const {
    thread_local TColourMemo memo;
    for (int y = 0; y < rows.height; ++y)
        memo.Convert(*m_data, rows.Row(y), rows.width);
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
