#pragma once
// What the platform offers the engines: the loop, the one audio output, which
// of the three device APIs exist (the server's --engines option), and where
// the sound service library lies. The device APIs are built on top of this
// (platform/devices/WaveOutApi.h, platform/devices/DirectSound7.h, engines' loader of the
// sound service library); an API that is not offered behaves as on a machine
// without it. Owned by the server; outlives every engine.

#include <string>

#include "platform/audio/AudioOutput.h"
#include "platform/os/EventLoop.h"

namespace devices {

struct AudioOffer {
  bool Dx9 = true;      // the sound service library may be loaded
  bool Dx7 = true;      // DirectSound 7 device creation succeeds
  bool WaveOut = true;  // waveOutGetNumDevs reports a device
};

class AudioPlatform final {
 public:
  AudioPlatform(os::EventLoop& loop, audio::AudioOutput& output, AudioOffer offer, std::string soundServicePath)
      : loop_(loop), output_(output), offer_(offer), soundServicePath_(std::move(soundServicePath)) {}

  os::EventLoop& Loop() { return loop_; }
  audio::AudioOutput& Output() { return output_; }
  const AudioOffer& Offer() const { return offer_; }
  // Full path of the sound service shared object ("" = none installed).
  const std::string& SoundServicePath() const { return soundServicePath_; }

 private:
  os::EventLoop& loop_;
  audio::AudioOutput& output_;
  AudioOffer offer_;
  std::string soundServicePath_;
};

}  // namespace devices
