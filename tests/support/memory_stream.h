#pragma once

// A file in memory for the readers that take a TStream: the tests' and the fuzz targets'. Header
// only, so that the fuzz targets, built without the tests, use it too.

#include "platform/core/file_stream.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace test {

// Hands out at most maxRead bytes a call, as a pipe or a slow disk might, and may claim a size
// other than its own, as a file that shrank while it was read. One thread.
class TMemoryStream : public TStream {
public:
    explicit TMemoryStream(std::string_view bytes, int maxRead = INT_MAX,
                           std::int64_t claimedSize = -1)
        : m_bytes(bytes), m_maxRead(static_cast<std::size_t>(maxRead)),
          m_size(claimedSize >= 0 ? claimedSize : static_cast<std::int64_t>(bytes.size())) {}

    int Read(void* buffer, int count) override {
        const auto wanted = static_cast<std::size_t>(count);
        const std::size_t step = std::min({wanted, m_bytes.size() - m_position, m_maxRead});
        m_readsPastTheEnd += step < wanted && m_position + step == m_bytes.size() ? 1 : 0;
        std::memcpy(buffer, m_bytes.data() + m_position, step);
        m_position += step;
        return static_cast<int>(step);
    }
    std::int64_t Size() const override { return m_size; }
    // Reads that asked for more than was left: on a file, each costs a system call that only finds
    // its end.
    int ReadsPastTheEnd() const { return m_readsPastTheEnd; }

private:
    std::string m_bytes;
    std::size_t m_position = 0;
    std::size_t m_maxRead;
    std::int64_t m_size;
    int m_readsPastTheEnd = 0;
};

} // namespace test
