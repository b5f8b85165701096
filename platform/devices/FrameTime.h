#pragma once
// Frames and microseconds at a device's rate: the one conversion between a
// span of sound and the clock that every device stand-in and the sound
// service library use. Header-only, so that the sound service library (a
// shared object of its own that links nothing of the platform) compiles it
// as well. Whole seconds and the rest are taken apart, so that no product
// overflows for any span a 64-bit microsecond clock can hold.

#include <cstdint>

namespace devices {

inline constexpr int64_t kUsPerSecond = 1000000;

// Frames of `rate` frames per second that have sounded `elapsedUs` after a
// span began: floor(elapsedUs x rate / 1e6). REQUIRES: elapsedUs >= 0, rate > 0.
constexpr int64_t FramesAfterUs(int64_t elapsedUs, int32_t rate) {
  return (elapsedUs / kUsPerSecond) * rate + ((elapsedUs % kUsPerSecond) * rate) / kUsPerSecond;
}

// The first time after a span began at which `frames` frames of `rate` have
// sounded: ceil(frames x 1e6 / rate), so FramesAfterUs of it is `frames`.
// REQUIRES: frames >= 0, rate > 0.
constexpr int64_t UsUntilFrames(int64_t frames, int32_t rate) {
  return (frames / rate) * kUsPerSecond + ((frames % rate) * kUsPerSecond + rate - 1) / rate;
}

}  // namespace devices
