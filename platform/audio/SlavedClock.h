#pragma once
// The loop's clock when a sound card plays: the machine's steady clock, run
// a little faster or slower as the card asks, so that the device stand-ins,
// whose cursors move on the loop's clock, hand the card frames exactly as
// fast as it plays them. Without a card (or until it speaks) it is the
// steady clock. Monotonic: the speed stays within kMinRatio..kMaxRatio.
// Thread: loop thread only.

#include <cstdint>

#include "platform/os/Clock.h"

namespace audio {

class SlavedClock final : public os::Clock {
 public:
  static constexpr double kMinRatio = 0.5;
  static constexpr double kMaxRatio = 1.5;

  int64_t NowUs() const override;
  double SecondsSinceMidnight() const override { return steady_.SecondsSinceMidnight(); }
  bool IsManual() const override { return false; }

  // From now on this clock advances `ratio` microseconds per steady
  // microsecond (clamped to kMinRatio..kMaxRatio).
  void SetRatio(double ratio);
  double Ratio() const { return ratio_; }
  // Moves this clock on by `us` (>= 0) at once: what a sound card is given
  // ahead at the start of a run.
  void Advance(int64_t us) { baseUs_ += us > 0 ? us : 0; }

 private:
  os::SteadyClock steady_;
  int64_t baseUs_ = 0;        // this clock's reading at steadyBaseUs_
  int64_t steadyBaseUs_ = 0;  // steady reading when the ratio last changed
  double ratio_ = 1.0;
};

}  // namespace audio
