#pragma once
// Where played sound goes. The device stand-ins (the waveOut-style API, the
// DirectSound-7-style API, the sound service library) decide from the loop's
// clock which frames have sounded and hand exactly those frames, in the order
// they sounded, to the one AudioOutput chosen at server start:
//
//   virtual   consumes frames as virtual time passes; records every frame (tests)
//   null      real time, discards
//   wav:PATH  writes every frame played to a 16-bit PCM WAV file
//
// Frames are interleaved 16-bit signed PCM, left first. Thread: loop thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;

  // A device starts sounding at `rate` frames per second with `channels`
  // channels; the frames of following Play calls are in this format.
  virtual void Start(int32_t channels, int32_t rate) = 0;
  // `frameCount` frames that sounded, the first of them at loop time `atUs`.
  virtual void Play(const int16_t* frames, size_t frameCount, int64_t atUs) = 0;
  // The device stopped (paused, reset or closed). The wav output fixes its
  // header here.
  virtual void Stop() = 0;
  // False when the platform has no device to play on (engines then find no
  // device, as on a machine without sound).
  virtual bool Available() const { return true; }
};

}  // namespace platform
