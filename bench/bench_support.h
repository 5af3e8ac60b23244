// Small helpers shared by the benchmark programs: memory readings and medians.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace krevol::bench {

// A /proc/self/status value in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long statusKiB(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return -1;
}

// Resets VmHWM to the current RSS (Linux 4.0 and later); false when not possible.
inline bool resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

inline double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace krevol::bench
