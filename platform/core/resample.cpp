#include "platform/core/resample.h"

#include "platform/core/thread_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <utility>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#define OMBREL_AVX2_KERNELS
#include <immintrin.h>
#endif

// A reduction is done in two steps. Whole source pixels are first summed in boxes, down to about
// PreShrinkRatio times the destination's size on each axis: plain integer sums that read each
// source byte once. The box sums are then filtered with Lanczos-3 widened by the reduction, which
// keeps the detail that a thumbnail can show and drops the rest, where averaging alone would blur
// the one and alias the other. The boxes are narrow beside the filter, so the result is within a
// hair of filtering every source pixel, at a fraction of the work.
//
// Most of a small picture's time is the filter across, each box row's boxes into a row of the
// destination's width: about 20 taps per destination pixel for a 640 x 480 picture, for each of
// its 480 rows. Its loops are shaped for vector units, in two forms.
// - Where every box row is one row and every box at most two pixels, as in all small pictures and
//   in the 1/8 decodes of 12-megapixel JPEG files, and the processor has AVX2 (chosen when the
//   program starts), box sums are 16-bit integers made straight from the row's bytes by shuffles,
//   and filtered with 16-bit weights, four taps of a pixel in one multiply-add
//   (WholeRowPairsAvx2, IntegerFilterAcrossAvx2).
// - Elsewhere a pixel is four floats (its three channels and a spare lane), each tap's weight is
//   stored spread over four lanes, and the taps are taken in pairs: a pair is one multiply and one
//   add with 256-bit vectors (AVX2), two with 128-bit ones (the portable code).
// Within a reduction one form is used throughout, whichever way its rows come, so that the result
// is the same to the bit; the forms differ from each other in the last bits of a few pixels.

