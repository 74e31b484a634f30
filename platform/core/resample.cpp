#include "platform/core/resample.h"

#include "platform/core/resample_p.h"
#include "platform/core/thread_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

// The reduction is our own rather than a library's because a thumbnail is made from rows as the
// decoders hand them over, top row or bottom row first, a JPEG strip or a piece of a BMP row at a
// time, and from runs of one colour, so that no picture is ever held whole: a 100-megapixel
// photograph, or a kilobyte that declares a hundred million pixels, costs a few rows of memory.
// The resizers at hand take a picture that is held whole. Its quality and its speed are measured
// against references: Lanczos-3 in double precision on every source pixel, and the decoders' own
// floors (bench/README.md).
//
// A reduction is done in two steps. Whole source pixels are first summed in boxes, down to about
// two and a half times the destination's size on each axis: plain integer sums that read each
// source byte once. The box sums are then filtered with Lanczos-3 widened by the reduction, which
// keeps the detail that a thumbnail can show and drops the rest, where averaging alone would blur
// the one and alias the other. The boxes are narrow beside the filter, so the result is within a
// hair of filtering every source pixel, at a fraction of the work.
//
// The geometry (resample_geometry.cpp) says how pixels are grouped and weighted; the kernels
// (resample_kernels.cpp) do the arithmetic of each row; the reducer below takes the rows as they
// come and drives both.

namespace {

// The memory of a reduction, kept by each thread (thread_buffer.h): the column sums and a row's
// floats are as wide as the picture, everything else is of the destination's size.
struct TReductionMemory {
    TKeptBuffer<std::uint32_t> columns;
    TKeptBuffer<TSums> boxes;
    TKeptBuffer<float> slots;
    TKeptBuffer<const float*> rows;
    TKeptBuffer<float> floats;
    TKeptBuffer<TPixel> sums;
    TKeptBuffer<TInts> pairs;
};

TReductionMemory& ThreadReductionMemory() {
    thread_local TReductionMemory memory;
    return memory;
}

// A row's bytes added to column sums, the bulk of a large reduction's work: written in fixed
// blocks, with no aliasing, so that the compiler makes vector code of it.
void AddRowTo(const std::uint8_t* __restrict row, std::uint32_t* __restrict sums,
              std::size_t count) {
    constexpr std::size_t Block = 32;
    std::size_t i = 0;
    for (; i + Block <= count; i += Block)
        for (std::size_t k = 0; k < Block; ++k)
            sums[i + k] += row[i + k];
    for (; i < count; ++i)
        sums[i] += row[i];
}

// The filter across, in one of the two forms of resample_kernels.cpp: a box row, as its boxes' sums
// or as a source row that is the whole box row, into a row of the destination's width, three
// floats a pixel (out holds one more, for the last pixel's spare lane).
class TFilterAcross {
public:
    TFilterAcross(const TGeometry& geometry, int destinationWidth, bool swapRedBlue)
        : m_geometry(geometry), m_destinationWidth(destinationWidth), m_swapRedBlue(swapRedBlue) {}
    virtual ~TFilterAcross() = default;
    TFilterAcross(const TFilterAcross&) = delete;
    TFilterAcross& operator=(const TFilterAcross&) = delete;

    // A source row that is a whole box row by itself: its boxes are summed straight from its
    // bytes, with no column sums to add up and clear.
    virtual void Row(const std::uint8_t* row, int width, float* out) = 0;
    // The sums of a box row's boxes.
    virtual void Boxes(const TSums* sums, float* out) = 0;

protected:
    const TGeometry& m_geometry;
    int m_destinationWidth;
    bool m_swapRedBlue;
};

// Box sums as floats, and the taps in pairs of floats: the form for every processor.
class TFloatFilter final : public TFilterAcross {
public:
    TFloatFilter(const TGeometry& geometry, int destinationWidth, bool swapRedBlue)
        : TFilterAcross(geometry, destinationWidth, swapRedBlue),
          m_floats(ThreadReductionMemory().floats,
                   geometry.down.box == 1 ? static_cast<std::size_t>(geometry.across.size) * 3 + 1
                                          : 0),
          m_sums(ThreadReductionMemory().sums,
                 static_cast<std::size_t>(geometry.across.Boxes() + geometry.SumsPadding())) {
        // Read but never counted: the last pixel's spare lane and the taps past the last box.
        if (geometry.down.box == 1)
            m_floats.Data()[static_cast<std::size_t>(geometry.across.size) * 3] = 0;
        std::fill_n(m_sums.Data() + geometry.across.Boxes(), geometry.SumsPadding(), TPixel{});
    }

