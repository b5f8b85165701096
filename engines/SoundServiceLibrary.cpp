#include "engines/SoundServiceLibrary.h"

#include <exception>
#include <string>
#include <type_traits>

#include "platform/os/Errors.h"
#include "platform/os/Log.h"

namespace engines {

namespace {

// The host's functions are called from inside the library's C entries, so
// nothing may be thrown through them; a failing output is logged instead.
void LogHostFailure(const char* what, const std::exception* e) {
  os::LogError(std::string("sound service output ") + what + " failed: " + (e != nullptr ? e->what() : "unknown"));
}

}  // namespace

SoundServiceLibrary::SoundServiceLibrary(devices::AudioPlatform& audio) : audio_(audio) {
  if (!audio_.Offer().Dx9) throw os::PlayError("sound service library: not offered on this platform");
  const std::string& path = audio_.SoundServicePath();
  if (path.empty()) throw os::PlayError("sound service library: none installed");
  dl_ = os::SharedLibrary::Open(path);

  std::string missing;
  auto resolve = [&](auto& fn, const char* name) {
    fn = dl_->EntryAs<std::remove_reference_t<decltype(fn)>>(name);
    if (fn == nullptr && missing.empty()) missing = name;
  };
  resolve(bindHost_, "ServiceBindHost");
  resolve(service02_, "Service02");
  resolve(service03_, "Service03");
  resolve(service04_, "Service04");
  resolve(service05_, "Service05");
  resolve(service06_, "Service06");
  resolve(service07_, "Service07");
  resolve(service08_, "Service08");
  if (!missing.empty()) {
    throw os::PlayError("sound service library '" + path + "': no entry " + missing);
  }
  host_ = SoundServiceHost{this,           &HostNowUs,         &HostOutputAvailable, &HostOutputStart,
                           &HostOutputPlay, &HostOutputStop};
}

SoundServiceLibrary::~SoundServiceLibrary() {
  for (int32_t handle : made_) service03_(handle);
}

int32_t SoundServiceLibrary::Service02(int32_t oldHandle, int32_t windowHandle, int32_t channels, int32_t friq,
                                       int32_t bufferBytes, int32_t bytesPer100Ms) {
  // Another world in this process may have bound its own host meanwhile.
  bindHost_(&host_);
  const int32_t handle = service02_(oldHandle, windowHandle, channels, friq, bufferBytes, bytesPer100Ms);
  made_.erase(oldHandle);
  if (handle != 0) made_.insert(handle);
  return handle;
}

void SoundServiceLibrary::Service03(int32_t handle) {
  service03_(handle);
  made_.erase(handle);
}

int32_t SoundServiceLibrary::Service04(int32_t handle, int32_t mode, int32_t rate) {
  return service04_(handle, mode, rate);
}

void SoundServiceLibrary::Service05(int32_t handle) { service05_(handle); }

int32_t SoundServiceLibrary::Service06(int32_t handle, const int16_t* data, int32_t byteCount, int32_t byteOffset,
                                       int32_t endHalf, int32_t endTicks) {
  return service06_(handle, data, byteCount, byteOffset, endHalf, endTicks);
}

int32_t SoundServiceLibrary::Service07(int32_t handle, int32_t& passes, int32_t& bytePos) {
  return service07_(handle, &passes, &bytePos);
}

void SoundServiceLibrary::Service08(int32_t handle, int32_t& refillHalf2, int32_t& refillHalf1, int32_t& third,
                                    int32_t& endPlayed) {
  service08_(handle, &refillHalf2, &refillHalf1, &third, &endPlayed);
}

// ------------------------------------------------------------ the host

int64_t SoundServiceLibrary::HostNowUs(void* context) {
  return static_cast<SoundServiceLibrary*>(context)->audio_.Loop().NowUs();
}

int32_t SoundServiceLibrary::HostOutputAvailable(void* context) {
  return static_cast<SoundServiceLibrary*>(context)->audio_.Output().Available() ? 1 : 0;
}

void SoundServiceLibrary::HostOutputStart(void* context, int32_t channels, int32_t rate, void (*pump)(void*),
                                          void* pumpArg) {
  try {
    static_cast<SoundServiceLibrary*>(context)->audio_.Output().Start(channels, rate,
                                                                      audio::OutputPump{pump, pumpArg});
  } catch (const std::exception& e) {
    LogHostFailure("start", &e);
  } catch (...) {
    LogHostFailure("start", nullptr);
  }
}

void SoundServiceLibrary::HostOutputPlay(void* context, const int16_t* frames, int64_t frameCount, int64_t atUs) {
  try {
    static_cast<SoundServiceLibrary*>(context)->audio_.Output().Play(frames, static_cast<size_t>(frameCount), atUs);
  } catch (const std::exception& e) {
    LogHostFailure("play", &e);
  } catch (...) {
    LogHostFailure("play", nullptr);
  }
}

void SoundServiceLibrary::HostOutputStop(void* context) {
  try {
    static_cast<SoundServiceLibrary*>(context)->audio_.Output().Stop();
  } catch (const std::exception& e) {
    LogHostFailure("stop", &e);
  } catch (...) {
    LogHostFailure("stop", nullptr);
  }
}

}  // namespace engines
