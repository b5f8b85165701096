// The table of sound systems. `--output device` tries them in this order:
//   jack   a running JACK server (or PipeWire's JACK graph) is the user's
//          choice for low latency, and one that holds the card leaves the
//          others nothing to play on; without a server it fails at once
//   pipewire  a PipeWire desktop's graph, natively: what its PulseAudio
//          service would add to the latency stays out; without a server it
//          fails at once
//   pulse  PulseAudio, or PipeWire's PulseAudio service where the native
//          client cannot join (no session manager): every other desktop
//   alsa   the card itself, for machines without a sound server
// as the engines fall back from one device API to the next.

#include <stdexcept>

#include "platform/audio/AudioBackend.h"
#include "platform/os/Errors.h"

namespace audio {

std::unique_ptr<AudioBackend> MakeJackBackend();
std::unique_ptr<AudioBackend> MakePipeWireBackend();
std::unique_ptr<AudioBackend> MakePulseBackend();
std::unique_ptr<AudioBackend> MakeAlsaBackend();

const std::vector<std::string>& AudioBackendNames() {
  static const std::vector<std::string> names{"jack", "pipewire", "pulse", "alsa"};
  return names;
}

std::unique_ptr<AudioBackend> MakeAudioBackend(const std::string& name) {
  if (name == "jack") return MakeJackBackend();
  if (name == "pipewire") return MakePipeWireBackend();
  if (name == "pulse") return MakePulseBackend();
  if (name == "alsa") return MakeAlsaBackend();
  throw std::invalid_argument("unknown sound system '" + name + "' (expected jack, pipewire, pulse or alsa)");
}

std::vector<AudioBackend::Device> ListAudioDevices() {
  std::vector<AudioBackend::Device> all;
  std::string why;
  for (const std::string& name : AudioBackendNames()) {
    try {
      const auto backend = MakeAudioBackend(name);
      std::vector<AudioBackend::Device> devices = backend->List();
      all.push_back({name, std::string("the default output of ") + name});
      for (auto& d : devices) all.push_back({name + ":" + d.name, std::move(d.description)});
    } catch (const std::exception& e) {
      why += (why.empty() ? "" : "; ") + std::string(e.what());
    }
  }
  if (all.empty()) throw os::PlayError("no sound device (" + why + ")");
  return all;
}

}  // namespace audio
