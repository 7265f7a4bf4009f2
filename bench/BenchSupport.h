#pragma once

// Small measuring helpers shared by the benchmark programs.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace bench {

// CPU seconds this process has used so far, all threads together.
inline double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double wall = 1e9; // seconds
    double cpu = 1e9;  // seconds
};

// The best of `runs` runs, so that a stray scheduling delay does not count.
template <class F>
Figures bestOf(int runs, F&& work)
{
    Figures best;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = cpuSeconds();
        work();
        best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        best.cpu = std::min(best.cpu, cpuSeconds() - cpu);
    }
    return best;
}

} // namespace bench
