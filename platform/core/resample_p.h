#pragma once

// Private to the resampler: what its geometry, its kernels and its reduction share.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

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

// One axis of the picture: source pixels grouped in boxes of box pixels (the last one may be
// short), and the taps that make the destination out of the box sums.
struct TAxis {
    int size = 0;
    int box = 1;
    TTaps taps;

    int Boxes() const { return (size + box - 1) / box; }
    int BoxLength(int j) const { return std::min(box, size - j * box); }
};

// Everything a reduction of one size to another needs before its first row: both axes, and the
// weights across as the filter reads them, each spread over a pixel's four lanes. Every
// destination pixel gets the same number of taps, its own padded with zero weights, taken in
// pairs and the pairs two by two (see FilterAcrossBody): a loop that always runs as many times is
// one the processor predicts, where taps counted pixel by pixel cost a mispredicted branch each.
struct TGeometry {
    TAxis across;
    TAxis down;
    int pairsEach = 0; // pairs of taps per destination pixel, even; the same in either filter
    std::vector<TPixelPair> pairs;
    // Where every box row is a single row and every box at most two pixels, as in all small
    // pictures, and the processor offers it, the filter across is done in 16-bit integers (see
    // IntegerFilterAcrossAvx2): the weights scaled by a power of two, the largest to 15 bits, the
    // weights down divided by it, and pairs of weights side by side, as many for each pixel.
    bool integer = false;
    std::vector<std::int16_t> integerWeights; // 8 per pair: its two weights, four times
    std::vector<int> integerStarts; // per destination pixel: its first pair in TPairs' memory

    TGeometry(int width, int height, int destinationWidth, int destinationHeight);

    // Box sums that the padded taps read beyond the last box.
    int SumsPadding() const { return 2 * pairsEach; }
    // Pairs of boxes of each parity that the integer filter may read (see TReducer::Pairs).
    int PairsOfEachParity() const { return (across.Boxes() + 1) / 2 + pairsEach + 2; }

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
    void MakeIntegerWeights();
};

// The geometry of a reduction of one size to another, made once and kept by each thread.
std::shared_ptr<const TGeometry> GeometryFor(int width, int height, int destinationWidth,
                                             int destinationHeight);

// Pairs of neighbouring boxes' sums as the integer filter reads them, in 16-bit lanes: the first
// box's red, the second's red, then green, blue, and two zeros. Those that start at an even box
// and those that start at an odd one are kept apart, each in order, so that a destination pixel's
// taps are consecutive pairs of one parity.
struct TPairs {
    TInts* even = nullptr; // and the odd ones after them, TGeometry::PairsOfEachParity() on
    TInts* odd = nullptr;
    TInts* Of(int box) const { return (box % 2 == 0 ? even : odd) + box / 2; }
};

// The work on each row that is shaped for the processor's vector units, in the forms that
// Kernels() chose for it:
// - wholeRowSums: a row that is a whole box row into its boxes' sums;
// - filterAcross: a box row's sums into a row of the destination's width, three floats a pixel;
// - sumDown: a destination row out of the filtered box rows that make it, rounded to bytes;
// - wholeRowPairs and integerFilterAcross: the first two in 16-bit integers (see TGeometry).
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

const TKernels& Kernels();

// The rows that TKernels::sumDown reads are a multiple of this many floats.
constexpr int SumDownStep = 32;
