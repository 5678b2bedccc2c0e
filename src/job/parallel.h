#pragma once
// How many frames a job works on at once.

namespace veltrana {

// The cores this process may run on (its CPU affinity), at least 1.
int availableCores();

// The threads a job uses for a setting of `threads`: 0 means every available
// core; anything else is taken as it is, at least 1.
int jobThreads(int threads);

// Frames in flight at once for `threads` threads: each thread's frame, one
// waiting to be taken up and one being reported. Only frames being read hold
// a whole scan, so the peak memory is about threads + 2 scans.
int framesInFlight(int threads);

// oneTBB hands a frame from stage to stage, and a serial stage from thread
// to thread, inside its own library, which the thread sanitizer cannot see
// into. These tell it: what was done under a key before handOver(key)
// happened before what is done after takeOver(key). In other builds they do
// nothing.
void handOver(const void* key);
void takeOver(const void* key);

// Takes over the keys for the length of a stage's work and hands them over
// at its end.
class StageTurn {
public:
    explicit StageTurn(const void* stage, const void* item = nullptr);
    ~StageTurn();
    StageTurn(const StageTurn&) = delete;
    StageTurn& operator=(const StageTurn&) = delete;

private:
    const void* stage;
    const void* item;
};

} // namespace veltrana
