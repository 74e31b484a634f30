#pragma once

// What a bench run found: a timing table per corpus part and the targets, printed for people and
// written as JSON for tools.

#include "bench/measure.h"

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// One corpus part: seconds per item over the runs, and the floor measured beside it in each run.
struct TPart {
    std::string name;
    int items = 0;
    int runs = 0;
    TStats perItem;
    std::string floorName;
    TStats floorPerItem;
    std::int64_t peakGrowth = -1; // bytes; -1 where not measured
    double Ratio() const {
        return floorPerItem.median > 0 ? perItem.median / floorPerItem.median : 0;
    }
};

struct TTarget {
    std::string what;
    double measured = 0;
    std::string unit;
    std::string limit; // as the target states it, e.g. "<= 1.1"
    bool met = false;
    bool judged = true; // false where the limit does not apply to this run
};

struct TMachine {
    int processors = 0;
    std::string cpu;
    std::int64_t memoryBytes = 0;
    std::string kernel;
};

TMachine ThisMachine();

struct TReport {
    TMachine machine;
    std::string corpus;
    std::string content;
    bool quick = false;
    std::vector<TPart> parts;
    std::vector<TTarget> targets;
};

void Print(const TReport& report);
void WriteJson(const TReport& report, const std::filesystem::path& path);

} // namespace bench
