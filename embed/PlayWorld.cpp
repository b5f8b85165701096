#include "embed/PlayWorld.h"

#include <stdexcept>
#include <utility>

#include "facade/RealEngines.h"
#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioOutputs.h"
#include "platform/audio/DeviceOutput.h"
#include "platform/audio/SlavedClock.h"
#include "platform/os/Clock.h"
#include "platform/os/Log.h"
#include "platform/os/MessageBox.h"
#include "state/PlayContext.h"

namespace embed {

namespace {

// Real time runs on a clock that a sound card may steer (SlavedClock).
std::unique_ptr<os::Clock> MakeClock(bool simulate) {
  if (simulate) return std::make_unique<os::ManualClock>();
  return std::make_unique<audio::SlavedClock>();
}

// The output asked for; without one, the virtual output under the simulated
// clock, else the sound card when one opens and the null output when not.
std::unique_ptr<audio::AudioOutput> MakeOutput(const WorldOptions& options, os::EventLoop& loop,
                                                  os::Clock& clock, os::MessageBox& box) {
  const audio::DeviceOutput::Settings settings{dynamic_cast<audio::SlavedClock*>(&clock),
                                                  int64_t{options.LatencyMs} * 1000};
  if (!options.Output.empty()) return audio::MakeAudioOutput(options.Output, loop, settings, &box);
  if (options.Simulate) return audio::MakeAudioOutput("virtual", loop, settings);
  auto device = audio::MakeDeviceOutput("device", loop, settings);
  if (device->Available()) return device;  // it says which sound system
  os::LogWarning("no sound device (" + device->Trouble() + "); playing to null");
  return audio::MakeAudioOutput("null", loop, settings);
}

// Members are built in the order they depend on one another and go in the
// reverse order: the object before its context, the outputs after both.
class RealWorld final : public PlayWorld {
 public:
  explicit RealWorld(const WorldOptions& options)
      : clock_(MakeClock(options.Simulate)),
        loop_(*clock_),
        output_(MakeOutput(options, loop_, *clock_, box_)),
        audio_(loop_, *output_, options.Offer, options.SoundServicePath),
        ctx_(loop_, box_, audio_),
        play_(ctx_, facade::MakeEngineFactory(ctx_)) {}

  os::EventLoop& Loop() override { return loop_; }
  facade::PlayDllClass& Play() override { return play_; }

 private:
  std::unique_ptr<os::Clock> clock_;
  os::EventLoop loop_;
  os::MessageBox box_;
  std::unique_ptr<audio::AudioOutput> output_;
  devices::AudioPlatform audio_;
  state::PlayContext ctx_;
  facade::PlayDllClass play_;
};

}  // namespace

std::unique_ptr<PlayWorld> MakePlayWorld(const WorldOptions& options) {
  return std::make_unique<RealWorld>(options);
}

devices::AudioOffer ParseEngineList(const std::string& list) {
  devices::AudioOffer offer{false, false, false};
  size_t from = 0;
  while (from <= list.size()) {
    size_t end = list.find(',', from);
    if (end == std::string::npos) end = list.size();
    const std::string name = list.substr(from, end - from);
    if (name == "dx9") {
      offer.Dx9 = true;
    } else if (name == "dx7") {
      offer.Dx7 = true;
    } else if (name == "waveout") {
      offer.WaveOut = true;
    } else if (!(name.empty() && list.empty())) {
      throw std::invalid_argument("unknown engine '" + name + "' (expected a comma list of dx9, dx7, waveout)");
    }
    from = end + 1;
  }
  return offer;
}

}  // namespace embed