namespace {

// Measured on camera photographs: at 2.5 every 12-megapixel thumbnail stays above 47 dB against
// Lanczos-3 on every source pixel; at 2 some fall under 44 dB.
constexpr double PreShrinkRatio = 2.5;
constexpr double LanczosLobes = 3;

// A pixel's channels and a spare lane; two of them side by side.
using TPixel = float __attribute__((vector_size(16)));
using TPixelPair = float __attribute__((vector_size(32)));
// A pixel's channel sums, and its spare lane.
using TSums = std::uint32_t __attribute__((vector_size(16)));
using TInts = std::int32_t __attribute__((vector_size(16)));

template <class T> T LoadUnaligned(const void* from) {
    T value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

// For each destination pixel along one axis, the run of inputs (boxes, or source pixels) it is
// made of and the weight of each source pixel in them: a box's weight divided by its pixels, so
// that box sums need no division. The weights of a destination pixel sum to 1 over its pixels.
// Runs never move backwards.
struct TTaps {
    std::vector<int> first;
    std::vector<int> offset; // into weights; one more entry than there are destination pixels
    std::vector<float> weights;

    int Count(int index) const { return offset[index + 1] - offset[index]; }
    const float* Weights(int index) const { return weights.data() + offset[index]; }
    int MostCount() const {
        int most = 0;
        for (std::size_t i = 0; i + 1 < offset.size(); ++i)
            most = std::max(most, offset[i + 1] - offset[i]);
        return most;
    }
};

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

// One axis of the picture: source pixels grouped in boxes of box pixels (the last one may be
// short), and the taps that make the destination out of the box sums.
struct TAxis {
    int size = 0;
    int box = 1;
    TTaps taps;

    int Boxes() const { return (size + box - 1) / box; }
    int BoxLength(int j) const { return std::min(box, size - j * box); }
};

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

// Everything a reduction of one size to another needs before its first row: both axes, and the
// weights across as the filter reads them, each spread over a pixel's four lanes. Every
// destination pixel gets the same number of taps, its own padded with zero weights, taken in
// pairs and the pairs two by two (see FilterAcrossBody): a loop that always runs as many times is
// one the processor predicts, where taps counted pixel by pixel cost a mispredicted branch each.
struct TGeometry {
    TAxis across;
    TAxis down;
    int pairsEach = 0; // pairs of taps per destination pixel, even
    std::vector<TPixelPair> pairs;
    // Where every box row is a single row and every box at most two pixels, as in all small
    // pictures, and the processor offers it, the filter across is done in 16-bit integers (see
    // IntegerFilterAcrossAvx2): the weights scaled by a power of two, the largest to 15 bits, the
    // weights down divided by it, and pairs of weights side by side, as many for each pixel.
    bool integer = false;
    int integerPairsEach = 0;                 // even
    std::vector<std::int16_t> integerWeights; // 8 per pair: its two weights, four times
    std::vector<int> integerStarts; // per destination pixel: its first pair in TPairs' memory

    TGeometry(int width, int height, int destinationWidth, int destinationHeight)
        : across(MakeAxis(width, destinationWidth)), down(MakeAxis(height, destinationHeight)) {
        integer = across.box <= 2 && down.box == 1 && IntegerFilterOffered();
        if (integer) {
            MakeIntegerWeights();
            return;
        }
        pairsEach = (across.taps.MostCount() + 3) / 4 * 2;
        pairs.reserve(static_cast<std::size_t>(pairsEach) *
                      static_cast<std::size_t>(destinationWidth));
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

    // Box sums that the padded taps read beyond the last box.
    int SumsPadding() const { return 2 * pairsEach; }
    // Pairs of boxes of each parity that the integer filter may read (see TReducer::Pairs).
    int PairsOfEachParity() const { return (across.Boxes() + 1) / 2 + integerPairsEach + 2; }

    std::size_t Bytes() const {
        return sizeof(TGeometry) + pairs.size() * sizeof(TPixelPair) +
               integerWeights.size() * sizeof(std::int16_t) + integerStarts.size() * sizeof(int) +
               (across.taps.weights.size() + down.taps.weights.size()) * sizeof(float) +
               (across.taps.first.size() + down.taps.first.size()) * 2 * sizeof(int);
    }

private:
    static bool IntegerFilterOffered();

    // One power of two for every destination pixel, so that the filter need not scale its sums:
    // the rows down take it over with their weights.
    void MakeIntegerWeights() {
        const int destinationWidth = static_cast<int>(across.taps.first.size());
        integerPairsEach = (across.taps.MostCount() + 3) / 4 * 2;
        float largest = 0;
        for (const float weight : across.taps.weights)
            largest = std::max(largest, std::abs(weight));
        // The sums are at most 510 and there are at most a few dozen taps, so that a sum of
        // products of a 15-bit weight stays far inside 32 bits.
        const int shift =
            largest > 0 ? std::min(30, static_cast<int>(std::floor(std::log2(32767 / largest))))
                        : 0;
        const double factor = std::ldexp(1.0, shift);
        for (int x = 0; x < destinationWidth; ++x) {
            const int first = across.taps.first[static_cast<std::size_t>(x)];
            integerStarts.push_back((first % 2 == 0 ? 0 : PairsOfEachParity()) + first / 2);
            const int count = across.taps.Count(x);
            const float* weights = across.taps.Weights(x);
            auto weight = [&](int k) {
                return static_cast<std::int16_t>(k < count ? std::lround(weights[k] * factor) : 0);
            };
            for (int k = 0; k < 2 * integerPairsEach; k += 2)
                for (int lane = 0; lane < 4; ++lane) {
                    integerWeights.push_back(weight(k));
                    integerWeights.push_back(weight(k + 1));
                }
        }
        for (float& weight : down.taps.weights)
            weight = static_cast<float>(weight / factor);
    }
};

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

std::shared_ptr<const TGeometry> GeometryFor(int width, int height, int destinationWidth,
                                             int destinationHeight) {
    thread_local TGeometryCache cache;
    return cache.For(width, height, destinationWidth, destinationHeight);
}

// Rounds half up, as lround does for the values in range, without its call: once clamped the value
// is not negative, where adding a half and truncating is exact.
std::uint8_t RoundToByte(float value) {
    // NOLINTNEXTLINE(bugprone-incorrect-roundings)
    return static_cast<std::uint8_t>(std::clamp(value, 0.0F, 255.0F) + 0.5F);
}

// The bulk of a large reduction's work: written in fixed blocks, with no aliasing, so that the
// compiler makes vector code of it even at -O2.
void AddRow(const std::uint8_t* __restrict row, std::uint32_t* __restrict sums, std::size_t count) {
    constexpr std::size_t Block = 16;
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t k = 0; k < Block; ++k)
            sums[i + k] += row[i + k];
    for (; i < count; ++i)
        sums[i] += row[i];
}

// The kernels of the rows' work (see TKernels). Those of the float form are written once and
// compiled twice, for AVX2 and portably, forced inline into both so that each is compiled for its
// processor; the integer form and SumDownAvx2 are written for AVX2 alone.
#define OMBREL_KERNEL inline __attribute__((always_inline))

// Written in fixed blocks, with no aliasing, so that the compiler makes vector code of it.
OMBREL_KERNEL void ToFloats(const std::uint8_t* __restrict bytes, float* __restrict floats,
                            std::size_t count) {
    constexpr std::size_t Block = 16;
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t k = 0; k < Block; ++k)
            floats[i + k] = static_cast<float>(bytes[i + k]);
    for (; i < count; ++i)
        floats[i] = static_cast<float>(bytes[i]);
}

using TBytes = std::uint8_t __attribute__((vector_size(16)));

// The four bytes from byte First of bytes, each in a lane of its own: a pixel and its spare lane. A
// shuffle that the processor does in one instruction (with AVX2's SSSE3), where a conversion of a
// four-byte vector is compiled byte by byte.
template <int First> OMBREL_KERNEL TInts PixelAt(TBytes bytes) {
    constexpr TBytes Zero = {};
    constexpr int Z = 16; // a byte of Zero
    return reinterpret_cast<TInts>(__builtin_shufflevector(
        bytes, Zero, First, Z, Z, Z, First + 1, Z, Z, Z, First + 2, Z, Z, Z, First + 3, Z, Z, Z));
}

// The sum of the pixels that start bytes, one per Pixel.
template <int... Pixel>
OMBREL_KERNEL TInts PixelsSum(TBytes bytes, std::integer_sequence<int, Pixel...> /*pixels*/) {
    return (PixelAt<3 * Pixel>(bytes) + ...);
}

// Boxes from box first on, a pixel at a time, the last pixel's three bytes alone, so that nothing
// is read beyond the row.
OMBREL_KERNEL void BoxSumsByPixel(const std::uint8_t* row, int width, int box, int first,
                                  TPixel* sums) {
    const int boxes = (width + box - 1) / box;
    for (int i = first; i < boxes; ++i) {
        TInts sum = {};
        for (int x = i * box, end = std::min(width, x + box); x < end; ++x) {
            TBytes bytes = {};
            std::memcpy(&bytes, row + std::ptrdiff_t{x} * 3, x + 1 < width ? 4 : 3);
            sum += PixelAt<0>(bytes);
        }
        sums[i] = __builtin_convertvector(sum, TPixel);
    }
}

// Boxes of Box pixels, each read as the sixteen bytes from its first, while they lie in the row.
template <int Box> OMBREL_KERNEL void BoxSumsOf(const std::uint8_t* row, int width, TPixel* sums) {
    static_assert(3 * Box + 1 <= 16);
    int i = 0;
    for (; (i * Box * 3) + 16 <= width * 3; ++i) {
        const auto bytes = LoadUnaligned<TBytes>(row + std::ptrdiff_t{i} * Box * 3);
        sums[i] = __builtin_convertvector(PixelsSum(bytes, std::make_integer_sequence<int, Box>{}),
                                          TPixel);
    }
    BoxSumsByPixel(row, width, Box, i, sums);
}

// A row that is a whole box row by itself, as in most small pictures, into its boxes' sums. A pixel
// is read as four channels at once, its spare lane the next pixel's first channel. With AVX2 a box
// of up to five pixels is one read of sixteen bytes, its pixels widened by shuffles; a wider box,
// and the last boxes, where sixteen bytes would go beyond the row, are read a pixel at a time. The
// portable form first makes floats of the whole row (floats holds one more, for the last pixel's
// spare lane), which its vectors do sixteen bytes at a time. The sums are whole numbers either way,
// so the two give the same floats.
template <bool Wide>
OMBREL_KERNEL void WholeRowSumsBody(const std::uint8_t* row, int width, int box, float* floats,
                                    TPixel* sums) {
    if constexpr (Wide) {
        switch (box) {
        case 1:
            return BoxSumsOf<1>(row, width, sums);
        case 2:
            return BoxSumsOf<2>(row, width, sums);
        case 3:
            return BoxSumsOf<3>(row, width, sums);
        case 4:
            return BoxSumsOf<4>(row, width, sums);
        case 5:
            return BoxSumsOf<5>(row, width, sums);
        default:
            return BoxSumsByPixel(row, width, box, 0, sums);
        }
    } else {
        ToFloats(row, floats, static_cast<std::size_t>(width) * 3);
        const float* pixel = floats;
        const int wholeBoxes = (width - 1) / box; // every box but the last
        for (int i = 0; i < wholeBoxes; ++i) {
            TPixel sum = {};
            for (int k = 0; k < box; ++k, pixel += 3)
                sum += LoadUnaligned<TPixel>(pixel);
            sums[i] = sum;
        }
        TPixel sum = {};
        for (; pixel < floats + std::ptrdiff_t{width} * 3; pixel += 3)
            sum += LoadUnaligned<TPixel>(pixel);
        sums[wholeBoxes] = sum;
    }
}

// A box row's box sums filtered across into a row of the destination's width, three floats per
// pixel (out holds one more, for the last pixel's spare lane). Each destination pixel is one sum
// over its taps, in pairs: the even taps in the low half of a pair, the odd ones in the high half,
// and the pairs two by two into two sums, so that a multiply and add need not wait for the one
// before. The portable form holds each pair's halves in two vectors: the same operations in the
// same order.
template <bool Wide>
OMBREL_KERNEL void FilterAcrossBody(const TPixel* sums, const TGeometry& geometry, int width,
                                    bool swapRedBlue, float* out) {
    const int* first = geometry.across.taps.first.data();
    const TPixelPair* pair = geometry.pairs.data();
    const int pairs = geometry.pairsEach;
    for (int x = 0; x < width; ++x, out += 3) {
        const TPixel* pixel = sums + first[x];
        TPixel result;
        if constexpr (Wide) {
            TPixelPair one = {};
            TPixelPair two = {};
            for (int k = 0; k < pairs; k += 2, pair += 2, pixel += 4) {
                // Not through LoadUnaligned, whose return would leave the AVX registers; and the
                // weights too, as outside AVX code a TPixelPair is aligned to 16 bytes only.
                // One vector per copy: a copy of several goes through the stack.
                TPixelPair pixelsOne;
                TPixelPair pixelsTwo;
                TPixelPair weightsOne;
                TPixelPair weightsTwo;
                std::memcpy(&pixelsOne, pixel, sizeof pixelsOne);
                std::memcpy(&pixelsTwo, pixel + 2, sizeof pixelsTwo);
                std::memcpy(&weightsOne, pair, sizeof weightsOne);
                std::memcpy(&weightsTwo, pair + 1, sizeof weightsTwo);
                one += weightsOne * pixelsOne;
                two += weightsTwo * pixelsTwo;
            }
            const TPixelPair sum = one + two;
            result = __builtin_shufflevector(sum, sum, 0, 1, 2, 3) +
                     __builtin_shufflevector(sum, sum, 4, 5, 6, 7);
        } else {
            TPixel oneEven = {};
            TPixel oneOdd = {};
            TPixel twoEven = {};
            TPixel twoOdd = {};
            for (int k = 0; k < pairs; k += 2, pair += 2, pixel += 4) {
                const auto* weights = reinterpret_cast<const TPixel*>(pair);
                oneEven += weights[0] * pixel[0];
                oneOdd += weights[1] * pixel[1];
                twoEven += weights[2] * pixel[2];
                twoOdd += weights[3] * pixel[3];
            }
            result = (oneEven + twoEven) + (oneOdd + twoOdd);
        }
        if (swapRedBlue)
            result = __builtin_shufflevector(result, result, 2, 1, 0, 3);
        std::memcpy(out, &result, sizeof result);
    }
}

// A destination row out of the filtered box rows that make it, rows[k] weighted by weights[k]:
// 32 values at a time in eight sums of four, which do not wait for each other, each summed over
// all the taps in registers before it is rounded. The rows hold their values rounded up to a
// multiple of 32. (SumDownAvx2 is the same with 256-bit vectors.)
void SumDown(const float* const* rows, const float* weights, int count, int values,
             std::uint8_t* out) {
    constexpr int Step = 32;
    for (int at = 0; at < values; at += Step) {
        TPixel sum[8] = {};
        for (int k = 0; k < count; ++k)
            for (int i = 0; i < 8; ++i)
                sum[i] += weights[k] * LoadUnaligned<TPixel>(rows[k] + at + std::ptrdiff_t{4} * i);
        float sums[Step];
        std::memcpy(sums, sum, sizeof sum);
        for (int i = 0, end = std::min(Step, values - at); i < end; ++i)
            out[at + i] = RoundToByte(sums[i]);
    }
}

// Pairs of neighbouring boxes' sums as the integer filter reads them, in 16-bit lanes: the first
// box's red, the second's red, then green, blue, and two zeros. Those that start at an even box
// and those that start at an odd one are kept apart, each in order, so that a destination pixel's
// taps are consecutive pairs of one parity.
struct TPairs {
    TInts* even = nullptr; // and the odd ones after them, TGeometry::PairsOfEachParity() on
    TInts* odd = nullptr;
    TInts* Of(int box) const { return (box % 2 == 0 ? even : odd) + box / 2; }
};

struct TKernels {
    void (*wholeRowSums)(const std::uint8_t* row, int width, int box, float* floats, TPixel* sums);
    void (*filterAcross)(const TPixel* sums, const TGeometry& geometry, int width, bool swapRedBlue,
                         float* out);
    void (*sumDown)(const float* const* rows, const float* weights, int count, int values,
                    std::uint8_t* out);
    // Offered where the processor has AVX2, else null.
    void (*wholeRowPairs)(const std::uint8_t* row, int width, int box, const TPairs& pairs);
    void (*integerFilterAcross)(const TPairs& pairs, const TGeometry& geometry, int width,
                                bool swapRedBlue, float* out);
};

void WholeRowSums(const std::uint8_t* row, int width, int box, float* floats, TPixel* sums) {
    WholeRowSumsBody<false>(row, width, box, floats, sums);
}
void FilterAcross(const TPixel* sums, const TGeometry& geometry, int width, bool swapRedBlue,
                  float* out) {
    FilterAcrossBody<false>(sums, geometry, width, swapRedBlue, out);
}

#ifdef OMBREL_AVX2_KERNELS
#define OMBREL_AVX2 __attribute__((target("avx2,fma")))
OMBREL_AVX2 void WholeRowSumsAvx2(const std::uint8_t* row, int width, int box, float* floats,
                                  TPixel* sums) {
    WholeRowSumsBody<true>(row, width, box, floats, sums);
}
OMBREL_AVX2 void FilterAcrossAvx2(const TPixel* sums, const TGeometry& geometry, int width,
                                  bool swapRedBlue, float* out) {
    FilterAcrossBody<true>(sums, geometry, width, swapRedBlue, out);
}
// SumDown in four sums of eight. They are rounded as RoundToByte rounds: a half added, then
// truncated to 32 bits and packed to bytes with saturation, which clamps to 0 and 255 as it goes
// (a value under zero truncates to zero or below).
OMBREL_AVX2 void SumDownAvx2(const float* const* rows, const float* weights, int count, int values,
                             std::uint8_t* out) {
    constexpr int Step = 32;
    const __m256 half = _mm256_set1_ps(0.5F);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (int at = 0; at < values; at += Step) {
        __m256 sum0 = _mm256_setzero_ps();
        __m256 sum1 = _mm256_setzero_ps();
        __m256 sum2 = _mm256_setzero_ps();
        __m256 sum3 = _mm256_setzero_ps();
        for (int k = 0; k < count; ++k) {
            const float* row = rows[k] + at;
            const __m256 weight = _mm256_set1_ps(weights[k]);
            sum0 = _mm256_add_ps(sum0, _mm256_mul_ps(weight, _mm256_loadu_ps(row)));
            sum1 = _mm256_add_ps(sum1, _mm256_mul_ps(weight, _mm256_loadu_ps(row + 8)));
            sum2 = _mm256_add_ps(sum2, _mm256_mul_ps(weight, _mm256_loadu_ps(row + 16)));
            sum3 = _mm256_add_ps(sum3, _mm256_mul_ps(weight, _mm256_loadu_ps(row + 24)));
        }
        // Packs work within each 128-bit half: the bytes come out in fours, reordered at the end.
        const __m256i words01 = _mm256_packs_epi32(_mm256_cvttps_epi32(_mm256_add_ps(sum0, half)),
                                                   _mm256_cvttps_epi32(_mm256_add_ps(sum1, half)));
        const __m256i words23 = _mm256_packs_epi32(_mm256_cvttps_epi32(_mm256_add_ps(sum2, half)),
                                                   _mm256_cvttps_epi32(_mm256_add_ps(sum3, half)));
        const __m256i bytes =
            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words01, words23), order);
        if (values - at >= Step) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), bytes);
        } else {
            alignas(32) std::uint8_t last[Step];
            _mm256_store_si256(reinterpret_cast<__m256i*>(last), bytes);
            for (int i = 0; i < values - at; ++i)
                out[at + i] = last[i];
        }
    }
}

