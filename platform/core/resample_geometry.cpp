// The geometry of a reduction: for each axis, the boxes that source pixels are summed in and the
// Lanczos-3 taps that make the destination out of them, and the weights across in the forms that
// the kernels read.

#include "platform/core/resample_p.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

// Boxes as wide as the destination's pixels over this leave the thumbnail within a hair of
// Lanczos-3 on every source pixel, where wider ones lose detail that it shows; small pictures'
// rows are not summed in twos, for the same reason (bench/README.md has the figures).
constexpr double PreShrinkRatio = 2.5;
constexpr double LanczosLobes = 3;

double Lanczos3(double x) {
    x = std::abs(x);
    if (x < 1e-9)
        return 1;
    if (x >= LanczosLobes)
        return 0;
    const double pix = std::numbers::pi * x;
    return LanczosLobes * std::sin(pix) * std::sin(pix / LanczosLobes) / (pix * pix);
}

// The kernel tabulated once and interpolated linearly: a thumbnail needs thousands of weights, and
// the sines would cost a tenth of its time.
double LanczosWeight(double x) {
    constexpr int StepsPerUnit = 1024;
    constexpr int Entries = static_cast<int>(LanczosLobes) * StepsPerUnit + 2;
    static const std::vector<double> table = [] {
        std::vector<double> values(Entries);
        for (int i = 0; i < Entries; ++i)
            values[static_cast<std::size_t>(i)] = Lanczos3(static_cast<double>(i) / StepsPerUnit);
        return values;
    }();
    const double position = std::abs(x) * StepsPerUnit;
    if (position >= Entries - 2)
        return 0;
    const auto index = static_cast<std::size_t>(position);
    const double fraction = position - static_cast<double>(index);
    return table[index] + (table[index + 1] - table[index]) * fraction;
}

// Lanczos-3 over the box centres, its support widened by the reduction; a box counts by its
// pixels, and taps that would fall beyond the edge are left out, the others renormalised.
TTaps LanczosTaps(const TAxis& axis, int destinationSize) {
    TTaps taps;
    const double scale = static_cast<double>(axis.size) / destinationSize;
    const double support = LanczosLobes * scale;
    const int boxes = axis.Boxes();
    taps.offset.push_back(0);
    std::vector<double> weights;
    for (int d = 0; d < destinationSize; ++d) {
        const double centre = (d + 0.5) * scale - 0.5;
        const int low = std::max(0, static_cast<int>(std::floor((centre - support) / axis.box)));
        const int high =
            std::min(boxes - 1, static_cast<int>(std::ceil((centre + support) / axis.box)));
        weights.clear();
        int first = -1;
        double sum = 0;
        for (int j = low; j <= high; ++j) {
            const int length = axis.BoxLength(j);
            const double boxCentre = j * axis.box + (length - 1) / 2.0;
            const double weight = length * LanczosWeight((boxCentre - centre) / scale);
            if (weight == 0 && first < 0)
                continue;
            if (first < 0)
                first = j;
            weights.push_back(weight);
            sum += weight;
        }
        while (weights.size() > 1 && weights.back() == 0)
            weights.pop_back();
        taps.first.push_back(std::max(first, 0));
        for (std::size_t k = 0; k < weights.size(); ++k)
            taps.weights.push_back(
                static_cast<float>(weights[k] / sum / axis.BoxLength(first + static_cast<int>(k))));
        taps.offset.push_back(static_cast<int>(taps.weights.size()));
    }
    return taps;
}

// Linear interpolation between the two nearest source pixel centres, held at the edges.
TTaps LinearTaps(int sourceSize, int destinationSize) {
    TTaps taps;
    const double scale = static_cast<double>(sourceSize) / destinationSize;
    taps.offset.push_back(0);
    for (int d = 0; d < destinationSize; ++d) {
        const double centre =
            std::clamp((d + 0.5) * scale - 0.5, 0.0, static_cast<double>(sourceSize - 1));
        const int first = std::min(static_cast<int>(centre), sourceSize - 1);
        const double fraction = centre - first;
        taps.first.push_back(first);
        taps.weights.push_back(static_cast<float>(1.0 - fraction));
        if (first + 1 < sourceSize && fraction > 0.0)
            taps.weights.push_back(static_cast<float>(fraction));
        taps.offset.push_back(static_cast<int>(taps.weights.size()));
    }
    return taps;
}

TAxis MakeAxis(int sourceSize, int destinationSize) {
    TAxis axis;
    axis.size = sourceSize;
    if (destinationSize >= sourceSize) {
        axis.taps = LinearTaps(sourceSize, destinationSize);
        return axis;
    }
    axis.box = std::max(1, static_cast<int>(sourceSize / (destinationSize * PreShrinkRatio)));
    axis.taps = LanczosTaps(axis, destinationSize);
    return axis;
}

