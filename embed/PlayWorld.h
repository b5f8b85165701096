#pragma once
// Everything one play object runs in: the clock (virtual or real), the event
// loop, the message box, the audio output, the audio platform, the play
// context and the PlayDllClass object itself. Built on the thread that
// creates the handle; from then on used on the handle's loop thread only.
//
// PlayWorld is the seam tests use to run the handle over scripted engines;
// MakePlayWorld builds the real one from the options playsrv and
// playdll_create take.

#include <cstdint>
#include <memory>
#include <string>

#include "facade/PlayDllClass.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/os/EventLoop.h"

namespace embed {

class PlayWorld {
 public:
  virtual ~PlayWorld() = default;
  virtual os::EventLoop& Loop() = 0;
  virtual facade::PlayDllClass& Play() = 0;
  bool Simulated() { return Loop().GetClock().IsManual(); }
};

struct WorldOptions {
  // Virtual clock: time moves only when the host advances it.
  bool Simulate = false;
  // Audio output (platform/audio/AudioOutputs.h); empty: "virtual" when
  // simulated, otherwise the sound card when one opens, else "null".
  std::string Output;
  // What a sound card output keeps queued, in ms; 0: the sound system's
  // least safe queue and a few milliseconds of our own.
  int32_t LatencyMs = 0;
  // The device APIs the platform offers.
  devices::AudioOffer Offer;
  // Full path of the sound service library; "" for none.
  std::string SoundServicePath;
};

// Throws std::invalid_argument or os::PlayError (an output that cannot be
// made, such as a WAV path that is a folder) with the reason.
std::unique_ptr<PlayWorld> MakePlayWorld(const WorldOptions& options);

// Parses a comma list of dx9, dx7 and waveout into an offer: the named engines
// are offered, the others not. An empty list offers none. Throws
// std::invalid_argument naming an unknown entry.
devices::AudioOffer ParseEngineList(const std::string& list);

}  // namespace embed
