#pragma once
// The sound service library as the DirectSound 9 engine sees it: the shared
// object at AudioPlatform::SoundServicePath(), loaded when this
// object is made, with its entries Service02 to Service08. The library plays
// on the platform's audio output, reads the loop's clock and writes to the
// process log through a host that this object provides and binds before
// every Service02. An output call that fails is logged here with its reason
// and fails the library's entry, whose result the engine sees; every instance
// made through this object is released (Service03) at the latest when the
// object is destroyed, so that no instance outlives the host it calls.
//
// Arguments and results are those of the library (32-bit signed; outs by
// reference here). Thread: loop thread only. The platform must outlive this
// object.

#include <cstdint>
#include <memory>
#include <set>

#include "platform/devices/AudioPlatform.h"
#include "platform/os/SharedLibrary.h"
#include "soundservice/SoundServiceHost.h"

namespace engines {

class SoundServiceLibrary final {
 public:
  // Throws os::PlayError naming the reason when the platform offers no
  // DirectSound 9, no library path is set, or the library cannot be loaded or lacks an entry.
  explicit SoundServiceLibrary(devices::AudioPlatform& audio);
  ~SoundServiceLibrary();
  SoundServiceLibrary(const SoundServiceLibrary&) = delete;
  SoundServiceLibrary& operator=(const SoundServiceLibrary&) = delete;

  int32_t Service02(int32_t oldHandle, int32_t windowHandle, int32_t channels, int32_t friq, int32_t bufferBytes,
                    int32_t bytesPer100Ms);
  void Service03(int32_t handle);
  int32_t Service04(int32_t handle, int32_t mode, int32_t rate);
  void Service05(int32_t handle);
  // REQUIRES: `data` points at `byteCount` readable bytes.
  int32_t Service06(int32_t handle, const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf,
                    int32_t endTicks);
  int32_t Service07(int32_t handle, int32_t& passes, int32_t& bytePos);
  void Service08(int32_t handle, int32_t& refillHalf2, int32_t& refillHalf1, int32_t& playing, int32_t& endPlayed);

 private:
  // The host's functions. The library calls them from inside its C entries,
  // so nothing is thrown through them: a failure is logged and returned as 0.
  static int64_t HostNowUs(void* context) noexcept;
  static int32_t HostOutputAvailable(void* context) noexcept;
  static int32_t HostOutputStart(void* context, int32_t channels, int32_t rate, void (*pump)(void*),
                                 void* pumpArg) noexcept;
  static int32_t HostOutputPlay(void* context, const int16_t* frames, int64_t frameCount, int64_t atUs) noexcept;
  static int32_t HostOutputStop(void* context) noexcept;
  // Writes to the process log (the library's levels are the log's).
  static void HostLog(void* context, int32_t level, const char* text) noexcept;
  static devices::AudioPlatform& AudioOf(void* context);

  devices::AudioPlatform& audio_;
  std::unique_ptr<os::SharedLibrary> dl_;
  SoundServiceHost host_{};
  std::set<int32_t> made_;  // handles made through this object and not yet released

  decltype(&::ServiceBindHost) bindHost_ = nullptr;
  decltype(&::Service02) service02_ = nullptr;
  decltype(&::Service03) service03_ = nullptr;
  decltype(&::Service04) service04_ = nullptr;
  decltype(&::Service05) service05_ = nullptr;
  decltype(&::Service06) service06_ = nullptr;
  decltype(&::Service07) service07_ = nullptr;
  decltype(&::Service08) service08_ = nullptr;
};

}  // namespace engines