// The geometries of the last reductions, kept by each thread: a gallery's pictures come in few
// sizes, and making the taps again is a few percent of a small picture's time. Bounded in bytes;
// the one used longest ago goes first.
class TGeometryCache {
public:
    std::shared_ptr<const TGeometry> For(int width, int height, int destinationWidth,
                                         int destinationHeight) {
        const TKey key{width, height, destinationWidth, destinationHeight};
        ++m_clock;
        for (TEntry& entry : m_entries)
            if (entry.key == key) {
                entry.used = m_clock;
                return entry.geometry;
            }
        auto geometry =
            std::make_shared<const TGeometry>(width, height, destinationWidth, destinationHeight);
        const std::size_t bytes = geometry->Bytes();
        if (bytes > MaxBytes)
            return geometry;
        while (m_bytes + bytes > MaxBytes) {
            const auto oldest =
                std::min_element(m_entries.begin(), m_entries.end(),
                                 [](const TEntry& a, const TEntry& b) { return a.used < b.used; });
            m_bytes -= oldest->bytes;
            m_entries.erase(oldest);
        }
        m_entries.push_back({key, geometry, bytes, m_clock});
        m_bytes += bytes;
        return geometry;
    }

private:
    // A dozen sizes of small pictures, each about 40 KB.
    static constexpr std::size_t MaxBytes = std::size_t{1024} * 1024;

    struct TKey {
        int width;
        int height;
        int destinationWidth;
        int destinationHeight;
        bool operator==(const TKey&) const = default;
    };
    struct TEntry {
        TKey key;
        std::shared_ptr<const TGeometry> geometry;
        std::size_t bytes;
        std::uint64_t used;
    };
    std::vector<TEntry> m_entries;
    std::size_t m_bytes = 0;
    std::uint64_t m_clock = 0;
};

} // namespace

TGeometry::TGeometry(int width, int height, int destinationWidth, int destinationHeight)
    : across(MakeAxis(width, destinationWidth)), down(MakeAxis(height, destinationHeight)) {
    pairsEach = (across.taps.MostCount() + 3) / 4 * 2;
    integer = across.box <= 2 && down.box == 1 && IntegerFilterOffered();
    if (integer) {
        MakeIntegerWeights();
        return;
    }
    pairs.reserve(static_cast<std::size_t>(pairsEach) * static_cast<std::size_t>(destinationWidth));
    for (int x = 0; x < destinationWidth; ++x) {
        const int count = across.taps.Count(x);
        const float* weights = across.taps.Weights(x);
        for (int k = 0; k < 2 * pairsEach; k += 2) {
            const float one = k < count ? weights[k] : 0.0F;
            const float two = k + 1 < count ? weights[k + 1] : 0.0F;
            pairs.push_back(TPixelPair{one, one, one, one, two, two, two, two});
        }
    }
}

void TGeometry::MakeIntegerWeights() {
    const int destinationWidth = static_cast<int>(across.taps.first.size());
    float largest = 0;
    for (const float weight : across.taps.weights)
        largest = std::max(largest, std::abs(weight));
    // The sums are at most 510 and there are at most a few dozen taps, so that a sum of
    // products of a 15-bit weight stays far inside 32 bits.
    const int shift =
        largest > 0 ? std::min(30, static_cast<int>(std::floor(std::log2(32767 / largest)))) : 0;
    const double factor = std::ldexp(1.0, shift);
    for (int x = 0; x < destinationWidth; ++x) {
        const int first = across.taps.first[static_cast<std::size_t>(x)];
        integerStarts.push_back((first % 2 == 0 ? 0 : PairsOfEachParity()) + first / 2);
        const int count = across.taps.Count(x);
        const float* weights = across.taps.Weights(x);
        auto weight = [&](int k) {
            return static_cast<std::int16_t>(k < count ? std::lround(weights[k] * factor) : 0);
        };
        for (int k = 0; k < 2 * pairsEach; k += 2)
            for (int lane = 0; lane < 4; ++lane) {
                integerWeights.push_back(weight(k));
                integerWeights.push_back(weight(k + 1));
            }
    }
    for (float& weight : down.taps.weights)
        weight = static_cast<float>(weight / factor);
}

bool TGeometry::IntegerFilterOffered() {
    return Kernels().integerFilterAcross != nullptr;
}

std::shared_ptr<const TGeometry> GeometryFor(int width, int height, int destinationWidth,
                                             int destinationHeight) {
    thread_local TGeometryCache cache;
    return cache.For(width, height, destinationWidth, destinationHeight);
}
