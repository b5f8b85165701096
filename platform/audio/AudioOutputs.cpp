#include "platform/audio/AudioOutputs.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/DeviceOutput.h"
#include "platform/audio/FanOutput.h"
#include "platform/audio/NullOutput.h"
#include "platform/audio/VirtualOutput.h"
#include "platform/audio/WavOutput.h"

namespace audio {

namespace {

constexpr const char* kForms =
    "virtual, null, wav:PATH, device, device:pipewire[:NODE], device:pulse[:SINK], device:jack[:PORT,PORT] or "
    "device:alsa[:PCM]";

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::unique_ptr<AudioOutput> MakeOne(const std::string& choice, os::EventLoop& loop,
                                     const DeviceOutput::Settings& device, os::MessageBox* box) {
  if (choice == "virtual") return std::make_unique<VirtualOutput>();
  if (choice == "null") return std::make_unique<NullOutput>();
  if (choice == "device" || StartsWith(choice, "device:")) return MakeDeviceOutput(choice, loop, device);
  if (StartsWith(choice, "wav:")) {
    if (choice.size() == 4) throw std::invalid_argument("audio output 'wav:' needs a file path: wav:PATH");
    return std::make_unique<WavOutput>(choice.substr(4), box);
  }
  throw std::invalid_argument("unknown audio output '" + choice + "' (expected " + kForms + ", or a comma list of them)");
}

// True when `piece` begins an output of its own rather than going on with
// the one before it (the second of a JACK port pair "A,B").
bool BeginsOutput(const std::string& piece) {
  return piece == "virtual" || piece == "null" || piece == "device" || StartsWith(piece, "wav:") ||
         StartsWith(piece, "device:");
}

}  // namespace

std::unique_ptr<DeviceOutput> MakeDeviceOutput(const std::string& choice, os::EventLoop& loop,
                                               const DeviceOutput::Settings& settings) {
  std::vector<std::unique_ptr<AudioBackend>> backends;
  std::string device;
  if (choice == "device") {
    for (const std::string& name : AudioBackendNames()) backends.push_back(MakeAudioBackend(name));
  } else {
    const std::string rest = choice.substr(7);
    const size_t colon = rest.find(':');
    const std::string name = rest.substr(0, colon);
    if (std::find(AudioBackendNames().begin(), AudioBackendNames().end(), name) == AudioBackendNames().end())
      throw std::invalid_argument("unknown sound system in '" + choice + "' (expected " + kForms + ")");
    if (colon != std::string::npos) {
      device = rest.substr(colon + 1);
      if (device.empty()) throw std::invalid_argument("audio output '" + choice + "' names no device");
    }
    backends.push_back(MakeAudioBackend(name));
  }
  return std::make_unique<DeviceOutput>(loop, std::move(backends), device, settings);
}

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice, os::EventLoop& loop,
                                             const DeviceOutput::Settings& device, os::MessageBox* box) {
  std::vector<std::unique_ptr<AudioOutput>> outputs;
  std::vector<std::string> pieces;
  size_t from = 0;
  for (;;) {
    const size_t comma = choice.find(',', from);
    std::string piece = choice.substr(from, comma - from);
    if (!pieces.empty() && !BeginsOutput(piece) && StartsWith(pieces.back(), "device:jack:"))
      pieces.back() += "," + piece;
    else
      pieces.push_back(std::move(piece));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  for (const std::string& piece : pieces) outputs.push_back(MakeOne(piece, loop, device, box));
  if (outputs.size() == 1) return std::move(outputs.front());
  return std::make_unique<FanOutput>(std::move(outputs));
}

}  // namespace audio