// A whole row of boxes of one or two pixels into pairs of box sums (TPairs): each pair is one read
// of the sixteen bytes from its first box, one shuffle that puts the bytes to add side by side and
// the two boxes' channels in the pair's order, zeros elsewhere, and one multiply-add of
// neighbouring bytes by 1. Bytes beyond the row are never read, and count as zeros: the last box
// pairs with nothing.
OMBREL_AVX2 void WholeRowPairsAvx2(const std::uint8_t* row, int width, int box,
                                   const TPairs& pairs) {
    constexpr char Z = -128; // a zero byte
    const __m128i order = box == 1
                              ? _mm_setr_epi8(0, Z, 3, Z, 1, Z, 4, Z, 2, Z, 5, Z, Z, Z, Z, Z)
                              : _mm_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, Z, Z, Z, Z);
    const __m256i orders = _mm256_broadcastsi128_si256(order);
    const __m256i ones = _mm256_set1_epi8(1);
    const int boxes = (width + box - 1) / box;
    const std::ptrdiff_t bytes = std::ptrdiff_t{width} * 3;
    const std::ptrdiff_t boxBytes = std::ptrdiff_t{box} * 3;
    // Two pairs at a time, from an even box and the odd one after it, in the two halves of a
    // 256-bit vector (a shuffle moves bytes within its half).
    // As many steps as the sixteen bytes of the odd box stay in the row, counted beforehand so
    // that the loop is unrolled.
    const std::ptrdiff_t room = bytes - 16 - boxBytes;
    const int steps =
        room < 0 ? 0 : std::min<int>(boxes / 2, static_cast<int>(room / (2 * boxBytes)) + 1);
    auto* even = reinterpret_cast<__m128i*>(pairs.even);
    auto* odd = reinterpret_cast<__m128i*>(pairs.odd);
    const std::uint8_t* from = row;
