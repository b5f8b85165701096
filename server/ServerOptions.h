#pragma once
// What the server is started with (command-line options only: the server
// reads no configuration file and no environment variable).

#include <string>

#include "platform/devices/AudioPlatform.h"

namespace server {

struct ServerOptions {
  // Virtual clock: time moves only through AdvanceTime.
  bool Simulate = false;
  // Audio output (platform/audio/AudioOutputs.h); empty: "virtual" when
  // simulated, otherwise the sound card when one opens, else "null".
  std::string Output;
  // What a sound card output keeps queued (--latency-ms); 0: the sound
  // system's least safe queue and a few milliseconds of our own.
  int32_t LatencyMs = 0;
  // The device APIs the platform offers (--engines).
  devices::AudioOffer Offer;
  // Readable when a termination signal is pending (platform/os/Signals.h); -1:
  // none watched.
  int SignalFd = -1;

};

// Parses a comma list of dx9, dx7 and waveout into an offer: the named engines
// are offered, the others not. An empty list offers none. Throws
// std::invalid_argument naming an unknown entry.
devices::AudioOffer ParseEngineList(const std::string& list);

}  // namespace server
