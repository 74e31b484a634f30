#include "platform/core/raster.h"
#include "platform/core/resample_p.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#define OMBREL_AVX2_KERNELS
#include <immintrin.h>
#endif

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
// Filtering down first, so that only the destination's rows are filtered across, was slower: each
// destination row then reads the box sums of all its rows, which do not stay in the first-level
// cache.

namespace {

// Rounds half up, as lround does for the values in range, without its call: once clamped the value
// is not negative, where adding a half and truncating is exact.
std::uint8_t RoundToByte(float value) {
    // NOLINTNEXTLINE(bugprone-incorrect-roundings)
    return static_cast<std::uint8_t>(std::clamp(value, 0.0F, 255.0F) + 0.5F);
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
    constexpr int Step = SumDownStep;
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
// (a value under zero truncates to zero or below). Each tap is a multiply and an add: fused
// multiply-adds, whose latency is longer, were slower here.
OMBREL_AVX2 void SumDownAvx2(const float* const* rows, const float* weights, int count, int values,
                             std::uint8_t* out) {
    constexpr int Step = SumDownStep;
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
    const int steps = Steps > 0 ? Steps : geometry.pairsEach / 2;
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
    switch (geometry.pairsEach / 2) {
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

} // namespace

// The kernels for this processor, chosen once (see Avx2KernelsChosen).
const TKernels& Kernels() {
    static const TKernels kernels = [] {
#ifdef OMBREL_AVX2_KERNELS
        if (Avx2KernelsChosen())
            return TKernels{WholeRowSumsAvx2, FilterAcrossAvx2, SumDownAvx2, WholeRowPairsAvx2,
                            IntegerFilterAcrossAvx2};
#endif
        return TKernels{WholeRowSums, FilterAcross, SumDown, nullptr, nullptr};
    }();
    return kernels;
}
