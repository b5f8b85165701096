#pragma once
// The test output: consumes frames as the loop's (virtual) clock passes and
// records every frame played, in order, with the loop time it sounded at.
// A test can then say "this run played exactly these frames".

#include <cstdint>
#include <vector>

#include "platform/audio/AudioOutput.h"

namespace audio {

class VirtualOutput final : public AudioOutput {
 public:
  // One stretch of sound between a Start and the next Start.
  struct Segment {
    int32_t channels = 0;
    int32_t rate = 0;
    int64_t firstUs = -1;            // loop time of the first frame, -1 before any
    std::vector<int16_t> samples;    // interleaved
  };

  void Start(int32_t channels, int32_t rate, OutputPump pump) override;
  void Play(const int16_t* frames, size_t frameCount, int64_t atUs) override;
  void Stop() override { ++stops_; }
  bool Available() override { return available_; }

  void SetAvailable(bool available) { available_ = available; }
  // Every sample played since construction or Clear, interleaved, in order.
  std::vector<int16_t> Samples() const;
  // Samples() and forgets them, keeping the present format, so that a device
  // that is playing plays on (a long test drains the output this way).
  std::vector<int16_t> TakeSamples();
  int64_t FramesPlayed() const { return framesPlayed_; }
  // Loop time at which the latest frame played had finished sounding (-1: none).
  int64_t LastFrameEndUs() const { return lastEndUs_; }
  const std::vector<Segment>& Segments() const { return segments_; }
  int Stops() const { return stops_; }
  void Clear();

 private:
  std::vector<Segment> segments_;
  int64_t framesPlayed_ = 0;
  int64_t lastEndUs_ = -1;
  int stops_ = 0;
  bool available_ = true;
};

}  // namespace audio
