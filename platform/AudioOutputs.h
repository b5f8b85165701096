#pragma once
// Builds the audio output the server was asked for:
//   "virtual"   VirtualOutput (records every frame; for the simulated clock)
//   "null"      NullOutput (discards)
//   "wav:PATH"  WavOutput writing PATH
// Throws std::invalid_argument naming the accepted forms for anything else
// (an empty PATH included), and platform::FileError when PATH cannot be
// created or is not a regular file.

#include <memory>
#include <string>

#include "platform/AudioOutput.h"

namespace platform {

class MessageBox;

// `box` (may be null) hears of outputs that fail while playing; it must
// outlive the output.
std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice, MessageBox* box = nullptr);

}  // namespace platform
