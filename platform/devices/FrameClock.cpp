#include "platform/devices/FrameClock.h"

#include <stdexcept>

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
  const int64_t elapsed = clock_.NowUs() - startUs_;
  // Whole seconds and the rest apart, so the product cannot overflow.
  return base_ + (elapsed / 1000000) * rate_ + ((elapsed % 1000000) * rate_) / 1000000;
}

int64_t FrameClock::TimeOfFrameUs(int64_t k) const {
  if (!running_) throw std::logic_error("FrameClock is stopped");
  if (k <= base_) return startUs_;
  const int64_t frames = k - base_;
  const int64_t whole = frames / rate_;
  const int64_t rest = frames % rate_;
  return startUs_ + whole * 1000000 + (rest * 1000000 + rate_ - 1) / rate_;
}

}  // namespace devices
