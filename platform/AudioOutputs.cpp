#include "platform/AudioOutputs.h"

#include <stdexcept>

#include "platform/NullOutput.h"
#include "platform/VirtualOutput.h"
#include "platform/WavOutput.h"

namespace platform {

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& spec) {
  if (spec == "virtual") return std::make_unique<VirtualOutput>();
  if (spec == "null") return std::make_unique<NullOutput>();
  const std::string wav = "wav:";
  if (spec.compare(0, wav.size(), wav) == 0) {
    if (spec.size() == wav.size()) throw std::invalid_argument("audio output 'wav:' needs a file path: wav:PATH");
    return std::make_unique<WavOutput>(spec.substr(wav.size()));
  }
  throw std::invalid_argument("unknown audio output '" + spec + "' (expected virtual, null or wav:PATH)");
}

}  // namespace platform
