#pragma once

#include <cstddef>
#include <vector>

// Memory that every load needs, kept by each thread from one load to the next: a fresh buffer
// costs a page fault on the first touch of each of its pages, which on these machines is far more
// than the work done in it. A buffer is kept only up to MaxKeptBytes, so that one very wide picture
// cannot pin its memory for the thread's life; a larger one, or one asked for while the thread's
// own is in use, belongs to the borrower and is freed with it.
constexpr std::size_t MaxKeptBytes = std::size_t{1} << 20;

template <class T> struct TKeptBuffer {
    std::vector<T> values;
    bool busy = false;
};

// At least count elements, of unspecified values, for as long as the borrower lives.
template <class T> class TBorrowedBuffer {
public:
    TBorrowedBuffer(TKeptBuffer<T>& kept, std::size_t count)
        : m_kept(count * sizeof(T) <= MaxKeptBytes && !kept.busy ? &kept : nullptr) {
        std::vector<T>& values = m_kept != nullptr ? m_kept->values : m_own;
        if (m_kept != nullptr)
            m_kept->busy = true;
        if (values.size() < count)
            values.resize(count);
        m_data = values.data();
    }
    ~TBorrowedBuffer() {
        if (m_kept != nullptr)
            m_kept->busy = false;
    }
    TBorrowedBuffer(const TBorrowedBuffer&) = delete;
    TBorrowedBuffer& operator=(const TBorrowedBuffer&) = delete;

    T* Data() const { return m_data; }

private:
    TKeptBuffer<T>* m_kept;
    std::vector<T> m_own;
    T* m_data = nullptr;
};
