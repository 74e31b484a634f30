#include "platform/core/colour_memo.h"

#include "platform/core/raster.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#define OMBREL_AVX2_LOOK_UP
#include <immintrin.h>
#endif

// Photographs repeat their colours, and a profile's conversion costs far more per pixel than a
// look-up, so each thread keeps a memo of the colours it last converted (bench/README.md has the
// figures). The conversions keep no state, so a colour converts the same whether it is found or
// converted.
//
// The pixels are taken in runs: every pixel of a run is given the colour its entry holds and the
// ones whose entry was another colour's are noted, with no branch that depends on the picture
// (hits and misses come unpredictably, and a mispredicted branch costs more than the look-up).
// The conversion then takes the noted ones in one call, and they replace their entries: the memo
// is written after the run, never while it is read.

namespace {

// 64 KB of entries: larger memos found more colours, but lost more time to look-ups that left the
// cache, with the decoder's work between the runs, than they saved.
constexpr int MemoSlotBits = 13;
constexpr std::size_t MemoEntries = std::size_t{1} << MemoSlotBits;
constexpr std::size_t MemoRun = 256;
// The look-ups of AVX2 take eight pixels at a time and note the misses of all eight at once.
constexpr std::size_t MemoLanes = 8;

// A colour's key: its three bytes in the low ones of 32 bits. An entry holds a colour's key in its
// low half and its conversion's in the high half; no colour has the key of an empty entry.
constexpr std::uint64_t EmptyEntry = 0xFFFFFFFF;

std::uint32_t Key(const std::uint8_t* pixel) {
    return pixel[0] | std::uint32_t{pixel[1]} << 8 | std::uint32_t{pixel[2]} << 16;
}

// Fibonacci hashing: neighbouring colours land far apart.
constexpr std::uint32_t SlotFactor = 2654435761U;
std::size_t Slot(std::uint32_t key) {
    return (key * SlotFactor) >> (32 - MemoSlotBits);
}

// What a look-up over a run leaves: the keys of the pixels not found and where they are in the run,
// with room for a whole vector of lanes past the last.
struct TMisses {
    std::array<std::uint32_t, MemoRun + MemoLanes> keys;
    std::array<std::uint32_t, MemoRun + MemoLanes> at;
};

// Gives the run's count pixels the conversions that their entries hold and notes the misses;
// returns their number.
using TLookUp = std::size_t (*)(const std::uint64_t* entries, std::uint8_t* pixels,
                                std::size_t count, TMisses& misses);

// The run's pixels from `from` on, one at a time, their misses noted after the `missed` before.
std::size_t LookUpFrom(const std::uint64_t* entries, std::uint8_t* pixels, std::size_t from,
                       std::size_t count, TMisses& misses, std::size_t missed) {
    for (std::size_t i = from; i < count; ++i) {
        std::uint8_t* pixel = pixels + i * 3;
        const std::uint32_t key = Key(pixel);
        const std::uint64_t entry = entries[Slot(key)];
        const auto converted = static_cast<std::uint32_t>(entry >> 32);
        pixel[0] = static_cast<std::uint8_t>(converted);
        pixel[1] = static_cast<std::uint8_t>(converted >> 8);
        pixel[2] = static_cast<std::uint8_t>(converted >> 16);
        misses.keys[missed] = key;
        misses.at[missed] = static_cast<std::uint32_t>(i);
        missed += static_cast<std::size_t>(static_cast<std::uint32_t>(entry) != key);
    }
    return missed;
}

// The reference look-up, which the AVX2 one must equal.
std::size_t LookUp(const std::uint64_t* entries, std::uint8_t* pixels, std::size_t count,
                   TMisses& misses) {
    return LookUpFrom(entries, pixels, 0, count, misses, 0);
}

#ifdef OMBREL_AVX2_LOOK_UP

// For each set of missed lanes, their numbers packed to the front, a byte each.
constexpr std::array<std::uint64_t, 256> PackedLanes = [] {
    std::array<std::uint64_t, 256> table{};
    for (std::size_t mask = 0; mask < table.size(); ++mask) {
        int packed = 0;
        for (std::uint64_t lane = 0; lane < MemoLanes; ++lane)
            if ((mask >> lane & 1U) != 0)
                table[mask] |= lane << (8 * packed++);
    }
    return table;
}();

// The look-up above, eight pixels (24 bytes) at a time: their keys are shuffled out of the bytes,
// their entries gathered, and the missed lanes' keys and places packed to the front of a vector by
// a table (PackedLanes) and stored where the misses go on; the pixels beyond the last eight are
// looked up one by one. Loads and stores touch only the run's own bytes.
__attribute__((target("avx2"))) std::size_t
LookUpAvx2(const std::uint64_t* entries, std::uint8_t* pixels, std::size_t count, TMisses& misses) {
    const __m256i toKeys = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i toBytes =
        _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6,
                         8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i factor = _mm256_set1_epi32(static_cast<int>(SlotFactor));
    const auto* table = reinterpret_cast<const long long*>(entries);
    std::size_t missed = 0;
    std::size_t i = 0;
    for (; i + MemoLanes <= count; i += MemoLanes) {
        std::uint8_t* group = pixels + i * 3;
        // Pixels 0 to 3 in the low half, 4 to 7 in the high half, each in the low 12 bytes.
        const __m128i front = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group));
        const __m128i back = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(group + 16));
        const __m256i bytes = _mm256_set_m128i(_mm_alignr_epi8(back, front, 12), front);
        const __m256i keys = _mm256_shuffle_epi8(bytes, toKeys);
        const __m256i slots =
            _mm256_srli_epi32(_mm256_mullo_epi32(keys, factor), 32 - MemoSlotBits);
        const __m256i low = _mm256_i32gather_epi64(table, _mm256_castsi256_si128(slots), 8);
        const __m256i high = _mm256_i32gather_epi64(table, _mm256_extracti128_si256(slots, 1), 8);
        // The entries' halves, each in lanes of pixels 0 1 4 5 2 3 6 7, put in order.
        const __m256 lowFloats = _mm256_castsi256_ps(low);
        const __m256 highFloats = _mm256_castsi256_ps(high);
        const __m256i found = _mm256_permute4x64_epi64(
            _mm256_castps_si256(_mm256_shuffle_ps(lowFloats, highFloats, _MM_SHUFFLE(2, 0, 2, 0))),
            _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i converted = _mm256_shuffle_epi8(
            _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(
                                         lowFloats, highFloats, _MM_SHUFFLE(3, 1, 3, 1))),
                                     _MM_SHUFFLE(3, 1, 2, 0)),
            toBytes);
        // Pixels 0 to 3 with four bytes to spare, which pixel 4's bytes then overwrite.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(group), _mm256_castsi256_si128(converted));
        const __m128i later = _mm256_extracti128_si256(converted, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(group + 12), later);
        const auto last = static_cast<std::uint32_t>(_mm_extract_epi32(later, 2));
        std::memcpy(group + 20, &last, sizeof last);

        const auto missMask = static_cast<unsigned>(
            ~_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(found, keys))) & 0xFF);
        const __m256i lanes =
            _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(PackedLanes[missMask])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(misses.keys.data() + missed),
                            _mm256_permutevar8x32_epi32(keys, lanes));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(misses.at.data() + missed),
                            _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<int>(i))));
        missed += static_cast<std::size_t>(std::popcount(missMask));
    }
    return LookUpFrom(entries, pixels, i, count, misses, missed);
}
#endif

