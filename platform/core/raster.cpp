#include "platform/core/raster.h"

#include <cstdlib>
#include <cstring>

bool Avx2KernelsChosen() {
    static const bool chosen = [] {
#if defined(__x86_64__) && defined(__GNUC__)
        __builtin_cpu_init();
        // Read once; nothing in the program sets it.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        const bool portable = std::getenv("OMBREL_PORTABLE_KERNELS") != nullptr;
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && !portable;
#else
        return false;
#endif
    }();
    return chosen;
}

TRowsWriter::TRowsWriter(const TRgbRows& rows, TRowLayout layout)
    : m_rows(rows), m_layout(layout) {}

std::uint8_t* TRowsWriter::Here() const {
    const int y = m_layout.bottomUp ? m_rows.height - 1 - m_row : m_row;
    return m_rows.Row(y) + std::ptrdiff_t{m_x} * 3;
}

void TRowsWriter::Advance(int count) {
    m_x += count;
    if (m_x >= m_rows.width) {
        m_x = 0;
        ++m_row;
    }
}

void TRowsWriter::Pixels(int count, const std::uint8_t* pixels) {
    std::uint8_t* out = Here();
    if (!m_layout.bgr) {
        std::memcpy(out, pixels, static_cast<std::size_t>(count) * 3);
    } else {
        for (int x = 0; x < count; ++x, out += 3, pixels += 3) {
            out[0] = pixels[2];
            out[1] = pixels[1];
            out[2] = pixels[0];
        }
    }
    Advance(count);
}

void TRowsWriter::Solid(int count, TRgb colour) {
    std::uint8_t* out = Here();
    for (int x = 0; x < count; ++x, out += 3) {
        out[0] = colour.r;
        out[1] = colour.g;
        out[2] = colour.b;
    }
    Advance(count);
}

void TRowsWriter::SolidRows(int count, TRgb colour) {
    for (int i = 0; i < count; ++i)
        Solid(m_rows.width, colour);
}
