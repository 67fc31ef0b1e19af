#pragma once
// The benchmarks' one way to time a call: the median of several runs, so that a stray slow run
// (another process, a cold cache) does not move the figure.

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// Median time of one call of `call` over `repetitions` runs, in units of `Unit` (std::milli
// for milliseconds, std::micro for microseconds).
template <typename Unit> double medianTime(int repetitions, const std::function<void()> &call) {
    std::vector<double> times;
    for (int i = 0; i < std::max(1, repetitions); ++i) {
        const auto start = std::chrono::steady_clock::now();
        call();
        times.push_back(
            std::chrono::duration<double, Unit>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}
