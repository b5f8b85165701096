#pragma once
// Counts the frames a sound device has played, from the loop's clock: while
// running, the count grows at `rate` frames per second; while stopped it holds.
// The waveOut-style and DirectSound-7-style devices each use one, so that
// under a ManualClock the number of frames played by any moment is exact and
// repeatable (the arithmetic is platform/devices/FrameTime.h's):
//   Frames() = base + floor((now - startUs) * rate / 1e6)
// TimeOfFrameUs(k) is the first loop time at which Frames() >= k, in the past
// as well as in the future (frames counted before the present running span
// give the span's start).

#include <cstdint>

#include "platform/os/Clock.h"

namespace devices {

class FrameClock final {
 public:
  explicit FrameClock(const os::Clock& clock) : clock_(clock) {}

  // Counting resumes from the present count at `rate` (> 0) frames per second.
  void Start(int32_t rate);
  // Holds the present count.
  void Stop();
  // Count 0, stopped.
  void Reset();
  // Keeps the count so far; a running clock continues at the new rate.
  void SetRate(int32_t rate);

  bool Running() const { return running_; }
  int32_t Rate() const { return rate_; }
  int64_t Frames() const;
  // REQUIRES: Running().
  int64_t TimeOfFrameUs(int64_t k) const;

 private:
  const os::Clock& clock_;
  bool running_ = false;
  int32_t rate_ = 0;
  int64_t base_ = 0;     // frames counted before startUs_
  int64_t startUs_ = 0;  // when the present running span began
};

}  // namespace devices