#pragma GCC unroll 4
    for (int step = 0; step < steps; ++step, from += 2 * boxBytes) {
        const __m256i pixels =
            _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(from + boxBytes),
                                reinterpret_cast<const __m128i*>(from));
        const __m256i sums = _mm256_maddubs_epi16(_mm256_shuffle_epi8(pixels, orders), ones);
        _mm_storeu_si128(even++, _mm256_castsi256_si128(sums));
        _mm_storeu_si128(odd++, _mm256_extracti128_si256(sums, 1));
    }
    // The last boxes, a box at a time: where sixteen bytes from the box would go beyond the row,
    // the sixteen that end the row are read instead, and the shuffle moved up to the box, bytes
    // beyond the row made zeros. (A copy of the rest of the row would be read before its bytes were
    // stored, which stalls.)
    int i = 2 * steps;
    if (i < boxes && bytes < 16) {
        std::uint8_t rest[48] = {};
        std::memcpy(rest, row, static_cast<std::size_t>(bytes));
        for (; i < boxes; ++i)
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(pairs.Of(i)),
                _mm_maddubs_epi16(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                       rest + i * boxBytes)),
                                                   order),
                                  _mm256_castsi256_si128(ones)));
        return;
    }
    for (; i < boxes; ++i) {
        const std::ptrdiff_t at = std::min(i * boxBytes, bytes - 16);
        const auto offset = static_cast<char>(i * boxBytes - at);
        __m128i moved = _mm_add_epi8(order, _mm_set1_epi8(offset));
        moved = _mm_or_si128(moved, _mm_cmpgt_epi8(moved, _mm_set1_epi8(15)));
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(pairs.Of(i)),
            _mm_maddubs_epi16(_mm_shuffle_epi8(pixels, moved), _mm256_castsi256_si128(ones)));
    }
}

