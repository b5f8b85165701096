#pragma once
// A sound system as DeviceOutput drives it: open a device, then the backend's
// own real-time thread asks for stereo 16-bit frames at the device's rate
// through a plain function, until Close. One file per sound system
// (JackBackend.cpp, PipeWireBackend.cpp, PulseBackend.cpp, AlsaBackend.cpp);
// each loads its library when first used (os::SharedLibrary), so a machine
// without that library only lacks that backend.
//
// The render function runs on the backend's thread: it must not block,
// allocate, read files or throw. Everything else is called on the loop
// thread; Open and Close wait for the sound system (milliseconds).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace audio {

class AudioBackend {
 public:
  // What the sound system says as it asks for frames: of the frames rendered
  // before this request, `delayFrames` had not left the card yet at the
  // steady time `nowNs` (os::SteadyNs). The card's own clock, as near as the
  // sound system tells it.
  // `reconfigured`: this request is the first of a new size (a JACK
  // server's new buffer size); false from a backend that cannot tell.
  struct Timing {
    int64_t delayFrames = 0;
    int64_t nowNs = 0;
    bool reconfigured = false;
  };
  using RenderFn = void (*)(void* arg, int16_t* frames, size_t frameCount, const Timing& timing);

  struct Device {
    std::string name;         // what --output device:BACKEND:NAME takes
    std::string description;  // for people
  };

  virtual ~AudioBackend() = default;

  // "jack", "pipewire", "pulse" or "alsa".
  virtual const char* Name() const = 0;
  // Opens `device` ("" = the default output) for two channels at the
  // device's own rate, asks the sound system to hold about `queueUs` of
  // frames beyond what it plays now (0: the least it runs safely with), and
  // starts asking `render` for frames. Throws os::PlayError saying why when
  // the library, the sound system or the device is not there or is busy.
  virtual void Open(const std::string& device, int64_t queueUs, RenderFn render, void* arg) = 0;
  // Stops the requests and lets the device go; no render call is running or
  // will run once it returns. Harmless when not open.
  virtual void Close() = 0;
  // As Close, for a device that is likely to be opened again soon: a backend
  // may keep what is slow to make again (a JACK client, inactive) as long as
  // the sound system can suspend the card meanwhile.
  virtual void Suspend() { Close(); }
  // The device's rate in frames per second. REQUIRES: open. A sound system
  // may change it while open (a JACK server's new rate); any thread.
  virtual int32_t Rate() const = 0;
  // True once the device or the sound system went away (any thread).
  virtual bool Lost() const = 0;
  // The most frames the sound system has asked for at once since open (its
  // period, or a burst of them); 0 before the first request. Any thread.
  virtual int64_t PeriodFrames() const = 0;
  // Whether the render thread runs with real-time scheduling: 1 yes, 0 no
  // (not allowed here), -1 not known yet. Any thread.
  virtual int RealTime() const = 0;
  // The outputs this sound system offers. Throws os::PlayError when its
  // library or its server is not there.
  virtual std::vector<Device> List() = 0;
};

// The sound systems in the order `--output device` tries them.
const std::vector<std::string>& AudioBackendNames();
// A backend by name (AudioBackendNames); throws std::invalid_argument for
// any other name. Loads nothing yet.
std::unique_ptr<AudioBackend> MakeAudioBackend(const std::string& name);

// Every backend's outputs, as "BACKEND:NAME" (the backend's default output
// as "BACKEND"); a backend that is not there lists nothing. Throws
// os::PlayError saying what each backend answered when none lists anything.
std::vector<AudioBackend::Device> ListAudioDevices();

}  // namespace audio
