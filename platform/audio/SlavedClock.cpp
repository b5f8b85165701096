#include "platform/audio/SlavedClock.h"

#include <algorithm>
#include <cmath>

namespace audio {

int64_t SlavedClock::NowUs() const {
  const int64_t elapsed = steady_.NowUs() - steadyBaseUs_;
  return baseUs_ + static_cast<int64_t>(std::llround(static_cast<double>(elapsed) * ratio_));
}

void SlavedClock::SetRatio(double ratio) {
  const int64_t steadyNow = steady_.NowUs();
  baseUs_ += static_cast<int64_t>(std::llround(static_cast<double>(steadyNow - steadyBaseUs_) * ratio_));
  steadyBaseUs_ = steadyNow;
  ratio_ = std::clamp(ratio, kMinRatio, kMaxRatio);
}

}  // namespace audio
