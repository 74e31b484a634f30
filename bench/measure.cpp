#include "bench/measure.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include <malloc.h>

namespace bench {

namespace {

std::int64_t StatusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field + ":"))
            return std::stoll(line.substr(field.size() + 1)) * 1024;
    return 0;
}

bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

} // namespace

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

TStats StatsOf(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    const double median =
        values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {median, values.front(), values.back()};
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::int64_t ResidentBytes() {
    return StatusBytes("VmRSS");
}

std::int64_t PeakResidentBytes() {
    return StatusBytes("VmHWM");
}

bool TPeakGrowth::Available() {
    static const bool available = [] {
        if (!ResetPeak())
            return false;
        // After a reset the mark is the current size, give or take the pages touched since.
        return PeakResidentBytes() - ResidentBytes() < 4 * 1024 * 1024;
    }();
    return available;
}

TPeakGrowth::TPeakGrowth() {
    malloc_trim(0);
    ResetPeak();
    m_before = ResidentBytes();
}

std::int64_t TPeakGrowth::Bytes() const {
    return std::max<std::int64_t>(0, PeakResidentBytes() - m_before);
}

} // namespace bench
