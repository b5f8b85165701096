#pragma once
// Builds the audio output the server was asked for:
//   "virtual"   VirtualOutput (records every frame; for the simulated clock)
//   "null"      NullOutput (discards)
//   "wav:PATH"  WavOutput writing PATH
// Throws std::invalid_argument naming the accepted forms for anything else
// (an empty PATH included), and platform::FileError when PATH cannot be
// created.

#include <memory>
#include <string>

#include "platform/AudioOutput.h"

namespace platform {

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice);

}  // namespace platform
