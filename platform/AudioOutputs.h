#pragma once
// Builds the audio output the server was asked for, from a comma list of
//   "virtual"      VirtualOutput (records every frame; for the simulated clock)
//   "null"         NullOutput (discards)
//   "wav:PATH"     WavOutput writing PATH
//   "device"       DeviceOutput on the default sound output
//   "device:NAME"  DeviceOutput on the named one (ListAudioDevices)
// Several entries play the same frames at once ("device,wav:take.wav").
// Throws std::invalid_argument naming the accepted forms for anything else
// (an empty PATH included), and platform::FileError when PATH cannot be
// created or is not a regular file. A device output opens its device only when
// first used.

#include <memory>
#include <string>

#include "platform/AudioOutput.h"
#include "platform/EventLoop.h"
#include "platform/SlavedClock.h"

namespace platform {

class MessageBox;

// `steer`: the loop's clock when it is a SlavedClock (null otherwise), for a
// device output to keep it in step with the card. `box` (may be null; must
// outlive the output) hears of outputs that fail while playing.
std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice, EventLoop& loop, SlavedClock* steer,
                                             MessageBox* box = nullptr);

}  // namespace platform
