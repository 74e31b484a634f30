#include "platform/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// For each destination pixel along one axis, the run of source pixels it is made of and their
// weights, which sum to 1. Runs never move backwards, and two neighbours share at most two source
// pixels, which lets the vertical pass keep only two filtered source rows.
struct TTaps {
    std::vector<int> first;
    std::vector<int> offset; // into weights; one more entry than there are destination pixels
    std::vector<float> weights;

    int Count(int index) const { return offset[index + 1] - offset[index]; }
    const float* Weights(int index) const { return weights.data() + offset[index]; }
};

// Each destination pixel is the average of the source span it covers, partly covered source pixels
// counting by the part covered.
TTaps AreaTaps(int sourceSize, int destinationSize) {
    TTaps taps;
    const double scale = static_cast<double>(sourceSize) / destinationSize;
    taps.offset.push_back(0);
    for (int d = 0; d < destinationSize; ++d) {
        const double begin = d * scale;
        const double end = std::min((d + 1) * scale, static_cast<double>(sourceSize));
        const int first = static_cast<int>(std::floor(begin));
        const int last = std::min(static_cast<int>(std::ceil(end)), sourceSize) - 1;
        taps.first.push_back(first);
        for (int s = first; s <= last; ++s) {
            const double covered = std::min(end, s + 1.0) - std::max(begin, static_cast<double>(s));
            taps.weights.push_back(static_cast<float>(covered / scale));
        }
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

TTaps MakeTaps(int sourceSize, int destinationSize) {
    if (destinationSize < sourceSize)
        return AreaTaps(sourceSize, destinationSize);
    return LinearTaps(sourceSize, destinationSize);
}

// Filters one source row horizontally into destination-width floats, three per pixel.
void FilterRow(const std::uint8_t* source, const TTaps& taps, int width, float* out) {
    for (int x = 0; x < width; ++x, out += 3) {
        const std::uint8_t* pixel = source + std::ptrdiff_t{taps.first[x]} * 3;
        const float* weights = taps.Weights(x);
        float r = 0;
        float g = 0;
        float b = 0;
        for (int k = 0, count = taps.Count(x); k < count; ++k, pixel += 3) {
            r += weights[k] * pixel[0];
            g += weights[k] * pixel[1];
            b += weights[k] * pixel[2];
        }
        out[0] = r;
        out[1] = g;
        out[2] = b;
    }
}

std::uint8_t RoundToByte(float value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Source rows filtered horizontally, each computed once and kept while a destination row may
// still need it.
class TFilteredRows {
public:
    TFilteredRows(const TConstRgbRows& source, int width)
        : m_source(source), m_width(width), m_taps(MakeTaps(source.width, width)) {
        for (auto& slot : m_slots)
            slot.values.resize(static_cast<std::size_t>(width) * 3);
    }

    const float* Row(int y) {
        TSlot& slot = m_slots[static_cast<std::size_t>(y % 2)];
        if (slot.y != y) {
            FilterRow(m_source.Row(y), m_taps, m_width, slot.values.data());
            slot.y = y;
        }
        return slot.values.data();
    }

private:
    struct TSlot {
        int y = -1;
        std::vector<float> values;
    };

    const TConstRgbRows& m_source;
    int m_width;
    TTaps m_taps;
    std::array<TSlot, 2> m_slots;
};

void CopyRows(const TConstRgbRows& source, const TRgbRows& destination) {
    for (int y = 0; y < source.height; ++y)
        std::memcpy(destination.Row(y), source.Row(y), static_cast<std::size_t>(source.width) * 3);
}

} // namespace

void StretchRgb(const TConstRgbRows& source, const TRgbRows& destination) {
    if (source.width <= 0 || source.height <= 0 || destination.width <= 0 ||
        destination.height <= 0)
        return;
    if (source.width == destination.width && source.height == destination.height) {
        CopyRows(source, destination);
        return;
    }
    const int width = destination.width;
    const TTaps vertical = MakeTaps(source.height, destination.height);
    TFilteredRows filtered(source, width);
    std::vector<float> sum(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < destination.height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0F);
        const float* weights = vertical.Weights(y);
        for (int k = 0, count = vertical.Count(y); k < count; ++k) {
            const float* row = filtered.Row(vertical.first[y] + k);
            for (std::size_t i = 0; i < sum.size(); ++i)
                sum[i] += weights[k] * row[i];
        }
        std::uint8_t* out = destination.Row(y);
        for (std::size_t i = 0; i < sum.size(); ++i)
            out[i] = RoundToByte(sum[i]);
    }
}