// FilterAcrossBody in 16-bit integers: one multiply-add makes four taps of a pixel (two pairs of
// boxes, each by its pair of weights) and adds them in twos into 32-bit sums, where a float
// multiply and add makes two. The sums are exact; only the weights are rounded, to 15 bits for the
// largest, far below what a byte shows. The pairs of a destination pixel are the consecutive pairs
// of its first box's parity (TPairs), read two at a time, Steps times: a count known to the
// compiler, so that the loop is unrolled.
template <int Steps, bool SwapRedBlue>
OMBREL_AVX2 void IntegerFilterAcrossBody(const TPairs& pairs, const TGeometry& geometry, int width,
                                         float* out) {
    const int* start = geometry.integerStarts.data();
    const auto* weights = reinterpret_cast<const __m256i*>(geometry.integerWeights.data());
    const int steps = Steps > 0 ? Steps : geometry.integerPairsEach / 2;
    const TInts* pairsMemory = pairs.even; // a copy: the stores below might otherwise change it
    for (int x = 0; x < width; ++x, out += 3, weights += steps) {
        const auto* pair = reinterpret_cast<const __m256i*>(pairsMemory + start[x]);
        __m256i sum = _mm256_setzero_si256();
#pragma GCC unroll 8
        for (int k = 0; k < steps; ++k)
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_loadu_si256(pair + k),
                                                          _mm256_loadu_si256(weights + k)));
        const __m128i total =
            _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        __m128 result = _mm_cvtepi32_ps(total);
        if (SwapRedBlue)
            result = _mm_permute_ps(result, _MM_SHUFFLE(3, 0, 1, 2));
        _mm_storeu_ps(out, result);
    }
}

