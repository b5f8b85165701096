#pragma once
// Sample loops that the block engine and the play chunk builder share:
// reversing 16-bit samples or stereo frames in place, vector registers at a
// time, and the attribute that gives a loop a second copy for wider vectors.
//
// PLAY_WIDE_VECTORS before a function asks the compiler for a copy built for
// AVX2 beside the baseline x86-64 one; the loader picks one at start-up (an
// ifunc). A ThreadSanitizer build keeps the baseline copy only: its runtime
// is not up when the loader runs the chooser, which then crashes.

#include <cstddef>
#include <cstdint>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PLAY_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define PLAY_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(PLAY_THREAD_SANITIZER)
#define PLAY_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define PLAY_WIDE_VECTORS
#endif

namespace runtime {

// Reverses the order of n samples in place.
void ReverseSamples(int16_t* samples, size_t n);
// Reverses the order of n frames of two samples (2n values) in place; the
// samples of a frame keep their order.
void ReverseFrames(int16_t* frames, size_t n);

}  // namespace runtime
