#include "platform/runtime/SampleLoops.h"

#include <cstring>

namespace runtime {

namespace {

// Reverses n units of type T that lie from `bytes` on (not necessarily
// aligned for T), a Group of them (one 32-byte vector, two of 16 bytes in
// the baseline copy) from each end at a time, kOrder being the reversed
// order within a group. Every access goes through memcpy. Inlined, so that
// it takes the instruction set of the copy it is called from.
template <typename T, typename Group, int... kOrder>
__attribute__((always_inline)) inline void ReverseUnits(unsigned char* bytes, size_t n) {
  constexpr size_t kGroup = sizeof...(kOrder);
  static_assert(sizeof(Group) == kGroup * sizeof(T));
  const auto at = [bytes](size_t unit) { return bytes + unit * sizeof(T); };
  size_t i = 0;  // units i..j-1 are not yet in place
  size_t j = n;
  while (j - i >= 2 * kGroup) {
    Group front;
    Group back;
    std::memcpy(&front, at(i), sizeof front);
    std::memcpy(&back, at(j - kGroup), sizeof back);
    front = __builtin_shufflevector(front, front, kOrder...);
    back = __builtin_shufflevector(back, back, kOrder...);
    std::memcpy(at(i), &back, sizeof back);
    std::memcpy(at(j - kGroup), &front, sizeof front);
    i += kGroup;
    j -= kGroup;
  }
  for (; j - i >= 2; ++i, --j) {
    T a;
    T b;
    std::memcpy(&a, at(i), sizeof a);
    std::memcpy(&b, at(j - 1), sizeof b);
    std::memcpy(at(i), &b, sizeof b);
    std::memcpy(at(j - 1), &a, sizeof a);
  }
}

using SixteenSamples = uint16_t __attribute__((vector_size(32)));
using EightFrames = uint32_t __attribute__((vector_size(32)));

}  // namespace

PLAY_WIDE_VECTORS void ReverseSamples(int16_t* samples, size_t n) {
  ReverseUnits<uint16_t, SixteenSamples, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0>(
      reinterpret_cast<unsigned char*>(samples), n);
}

// A frame of two 16-bit samples moves as one 32-bit unit.
PLAY_WIDE_VECTORS void ReverseFrames(int16_t* frames, size_t n) {
  ReverseUnits<uint32_t, EightFrames, 7, 6, 5, 4, 3, 2, 1, 0>(reinterpret_cast<unsigned char*>(frames), n);
}

}  // namespace runtime
