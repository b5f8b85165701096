#include "platform/devices/FrameClock.h"

#include <stdexcept>

#include "platform/devices/FrameTime.h"

namespace devices {

void FrameClock::Start(int32_t rate) {
  if (rate <= 0) throw std::invalid_argument("FrameClock rate must be positive");
  base_ = Frames();
  startUs_ = clock_.NowUs();
  rate_ = rate;
  running_ = true;
}

void FrameClock::Stop() {
  base_ = Frames();
  startUs_ = clock_.NowUs();
  running_ = false;
}

void FrameClock::Reset() {
  running_ = false;
  base_ = 0;
  startUs_ = clock_.NowUs();
}

void FrameClock::SetRate(int32_t rate) {
  if (rate <= 0) throw std::invalid_argument("FrameClock rate must be positive");
  if (running_) {
    Start(rate);
  } else {
    rate_ = rate;
  }
}

int64_t FrameClock::Frames() const {
  if (!running_) return base_;
  return base_ + FramesAfterUs(clock_.NowUs() - startUs_, rate_);
}

int64_t FrameClock::TimeOfFrameUs(int64_t k) const {
  if (!running_) throw std::logic_error("FrameClock is stopped");
  if (k <= base_) return startUs_;
  return startUs_ + UsUntilFrames(k - base_, rate_);
}

}  // namespace devices
