#include "bench/report.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <sys/utsname.h>

namespace bench {

namespace {

std::string Field(const char* file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(name)) {
            const std::size_t colon = line.find(':');
            const std::size_t start = line.find_first_not_of(" \t", colon + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    return "";
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Megabytes(std::int64_t bytes) {
    return bytes < 0 ? "-" : Format("%.1f", double(bytes) / (1024.0 * 1024.0));
}

std::string Json(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            quoted += ' ';
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string Json(double value) {
    return std::isfinite(value) ? Format("%.6g", value) : "null";
}

std::string Json(const TStats& stats, double unit) {
    return "{\"median\": " + Json(stats.median * unit) + ", \"min\": " + Json(stats.min * unit) +
           ", \"max\": " + Json(stats.max * unit) + "}";
}

} // namespace

TMachine ThisMachine() {
    TMachine machine;
    machine.processors = int(std::thread::hardware_concurrency());
    machine.cpu = Field("/proc/cpuinfo", "model name");
    const std::string total = Field("/proc/meminfo", "MemTotal");
    machine.memoryBytes = total.empty() ? 0 : std::stoll(total) * 1024;
    utsname names{};
    if (uname(&names) == 0)
        machine.kernel = std::string(names.sysname) + " " + names.release;
    return machine;
}

void Print(const TReport& report) {
    std::cout << "\nMachine: " << report.machine.processors << " processors, " << report.machine.cpu
              << ", " << Format("%.1f", double(report.machine.memoryBytes) / (1 << 30)) << " GiB, "
              << report.machine.kernel << "\nCorpus: " << report.corpus
              << (report.quick ? " (quick)" : "") << "\nContent: " << report.content << "\n\n";
    std::cout << "| Part | Items | Median ms/item | Min | Max | Thumbs/s | Floor | Floor ms/item | "
                 "Ratio | Peak growth MB |\n|---|---|---|---|---|---|---|---|---|---|\n";
    for (const TPart& part : report.parts)
        std::cout << "| " << part.name << " | " << part.items << " x " << part.runs << " | "
                  << Format("%.2f", part.perItem.median * 1e3) << " | "
                  << Format("%.2f", part.perItem.min * 1e3) << " | "
                  << Format("%.2f", part.perItem.max * 1e3) << " | "
                  << Format("%.0f", part.perItem.median > 0 ? 1 / part.perItem.median : 0) << " | "
                  << (part.floorName.empty() ? "-" : part.floorName) << " | "
                  << (part.floorName.empty() ? "-" : Format("%.2f", part.floorPerItem.median * 1e3))
                  << " | " << (part.floorName.empty() ? "-" : Format("%.2f", part.Ratio())) << " | "
                  << Megabytes(part.peakGrowth) << " |\n";
    std::cout << "\n| Target | Measured | Limit | Met |\n|---|---|---|---|\n";
    for (const TTarget& target : report.targets)
        std::cout << "| " << target.what << " | " << Format("%.3g", target.measured) << " "
                  << target.unit << " | " << target.limit << " | "
                  << (!target.judged ? "-"
                      : target.met   ? "yes"
                                     : "NO")
                  << " |\n";
    std::cout << std::endl;
}

void WriteJson(const TReport& report, const std::filesystem::path& path) {
    std::ostringstream out;
    out << "{\n  \"machine\": {\"processors\": " << report.machine.processors
        << ", \"cpu\": " << Json(report.machine.cpu)
        << ", \"memory_bytes\": " << report.machine.memoryBytes
        << ", \"kernel\": " << Json(report.machine.kernel) << "},\n"
        << "  \"corpus\": " << Json(report.corpus) << ",\n  \"content\": " << Json(report.content)
        << ",\n  \"quick\": " << (report.quick ? "true" : "false") << ",\n  \"parts\": [";
    for (std::size_t i = 0; i < report.parts.size(); ++i) {
        const TPart& part = report.parts[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << Json(part.name)
            << ", \"items\": " << part.items << ", \"runs\": " << part.runs
            << ", \"ms_per_item\": " << Json(part.perItem, 1e3) << ", \"thumbs_per_second\": "
            << Json(part.perItem.median > 0 ? 1 / part.perItem.median : 0)
            << ", \"floor\": " << Json(part.floorName)
            << ", \"floor_ms_per_item\": " << Json(part.floorPerItem, 1e3)
            << ", \"ratio_to_floor\": " << Json(part.Ratio())
            << ", \"peak_growth_bytes\": " << part.peakGrowth << "}";
    }
    out << "\n  ],\n  \"targets\": [";
    for (std::size_t i = 0; i < report.targets.size(); ++i) {
        const TTarget& target = report.targets[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"what\": " << Json(target.what)
            << ", \"measured\": " << Json(target.measured) << ", \"unit\": " << Json(target.unit)
            << ", \"limit\": " << Json(target.limit) << ", \"met\": "
            << (!target.judged ? "null"
                : target.met   ? "true"
                               : "false")
            << "}";
    }
    out << "\n  ]\n}\n";
    std::ofstream(path) << out.str();
}

} // namespace bench
