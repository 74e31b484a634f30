#include "platform/core/raster.h"

#include <cstring>

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
