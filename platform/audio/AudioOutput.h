#pragma once
// Where played sound goes. The device stand-ins (the waveOut-style API, the
// DirectSound-7-style API, the sound service library) keep a play cursor on
// the loop's clock and hand the output exactly the frames their cursor has
// passed, in order, when they next run (a call, a notification, or a pump
// tick, below). What the output does with them is its own business:
//
//   virtual   records every frame with the loop time it sounded at (tests)
//   null      counts and drops them
//   wav:PATH  appends them to a 16-bit PCM WAV file
//   device    queues them for the sound card, which plays them a few
//             milliseconds later at its own pace; its consumption steers the loop's clock
//             (platform/audio/SlavedClock.h), so the cursors follow the card
//
// The contract, for every output:
// - Frames are interleaved 16-bit signed PCM, left first, in the format of
//   the latest Start. Start while started changes the format (a tempo change
//   or a U-turn at another rate) without a gap.
// - A frame handed over is played: Stop does not discard what a device still
//   holds, it lets it drain.
// - UnheardFrames() is how many of the frames handed over since the latest
//   Start have not left the loudspeaker yet, by the card's own clock (0 for
//   the simulated outputs). The stand-ins' cursors count frames handed over,
//   so that every run joins the last sample for sample (a U-turn turns
//   exactly where the sound got to); the position reported to the host has
//   these taken off (what is heard).
// - An output that plays ahead of the loop (the sound card) calls the
//   OutputPump given at Start on the loop thread every few milliseconds
//   while started, so that the source hands over what sounded meanwhile. The
//   simulated outputs never call it, so their runs stay exact and event for
//   event the same.
// - Available() is false when there is no device to play on: none at all, or
//   one that went away under the present run (the stand-ins then fail their
//   calls as with a lost device). Between runs a device output that lost its
//   device tries to open it again here.
// Thread: loop thread, every member. A device output's own real-time thread
// never calls out of the output.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace audio {

// A source's "bring yourself up to date" call, as a plain function and its
// argument so that a C library can hand one over as well. Empty = none.
struct OutputPump {
  void (*fn)(void* arg) = nullptr;
  void* arg = nullptr;
};

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;

  // A device starts sounding at `rate` frames per second with `channels`
  // channels; the frames of following Play calls are in this format. `pump`
  // stays in use until Stop or the next Start.
  virtual void Start(int32_t channels, int32_t rate, OutputPump pump) = 0;
  // `frameCount` frames that sounded, the first of them at loop time `atUs`.
  virtual void Play(const int16_t* frames, size_t frameCount, int64_t atUs) = 0;
  // The device stopped (paused, reset or closed); the pump is forgotten. The
  // wav output fixes its header here; a sound card drains what it holds.
  virtual void Stop() = 0;
  // See the contract above (engines find no device, as on a machine
  // without sound).
  virtual bool Available() { return true; }
  virtual int64_t UnheardFrames() { return 0; }
  // Returns once what was handed over before the latest Stop has left the
  // loudspeaker (at once while started; a device waits a bounded while), so
  // that a report of the end of a run comes after the sound has ended.
  virtual void AwaitHeard() {}
};

// Frames of `rate` that sound within `us` microseconds (rounded down).
inline int64_t FramesIn(int64_t us, int32_t rate) { return us * rate / 1000000; }

}  // namespace audio
