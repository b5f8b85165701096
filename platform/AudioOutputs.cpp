#include "platform/AudioOutputs.h"

#include <stdexcept>

#include "platform/NullOutput.h"
#include "platform/VirtualOutput.h"
#include "platform/WavOutput.h"

namespace platform {

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice, MessageBox* box) {
  if (choice == "virtual") return std::make_unique<VirtualOutput>();
  if (choice == "null") return std::make_unique<NullOutput>();
  const std::string wav = "wav:";
  if (choice.compare(0, wav.size(), wav) == 0) {
    if (choice.size() == wav.size()) throw std::invalid_argument("audio output 'wav:' needs a file path: wav:PATH");
    return std::make_unique<WavOutput>(choice.substr(wav.size()), box);
  }
  throw std::invalid_argument("unknown audio output '" + choice + "' (expected virtual, null or wav:PATH)");
}

}  // namespace platform
