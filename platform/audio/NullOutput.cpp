#include "platform/audio/NullOutput.h"

#include <stdexcept>

namespace audio {

void NullOutput::Start(int32_t channels, int32_t rate, OutputPump /*pump*/) {
  if (channels < 1 || rate < 1) throw std::invalid_argument("null output: bad format");
}

void NullOutput::Play(const int16_t* /*frames*/, size_t frameCount, int64_t /*atUs*/) {
  framesPlayed_ += static_cast<int64_t>(frameCount);
}

}  // namespace audio