    void Row(const std::uint8_t* row, int width, float* out) override {
        Kernels().wholeRowSums(row, width, m_geometry.across.box, m_floats.Data(), m_sums.Data());
        Filter(out);
    }

    void Boxes(const TSums* sums, float* out) override {
        for (int i = 0, boxes = m_geometry.across.Boxes(); i < boxes; ++i)
            m_sums.Data()[i] = __builtin_convertvector(sums[i], TPixel);
        Filter(out);
    }

private:
    void Filter(float* out) {
        Kernels().filterAcross(m_sums.Data(), m_geometry, m_destinationWidth, m_swapRedBlue, out);
    }

    TBorrowedBuffer<float> m_floats; // a whole row's bytes, as floats
    TBorrowedBuffer<TPixel> m_sums;  // of one box row's boxes
};

// Box sums in pairs of 16 bits, and the taps in 16-bit weights (TGeometry::integer): the form
// for a processor with AVX2, where every box row is one row and every box at most two pixels.
class TIntegerFilter final : public TFilterAcross {
public:
    TIntegerFilter(const TGeometry& geometry, int destinationWidth, bool swapRedBlue)
        : TFilterAcross(geometry, destinationWidth, swapRedBlue),
          m_pairs(ThreadReductionMemory().pairs, PairsSize()) {
        std::fill_n(m_pairs.Data(), PairsSize(), TInts{});
    }

    void Row(const std::uint8_t* row, int width, float* out) override {
        Kernels().wholeRowPairs(row, width, m_geometry.across.box, Pairs());
        Filter(out);
    }

    // The pairs that WholeRowPairsAvx2 makes of a whole row; the sums of a geometry for the
    // integer filter are at most 510, so they fit in 16 bits.
    void Boxes(const TSums* sums, float* out) override {
        using TShorts = std::int16_t __attribute__((vector_size(16)));
        auto lane = [](std::uint32_t value) {
            return static_cast<std::int16_t>(value);
        };
        const TPairs pairs = Pairs();
        for (int i = 0, boxes = m_geometry.across.Boxes(); i < boxes; ++i) {
            const TSums one = sums[i];
            const TSums two = i + 1 < boxes ? sums[i + 1] : TSums{};
            const TShorts pair = {lane(one[0]),
                                  lane(two[0]),
                                  lane(one[1]),
                                  lane(two[1]),
                                  lane(one[2]),
                                  lane(two[2]),
                                  0,
                                  0};
            std::memcpy(pairs.Of(i), &pair, sizeof pair);
        }
        Filter(out);
    }

private:
    std::size_t PairsSize() const {
        return 2 * static_cast<std::size_t>(m_geometry.PairsOfEachParity());
    }
    TPairs Pairs() const {
        return {m_pairs.Data(), m_pairs.Data() + m_geometry.PairsOfEachParity()};
    }
    void Filter(float* out) {
        Kernels().integerFilterAcross(Pairs(), m_geometry, m_destinationWidth, m_swapRedBlue, out);
    }