// The look-up for this processor, chosen once (see Avx2KernelsChosen).
TLookUp ChosenLookUp() {
#ifdef OMBREL_AVX2_LOOK_UP
    if (Avx2KernelsChosen())
        return LookUpAvx2;
#endif
    return LookUp;
}

class TMemo {
public:
    void Convert(const TColourConversion& conversion, std::uint64_t serial, std::uint8_t* pixels,
                 std::size_t count) {
        if (m_owner != serial) {
            m_entries.assign(MemoEntries, EmptyEntry);
            m_owner = serial;
        }
        for (std::size_t start = 0; start < count; start += MemoRun)
            ConvertRun(conversion, pixels + start * 3, std::min(MemoRun, count - start));
    }

private:
    void ConvertRun(const TColourConversion& conversion, std::uint8_t* pixels, std::size_t count) {
        static const TLookUp lookUp = ChosenLookUp();
        const std::size_t missed = lookUp(m_entries.data(), pixels, count, m_misses);
        if (missed == 0)
            return;
        std::array<std::uint8_t, MemoRun * 3> colours; // the colours missed, then their conversions
        for (std::size_t j = 0; j < missed; ++j) {
            colours[j * 3] = static_cast<std::uint8_t>(m_misses.keys[j]);
            colours[j * 3 + 1] = static_cast<std::uint8_t>(m_misses.keys[j] >> 8);
            colours[j * 3 + 2] = static_cast<std::uint8_t>(m_misses.keys[j] >> 16);
        }
        conversion.Convert(colours.data(), missed);
        for (std::size_t j = 0; j < missed; ++j) {
            const std::uint8_t* converted = colours.data() + j * 3;
            std::memcpy(pixels + std::size_t{m_misses.at[j]} * 3, converted, 3);
            m_entries[Slot(m_misses.keys[j])] = m_misses.keys[j] | std::uint64_t{Key(converted)}
                                                                       << 32;
        }
    }

    std::vector<std::uint64_t> m_entries;
    TMisses m_misses{};
    std::uint64_t m_owner = 0; // the serial of the conversion the entries belong to; none is 0
};

std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

} // namespace

TColourConversion::TColourConversion() : m_serial(NextSerial()) {}

void TColourConversion::ConvertRemembering(std::uint8_t* pixels, std::size_t count) const {
    thread_local TMemo memo;
    memo.Convert(*this, m_serial, pixels, count);
}
