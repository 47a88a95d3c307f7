// Timing shared by the benchmarks: a monotonic clock in seconds, and the best per-call time of
// cases that take turns, so that a slow spell of the disk does not fall on one case alone.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

inline double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency;
}

// One case: run called count times in a row per round.
struct TimedCase {
  int count;
  std::function<void()> run;
};

// Best per-call time (microseconds) of each case over the rounds; within a round the cases take
// turns.
inline std::vector<double> BestPerCall(const std::vector<TimedCase>& cases, int rounds) {
  std::vector<double> best(cases.size(), 1e30);
  for (int round = 0; round < rounds; ++round) {
    for (size_t c = 0; c < cases.size(); ++c) {
      const double start = Now();
      for (int i = 0; i < cases[c].count; ++i) cases[c].run();
      best[c] = std::min(best[c], (Now() - start) / cases[c].count * 1e6);
    }
  }
  return best;
}

}  // namespace bench
