#pragma once
// Loops compiled a second time for AVX2, picked at load time where the
// machine has it. Whole-number sums give the same result either way.
//
// The choice runs while the program is being loaded, before the thread
// sanitizer's runtime is ready, so its builds keep the plain loop.

#if defined(__SANITIZE_THREAD__)
#define VELTRANA_ALSO_FOR_AVX2
#else
#define VELTRANA_ALSO_FOR_AVX2 __attribute__((target_clones("avx2", "default")))
#endif
