#pragma once
// The output for real-time runs without sound: the device stand-ins consume
// frames at their rate on the loop's (real) clock and hand them here, where
// they are counted and dropped. Thread: loop thread.

#include <cstdint>

#include "platform/audio/AudioOutput.h"

namespace audio {

class NullOutput final : public AudioOutput {
 public:
  // REQUIRES: channels >= 1 and rate >= 1 (std::invalid_argument otherwise).
  void Start(int32_t channels, int32_t rate, OutputPump pump) override;
  void Play(const int16_t* frames, size_t frameCount, int64_t atUs) override;
  void Stop() override {}

  // Frames handed over since construction (for diagnostics).
  int64_t FramesPlayed() const { return framesPlayed_; }

 private:
  int64_t framesPlayed_ = 0;
};

}  // namespace audio
