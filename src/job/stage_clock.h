#pragma once
// The time a stage of a job takes, for the benchmarks' timings.

#include <chrono>

namespace veltrana {

using StageClock = std::chrono::steady_clock;

inline double secondsSince(StageClock::time_point began) {
    return std::chrono::duration<double>(StageClock::now() - began).count();
}

} // namespace veltrana