template <bool SwapRedBlue>
OMBREL_AVX2 void IntegerFilterAcrossOf(const TPairs& pairs, const TGeometry& geometry, int width,
                                       float* out) {
    switch (geometry.integerPairsEach / 2) {
    case 2:
        return IntegerFilterAcrossBody<2, SwapRedBlue>(pairs, geometry, width, out);
    case 3:
        return IntegerFilterAcrossBody<3, SwapRedBlue>(pairs, geometry, width, out);
    case 4:
        return IntegerFilterAcrossBody<4, SwapRedBlue>(pairs, geometry, width, out);
    case 5:
        return IntegerFilterAcrossBody<5, SwapRedBlue>(pairs, geometry, width, out);
    case 6:
        return IntegerFilterAcrossBody<6, SwapRedBlue>(pairs, geometry, width, out);
    case 7:
        return IntegerFilterAcrossBody<7, SwapRedBlue>(pairs, geometry, width, out);
    case 8:
        return IntegerFilterAcrossBody<8, SwapRedBlue>(pairs, geometry, width, out);
    default:
        return IntegerFilterAcrossBody<0, SwapRedBlue>(pairs, geometry, width, out);
    }
}

OMBREL_AVX2 void IntegerFilterAcrossAvx2(const TPairs& pairs, const TGeometry& geometry, int width,
                                         bool swapRedBlue, float* out) {
    if (swapRedBlue)
        IntegerFilterAcrossOf<true>(pairs, geometry, width, out);
    else
        IntegerFilterAcrossOf<false>(pairs, geometry, width, out);
}
#endif

// The kernels for this processor, chosen once. OMBREL_PORTABLE_RESAMPLE set in the environment
// chooses the portable ones wherever the program runs, so that the tests try them too.
const TKernels& Kernels() {
    static const TKernels kernels = [] {
#ifdef OMBREL_AVX2_KERNELS
        __builtin_cpu_init();
        // Read once, when the first picture is reduced; nothing in the program sets it.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        const bool portable = std::getenv("OMBREL_PORTABLE_RESAMPLE") != nullptr;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && !portable)
            return TKernels{WholeRowSumsAvx2, FilterAcrossAvx2, SumDownAvx2, WholeRowPairsAvx2,
                            IntegerFilterAcrossAvx2};
#endif
        return TKernels{WholeRowSums, FilterAcross, SumDown, nullptr, nullptr};
    }();
    return kernels;
}

bool TGeometry::IntegerFilterOffered() {
    return Kernels().integerFilterAcross != nullptr;
}

// The memory of a reduction, kept by each thread (thread_buffer.h): the column sums and a row's
// floats are as wide as the picture, everything else is of the destination's size.
struct TReductionMemory {
    TKeptBuffer<std::uint32_t> columns;
    TKeptBuffer<float> floats;
    TKeptBuffer<TSums> solid;
    TKeptBuffer<TPixel> sums;
    TKeptBuffer<float> slots;
    TKeptBuffer<const float*> rows;
    TKeptBuffer<TInts> pairs;
};

TReductionMemory& ThreadReductionMemory() {
    thread_local TReductionMemory memory;
    return memory;
}

// The rows that SumDown and SumDownAvx2 read are a multiple of this many floats.
std::size_t RoundUpToStep(std::size_t count) {
    constexpr std::size_t Step = 32;
    return (count + Step - 1) / Step * Step;
}

// The reduction as its source's rows arrive, in either order. The rows of a box row are summed per
// column; a box row complete, its boxes' sums are filtered across to the destination's width and
// kept in a ring of as many slots as a destination row has taps down; each destination row is made
// as soon as the last of its box rows is in. The box sums are integers, which do not depend on the
// order of their terms, and everything after them is done in the same order whichever way the rows
// come, so the result is the same to the bit.
//
// Runs of one colour are added to the boxes they cover, not to each column: a row that is one
// colour, as most of a sparse RLE picture is, costs as many additions as it has boxes.
//
// Channels stay in the source's order (B, G, R for a 24-bit BMP) until the filter across puts
// them in order; a pixel's spare lane carries whatever its neighbour put there and is never
// written out.
class TReducer final : public TRowSink {
public:
    TReducer(int width, int height, TRowLayout layout, const TRgbRows& destination)
        : m_width(width), m_height(height), m_layout(layout), m_destination(destination),
          m_geometry(GeometryFor(width, height, destination.width, destination.height)),
          m_across(m_geometry->across), m_down(m_geometry->down),
          m_slotCount(std::max(1, m_down.taps.MostCount())),
          m_rowValues(static_cast<std::size_t>(destination.width) * 3),
          m_slotStride(RoundUpToStep(m_rowValues + 1)),
          m_columns(ThreadReductionMemory().columns, static_cast<std::size_t>(width) * 3 + 1),
          m_floats(ThreadReductionMemory().floats,
                   m_down.box == 1 ? static_cast<std::size_t>(width) * 3 + 1 : 0),
          m_solid(ThreadReductionMemory().solid, static_cast<std::size_t>(m_across.Boxes())),
          m_sums(ThreadReductionMemory().sums,
                 static_cast<std::size_t>(m_across.Boxes() + m_geometry->SumsPadding())),
          m_slots(ThreadReductionMemory().slots,
                  m_slotStride * static_cast<std::size_t>(m_slotCount)),
          m_rows(ThreadReductionMemory().rows, static_cast<std::size_t>(m_slotCount)),
          m_pairs(ThreadReductionMemory().pairs, PairsSize()), m_dirtyFrom(width),
          m_nextRow(layout.bottomUp ? destination.height - 1 : 0) {
        // Read but never counted: the spare lanes past the last pixel, the taps past the last box,
        // and the slots' padding; zero, so that they are finite.
        std::fill_n(m_columns.Data(), static_cast<std::size_t>(width) * 3 + 1, 0U);
        if (m_down.box == 1)
            m_floats.Data()[static_cast<std::size_t>(width) * 3] = 0;
        std::fill_n(m_solid.Data(), static_cast<std::size_t>(m_across.Boxes()), TSums{});
        std::fill_n(m_sums.Data() + m_across.Boxes(), m_geometry->SumsPadding(), TPixel{});
        for (int slot = 0; slot < m_slotCount; ++slot)
            std::fill(Slot(slot) + m_rowValues, Slot(slot) + m_slotStride, 0.0F);
        std::fill_n(m_pairs.Data(), PairsSize(), TInts{});
    }

