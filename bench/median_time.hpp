#pragma once
// The median wall time of a piece of work over a few runs, for the
// comparisons the benches print side by side: one slow run (a page fault
// storm, another program) moves a median less than a mean.

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

inline double median_ms(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}
