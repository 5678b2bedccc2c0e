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

} // namespace veltrana
