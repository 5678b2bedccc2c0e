#include "job/parallel.h"

#include <algorithm>
#include <sched.h>
#include <thread>

namespace veltrana {

int availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        return std::max(CPU_COUNT(&set), 1);
    }
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

int jobThreads(int threads) {
    return threads <= 0 ? availableCores() : threads;
}

int framesInFlight(int threads) {
    return std::max(threads, 1) + 2;
}

} // namespace veltrana
