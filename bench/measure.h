#pragma once

// Clocks, statistics and the process's memory, as the bench reads them.

#include <chrono>
#include <cstdint>
#include <vector>

namespace bench {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start);

template <class TAction> double SecondsOf(TAction&& action) {
    const TClock::time_point start = TClock::now();
    action();
    return SecondsSince(start);
}

struct TStats {
    double median = 0;
    double min = 0;
    double max = 0;
};

TStats StatsOf(std::vector<double> values);
// The value below which the given fraction (0..1) of values lie, nearest rank.
double Percentile(std::vector<double> values, double fraction);

// The process's resident memory now and its high-water mark, in bytes, from /proc/self/status.
std::int64_t ResidentBytes();
std::int64_t PeakResidentBytes();

// Measures how far one operation raises the resident memory above what it was before: freed heap
// is returned to the system first, then the kernel's high-water mark is reset (Linux 4.0 and
// later). Available() is false where the mark cannot be reset.
class TPeakGrowth {
public:
    static bool Available();
    TPeakGrowth();
    std::int64_t Bytes() const;

private:
    std::int64_t m_before = 0;
};

} // namespace bench
