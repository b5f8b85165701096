#pragma once
// Builds the audio output the server was asked for, from a comma list of
//   "virtual"      VirtualOutput (records every frame; for the simulated clock)
//   "null"         NullOutput (discards)
//   "wav:PATH"     WavOutput writing PATH
//   "device"              DeviceOutput on the first sound system that opens
//                         (AudioBackendNames' order), its default output
//   "device:pipewire[:NODE]" PipeWire's graph, a sink node by name
//   "device:pulse[:SINK]" PulseAudio (or PipeWire's service), a sink by name
//   "device:jack[:L,R]"   JACK, connected to two ports by name
//   "device:alsa[:PCM]"   ALSA, a PCM by name (hw:0,0, ...)
// Several entries play the same frames at once ("device,wav:take.wav").
// Throws std::invalid_argument naming the accepted forms for anything else
// (an empty PATH included), and os::FileError when PATH cannot be
// created or is not a regular file. A device output opens its device only when
// first used.

#include <memory>
#include <string>

#include "platform/audio/AudioOutput.h"
#include "platform/audio/DeviceOutput.h"
#include "platform/os/EventLoop.h"

namespace os {
class MessageBox;
}  // namespace os

namespace audio {


// `device`: how a device output runs (the loop's clock to steer, when it is a
// SlavedClock, and the latency to keep). `box` (may be null; must outlive the
// output) hears of outputs that fail while playing.
// One device output: "device" or "device:BACKEND[:NAME]" as above.
std::unique_ptr<DeviceOutput> MakeDeviceOutput(const std::string& choice, os::EventLoop& loop,
                                               const DeviceOutput::Settings& settings);

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& choice, os::EventLoop& loop,
                                             const DeviceOutput::Settings& device = {}, os::MessageBox* box = nullptr);

}  // namespace audio
