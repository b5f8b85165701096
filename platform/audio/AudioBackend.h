#pragma once
// A sound card as DeviceOutput drives it: open a device, then the backend's
// own real-time thread asks for stereo 16-bit frames at the device's rate
// through a plain function, until Close. One file per sound system; this
// build has one, for PulseAudio (which PipeWire desktops serve as well).
//
// The render function runs on the backend's thread: it must not block,
// allocate, read files or throw. Everything else is called on the loop
// thread; Open and Close wait for the sound server (milliseconds).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace audio {

class AudioBackend {
 public:
  using RenderFn = void (*)(void* arg, int16_t* frames, size_t frameCount);

  struct Device {
    std::string name;         // what --output device:NAME takes
    std::string description;  // for people
  };

  virtual ~AudioBackend() = default;

  // Opens `device` ("" = the default output) for two channels at the
  // device's own rate, asks the sound server to hold about `queueUs` of
  // frames, and starts asking `render` for frames. Throws PlayError saying
  // why when there is no sound server or no such device.
  virtual void Open(const std::string& device, int64_t queueUs, RenderFn render, void* arg) = 0;
  // Stops the requests and lets the device go; no render call is running or
  // will run once it returns. Harmless when not open.
  virtual void Close() = 0;
  // The device's rate in frames per second. REQUIRES: open.
  virtual int32_t Rate() const = 0;
  // True once the device or the sound server went away (any thread).
  virtual bool Lost() const = 0;
  // How long the frames rendered so far still take to reach the loudspeaker
  // (what the sound server holds), as last measured. Any thread.
  virtual int64_t QueuedUs() const = 0;
};

// The backend of this build.
std::unique_ptr<AudioBackend> MakeAudioBackend();
// The outputs the sound server offers; throws PlayError when there is none.
std::vector<AudioBackend::Device> ListAudioDevices();

}  // namespace audio
