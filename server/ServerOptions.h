#pragma once
// What the server is started with (command-line options only: the server
// reads no configuration file and no environment variable).

#include <cstdint>
#include <string>

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
  // The device APIs the platform offers (--engines): a comma list of dx9,
  // dx7 and waveout.
  std::string Engines = "dx9,dx7,waveout";
  // Readable when a termination signal is pending (platform/os/Signals.h); -1:
  // none watched.
  int SignalFd = -1;
};

}  // namespace server