    bool Complete() const { return m_delivered == m_height; }

    void Pixels(int count, const std::uint8_t* pixels) override {
        if (m_down.box == 1 && count == m_width) {
            // A whole row that is a whole box row, as in most small pictures: its boxes are
            // summed straight from its bytes, with no column sums to add up and clear.
            m_wholeRow = pixels;
            Advance(count);
            m_wholeRow = nullptr;
            return;
        }
        AddRow(pixels, m_columns.Data() + std::ptrdiff_t{m_x} * 3,
               static_cast<std::size_t>(count) * 3);
        m_dirtyFrom = std::min(m_dirtyFrom, m_x);
        m_dirtyTo = std::max(m_dirtyTo, m_x + count);
        Advance(count);
    }

    void Solid(int count, TRgb colour) override {
        AddSolid(m_x, count, colour, 1);
        Advance(count);
    }

    // Split where box rows end, so that each piece adds to one box row only.
    void SolidRows(int count, TRgb colour) override {
        while (count > 0) {
            const int rows = std::min(count, RowsLeftInBoxRow());
            AddSolid(0, m_width, colour, static_cast<std::uint32_t>(rows));
            RowsDone(rows);
            count -= rows;
        }
    }

private:
    int CurrentRow() const { return m_layout.bottomUp ? m_height - 1 - m_delivered : m_delivered; }

    int RowsLeftInBoxRow() const {
        const int y = CurrentRow();
        const int first = y / m_down.box * m_down.box;
        return m_layout.bottomUp ? y - first + 1 : std::min(first + m_down.box, m_height) - y;
    }

    void Advance(int count) {
        m_x += count;
        if (m_x >= m_width) {
            m_x = 0;
            RowsDone(1);
        }
    }

    // count rows of one box row are in; the last of them may complete it.
    void RowsDone(int count) {
        m_delivered += count;
        if (m_layout.bottomUp) {
            const int last = m_height - m_delivered;
            if (last % m_down.box == 0)
                FinishBoxRow(last / m_down.box);
        } else {
            const int last = m_delivered - 1;
            if ((last + 1) % m_down.box == 0 || last + 1 == m_height)
                FinishBoxRow(last / m_down.box);
        }
    }

    // In the source's order of channels, as the column sums are.
    void AddSolid(int x, int count, TRgb colour, std::uint32_t rows) {
        const int box = m_across.box;
        const TSums channels = m_layout.bgr ? TSums{colour.b, colour.g, colour.r, 0}
                                            : TSums{colour.r, colour.g, colour.b, 0};
        TSums* solid = m_solid.Data();
        for (int i = x / box, end = x + count; i * box < end; ++i) {
            const int from = std::max(x, i * box);
            const int to = std::min(end, i * box + m_across.BoxLength(i));
            solid[i] += channels * (static_cast<std::uint32_t>(to - from) * rows);
        }
    }

    // The sums of box row j's boxes, filtered across into its slot; then every destination row
    // whose box rows are all in.
    void FinishBoxRow(int j) {
        if (m_geometry->integer) {
            if (m_wholeRow != nullptr) {
                Kernels().wholeRowPairs(m_wholeRow, m_width, m_across.box, Pairs());
            } else {
                ColumnPairs();
                ClearColumns();
            }
            Kernels().integerFilterAcross(Pairs(), *m_geometry, m_destination.width, m_layout.bgr,
                                          Slot(j));
        } else {
            if (m_wholeRow != nullptr) {
                Kernels().wholeRowSums(m_wholeRow, m_width, m_across.box, m_floats.Data(),
                                       m_sums.Data());
            } else {
                ColumnBoxSums();
                ClearColumns();
            }
            Kernels().filterAcross(m_sums.Data(), *m_geometry, m_destination.width, m_layout.bgr,
                                   Slot(j));
        }
        if (m_layout.bottomUp) {
            while (m_nextRow >= 0 && (m_down.taps.Count(m_nextRow) == 0 ||
                                      m_down.taps.first[static_cast<std::size_t>(m_nextRow)] >= j))
                MakeRow(m_nextRow--);
        } else {
            while (m_nextRow < m_destination.height &&
                   (m_down.taps.Count(m_nextRow) == 0 ||
                    m_down.taps.first[static_cast<std::size_t>(m_nextRow)] +
                            m_down.taps.Count(m_nextRow) - 1 <=
                        j))
                MakeRow(m_nextRow++);
        }
    }

    float* Slot(int j) const {
        return m_slots.Data() + static_cast<std::size_t>(j % m_slotCount) * m_slotStride;
    }

    // Each box's sum is what its runs of one colour added plus its columns' sums, read only where
    // pixels reached, from m_dirtyFrom to m_dirtyTo; each column is read as four sums at once, its
    // spare lane the next column's first (the column sums hold one more, for the last column).
    TSums ColumnBoxSum(int i) {
        TSums* solid = m_solid.Data();
        TSums sum = solid[i];
        solid[i] = TSums{};
        const int from = i * m_across.box;
        const int to = from + m_across.BoxLength(i);
        if (from < m_dirtyTo && to > m_dirtyFrom)
            for (int x = from; x < to; ++x)
                sum += LoadUnaligned<TSums>(m_columns.Data() + std::ptrdiff_t{x} * 3);
        return sum;
    }

