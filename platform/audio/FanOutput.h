#pragma once
// Several outputs playing the same frames: every call goes to each, in the
// order given. Available only when all are; what is not heard yet is the
// most any of them holds. Thread: loop thread.

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/audio/AudioOutput.h"

namespace audio {

class FanOutput final : public AudioOutput {
 public:
  explicit FanOutput(std::vector<std::unique_ptr<AudioOutput>> outputs) : outputs_(std::move(outputs)) {}

  void Start(int32_t channels, int32_t rate, OutputPump pump) override {
    for (auto& o : outputs_) o->Start(channels, rate, pump);
  }
  void Play(const int16_t* frames, size_t frameCount, int64_t atUs) override {
    for (auto& o : outputs_) o->Play(frames, frameCount, atUs);
  }
  void Stop() override {
    for (auto& o : outputs_) o->Stop();
  }
  bool Available() override {
    bool all = true;
    for (auto& o : outputs_) all = o->Available() && all;
    return all;
  }
  void AwaitHeard() override {
    for (auto& o : outputs_) o->AwaitHeard();
  }
  int64_t UnheardFrames() override {
    int64_t most = 0;
    for (const auto& o : outputs_) most = std::max(most, o->UnheardFrames());
    return most;
  }

 private:
  std::vector<std::unique_ptr<AudioOutput>> outputs_;
};

}  // namespace audio