    TBorrowedBuffer<TInts> m_pairs; // TPairs, even then odd
};

std::unique_ptr<TFilterAcross> MakeFilterAcross(const TGeometry& geometry, int destinationWidth,
                                                bool swapRedBlue) {
    if (geometry.integer)
        return std::make_unique<TIntegerFilter>(geometry, destinationWidth, swapRedBlue);
    return std::make_unique<TFloatFilter>(geometry, destinationWidth, swapRedBlue);
}

// Rows of floats as long as TKernels::sumDown reads them.
std::size_t RoundUpToStep(std::size_t count) {
    constexpr auto Step = static_cast<std::size_t>(SumDownStep);
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
          m_filter(MakeFilterAcross(*m_geometry, destination.width, layout.bgr)),
          m_columns(ThreadReductionMemory().columns, ColumnCount()),
          m_boxes(ThreadReductionMemory().boxes, static_cast<std::size_t>(m_across.Boxes())),
          m_slots(ThreadReductionMemory().slots,
                  m_slotStride * static_cast<std::size_t>(m_slotCount)),
          m_rows(ThreadReductionMemory().rows, static_cast<std::size_t>(m_slotCount)),
          m_dirtyFrom(width), m_nextRow(layout.bottomUp ? destination.height - 1 : 0) {
        // Read but never counted: the last column's spare lane and the slots' padding; zero, so
        // that they are finite.
        std::fill_n(m_columns.Data(), ColumnCount(), 0U);
        std::fill_n(m_boxes.Data(), static_cast<std::size_t>(m_across.Boxes()), TSums{});
        for (int slot = 0; slot < m_slotCount; ++slot)
            std::fill(Slot(slot) + m_rowValues, Slot(slot) + m_slotStride, 0.0F);
    }

    bool Complete() const { return m_delivered == m_height; }

    // Three per column, and one more for the last column's spare lane.
    std::size_t ColumnCount() const { return static_cast<std::size_t>(m_width) * 3 + 1; }

    void Pixels(int count, const std::uint8_t* pixels) override {
        if (m_down.box == 1 && count == m_width) {
            // A whole row that is a whole box row, as in most small pictures.
            m_wholeRow = pixels;
            Advance(count);
            m_wholeRow = nullptr;
            return;
        }
        AddRowTo(pixels, m_columns.Data() + std::ptrdiff_t{m_x} * 3,
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
        TSums* boxes = m_boxes.Data();
        for (int i = x / box, end = x + count; i * box < end; ++i) {
            const int from = std::max(x, i * box);
            const int to = std::min(end, i * box + m_across.BoxLength(i));
            boxes[i] += channels * (static_cast<std::uint32_t>(to - from) * rows);
        }
    }

    // The sums of box row j's boxes, filtered across into its slot; then every destination row
    // whose box rows are all in.
    void FinishBoxRow(int j) {
        if (m_wholeRow != nullptr) {
            m_filter->Row(m_wholeRow, m_width, Slot(j));
        } else {
            AddColumnsToBoxes();
            m_filter->Boxes(m_boxes.Data(), Slot(j));
            std::fill_n(m_boxes.Data(), static_cast<std::size_t>(m_across.Boxes()), TSums{});
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

    // The columns' sums added to their boxes, read only where pixels reached, from m_dirtyFrom to
    // m_dirtyTo, and cleared; each column is read as four sums at once, its spare lane the next
    // column's first (the column sums hold one more, for the last column).
    void AddColumnsToBoxes() {
        const int box = m_across.box;
        for (int i = m_dirtyFrom / box; i * box < m_dirtyTo; ++i)
            for (int x = i * box, to = x + m_across.BoxLength(i); x < to; ++x)
                m_boxes.Data()[i] += LoadUnaligned<TSums>(m_columns.Data() + std::ptrdiff_t{x} * 3);
        const std::ptrdiff_t from = std::ptrdiff_t{m_dirtyFrom} * 3;
        const std::ptrdiff_t to = std::ptrdiff_t{m_dirtyTo} * 3;
        if (from < to)
            std::fill(m_columns.Data() + from, m_columns.Data() + to, 0U);
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
    std::unique_ptr<TFilterAcross> m_filter;
    // Column sums of the current box row's pixels, three per source column.
    TBorrowedBuffer<std::uint32_t> m_columns;
    // The current box row's box sums: its runs of one colour as they come, and its columns once
    // it is complete.
    TBorrowedBuffer<TSums> m_boxes;
    TBorrowedBuffer<float> m_slots;       // box rows filtered across, m_slotCount of them
    TBorrowedBuffer<const float*> m_rows; // the slots that make a destination row
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