    void ColumnBoxSums() {
        for (int i = 0, boxes = m_across.Boxes(); i < boxes; ++i)
            m_sums.Data()[i] = __builtin_convertvector(ColumnBoxSum(i), TPixel);
    }

    // The pairs that WholeRowPairsAvx2 makes of a whole row, made of the column sums; the sums of
    // a geometry for the integer filter are at most 510, so they fit in 16 bits.
    void ColumnPairs() {
        using TShorts = std::int16_t __attribute__((vector_size(16)));
        const TPairs pairs = Pairs();
        TSums previous = {};
        for (int i = 0, boxes = m_across.Boxes(); i <= boxes; ++i) {
            const TSums sum = i < boxes ? ColumnBoxSum(i) : TSums{};
            if (i > 0) {
                auto lane = [](std::uint32_t value) {
                    return static_cast<std::int16_t>(value);
                };
                const TShorts pair = {lane(previous[0]),
                                      lane(sum[0]),
                                      lane(previous[1]),
                                      lane(sum[1]),
                                      lane(previous[2]),
                                      lane(sum[2]),
                                      0,
                                      0};
                std::memcpy(pairs.Of(i - 1), &pair, sizeof pair);
            }
            previous = sum;
        }
    }

    std::size_t PairsSize() const {
        return m_geometry->integer ? 2 * static_cast<std::size_t>(m_geometry->PairsOfEachParity())
                                   : 0;
    }

    TPairs Pairs() const {
        return {m_pairs.Data(), m_pairs.Data() + m_geometry->PairsOfEachParity()};
    }

    void ClearColumns() {
        std::uint32_t* columns = m_columns.Data();
        if (m_dirtyFrom < m_dirtyTo)
            std::fill(columns + std::ptrdiff_t{m_dirtyFrom} * 3,
                      columns + std::ptrdiff_t{m_dirtyTo} * 3, 0U);
        m_dirtyFrom = m_width;
        m_dirtyTo = 0;
    }

    void MakeRow(int y) {
        const int first = m_down.taps.first[static_cast<std::size_t>(y)];
        const int count = m_down.taps.Count(y);
        const float** rows = m_rows.Data();
        float* const slots = m_slots.Data(); // not read again after each store to rows
        for (int k = 0; k < count; ++k)
            rows[k] = slots + static_cast<std::size_t>((first + k) % m_slotCount) * m_slotStride;
        Kernels().sumDown(rows, m_down.taps.Weights(y), count, static_cast<int>(m_rowValues),
                          m_destination.Row(y));
    }

    int m_width;
    int m_height;
    TRowLayout m_layout;
    TRgbRows m_destination;
    std::shared_ptr<const TGeometry> m_geometry;
    const TAxis& m_across;
    const TAxis& m_down;
    int m_slotCount;
    std::size_t m_rowValues;  // floats in a row of the destination's width
    std::size_t m_slotStride; // floats from one slot to the next
    // Column sums of the current box row's pixels, three per source column.
    TBorrowedBuffer<std::uint32_t> m_columns;
    TBorrowedBuffer<float> m_floats; // a whole row's bytes, as floats
    // Sums of the current box row's runs of one colour, per box.
    TBorrowedBuffer<TSums> m_solid;
    TBorrowedBuffer<TPixel> m_sums;       // of one box row's boxes
    TBorrowedBuffer<float> m_slots;       // box rows filtered across, m_slotCount of them
    TBorrowedBuffer<const float*> m_rows; // the slots that make a destination row
    TBorrowedBuffer<TInts> m_pairs;       // for the integer filter: TPairs, even then odd
    int m_delivered = 0;                  // rows in, in delivery order
    int m_x = 0;                          // in the current row
    int m_dirtyFrom;                      // the columns that pixels reached in this box row
    int m_dirtyTo = 0;
    int m_nextRow; // of the destination
    // The bytes of the row being handed over, when it is a whole box row by itself.
    const std::uint8_t* m_wholeRow = nullptr;
};

// Rows held in memory, handed over top row first.
class TMemoryRows final : public TRowSource {
public:
    explicit TMemoryRows(const TConstRgbRows& rows) : m_rows(rows) {}
    int Width() const override { return m_rows.width; }
    int Height() const override { return m_rows.height; }
    TRowLayout Layout() const override { return {}; }
    void Deliver(TRowSink& sink) override {
        for (int y = 0; y < m_rows.height; ++y)
            sink.Pixels(m_rows.width, m_rows.Row(y));
    }

private:
    TConstRgbRows m_rows;
};

} // namespace

void StretchRgb(const TConstRgbRows& source, const TRgbRows& destination) {
    TMemoryRows rows(source);
    StretchRows(rows, destination);
}

void StretchRows(TRowSource& source, const TRgbRows& destination) {
    const int width = source.Width();
    const int height = source.Height();
    if (width <= 0 || height <= 0 || destination.width <= 0 || destination.height <= 0)
        return;
    if (width == destination.width && height == destination.height) {
        TRowsWriter writer(destination, source.Layout());
        source.Deliver(writer);
        return;
    }
    TReducer reducer(width, height, source.Layout(), destination);
    source.Deliver(reducer);
    if (!reducer.Complete())
        throw std::logic_error("a picture source delivered fewer rows than it has");
}
