#include "job/parallel.h"

#include <algorithm>
#include <sched.h>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

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

#if defined(__SANITIZE_THREAD__)
namespace {
void* key(const void* p) {
    return const_cast<void*>(p);
}
} // namespace

void handOver(const void* k) {
    __tsan_release(key(k));
}

void takeOver(const void* k) {
    __tsan_acquire(key(k));
}
#else
void handOver(const void*) {}
void takeOver(const void*) {}
#endif

StageTurn::StageTurn(const void* stage, const void* item) : stage(stage), item(item) {
    takeOver(stage);
    if (item != nullptr) {
        takeOver(item);
    }
}

StageTurn::~StageTurn() {
    if (item != nullptr) {
        handOver(item);
    }
    handOver(stage);
}

} // namespace veltrana
