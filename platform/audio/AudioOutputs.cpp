#include "platform/audio/AudioOutputs.h"

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

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::unique_ptr<AudioOutput> MakeOne(const std::string& choice, os::EventLoop& loop,
                                     const DeviceOutput::Settings& device, os::MessageBox* box) {
  if (choice == "virtual") return std::make_unique<VirtualOutput>();
  if (choice == "null") return std::make_unique<NullOutput>();
  if (choice == "device") return std::make_unique<DeviceOutput>(loop, MakeAudioBackend(), "", device);
  if (StartsWith(choice, "device:")) {
    if (choice.size() == 7) throw std::invalid_argument("audio output 'device:' needs a device name: device:NAME");
    return std::make_unique<DeviceOutput>(loop, MakeAudioBackend(), choice.substr(7), device);
  }
  if (StartsWith(choice, "wav:")) {
    if (choice.size() == 4) throw std::invalid_argument("audio output 'wav:' needs a file path: wav:PATH");
    return std::make_unique<WavOutput>(choice.substr(4), box);
  }
  throw std::invalid_argument("unknown audio output '" + choice +
                              "' (expected virtual, null, wav:PATH, device or device:NAME, or a comma list of them)");
}

}  // namespace

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice, os::EventLoop& loop,
                                             const DeviceOutput::Settings& device, os::MessageBox* box) {
  std::vector<std::unique_ptr<AudioOutput>> outputs;
  size_t from = 0;
  for (;;) {
    const size_t comma = choice.find(',', from);
    outputs.push_back(MakeOne(choice.substr(from, comma - from), loop, device, box));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (outputs.size() == 1) return std::move(outputs.front());
  return std::make_unique<FanOutput>(std::move(outputs));
}

}  // namespace audio
