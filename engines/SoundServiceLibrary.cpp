#include "engines/SoundServiceLibrary.h"

#include <exception>
#include <string>
#include <type_traits>

#include "platform/os/Errors.h"
#include "platform/os/Log.h"

namespace engines {

static_assert(static_cast<int>(os::LogLevel::Error) == SOUND_SERVICE_LOG_ERROR &&
                  static_cast<int>(os::LogLevel::Warning) == SOUND_SERVICE_LOG_WARNING &&
                  static_cast<int>(os::LogLevel::Info) == SOUND_SERVICE_LOG_INFO &&
                  static_cast<int>(os::LogLevel::Debug) == SOUND_SERVICE_LOG_DEBUG,
              "the library's log levels are the process log's");

namespace {

// Runs one call on the output for the library: 1 when it returned, 0 (and
// the reason in the log) when it threw.
template <typename Call>
int32_t OutputCall(const char* what, Call call) noexcept {
  try {
    call();
    return 1;
  } catch (const std::exception& e) {
    os::LogError(std::string("sound service output, ") + what + ": " + e.what());
  } catch (...) {
    os::LogError(std::string("sound service output, ") + what + ": an error of unknown kind");
  }
  return 0;
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
  host_ = SoundServiceHost{this,           &HostNowUs,      &HostOutputAvailable, &HostOutputStart,
                           &HostOutputPlay, &HostOutputStop, &HostLog};
  os::LogDebug("sound service library loaded from '" + path + "'");
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

void SoundServiceLibrary::Service08(int32_t handle, int32_t& refillHalf2, int32_t& refillHalf1, int32_t& playing,
                                    int32_t& endPlayed) {
  service08_(handle, &refillHalf2, &refillHalf1, &playing, &endPlayed);
}

// ------------------------------------------------------------ the host

int64_t SoundServiceLibrary::HostNowUs(void* context) noexcept { return AudioOf(context).Loop().NowUs(); }

int32_t SoundServiceLibrary::HostOutputAvailable(void* context) noexcept {
  int32_t available = 0;
  OutputCall("availability", [&] { available = AudioOf(context).Output().Available() ? 1 : 0; });
  return available;
}

int32_t SoundServiceLibrary::HostOutputStart(void* context, int32_t channels, int32_t rate, void (*pump)(void*),
                                             void* pumpArg) noexcept {
  return OutputCall("start", [&] {
    AudioOf(context).Output().Start(channels, rate, audio::OutputPump{pump, pumpArg});
    os::LogDebug("sound service output started: " + std::to_string(channels) + " channel(s) at " +
                 std::to_string(rate) + " frames/s");
  });
}

int32_t SoundServiceLibrary::HostOutputPlay(void* context, const int16_t* frames, int64_t frameCount,
                                            int64_t atUs) noexcept {
  return OutputCall("play", [&] { AudioOf(context).Output().Play(frames, static_cast<size_t>(frameCount), atUs); });
}

int32_t SoundServiceLibrary::HostOutputStop(void* context) noexcept {
  return OutputCall("stop", [&] {
    AudioOf(context).Output().Stop();
    os::LogDebug("sound service output stopped");
  });
}

// A level the library should not send is taken as an error.
void SoundServiceLibrary::HostLog(void* /*context*/, int32_t level, const char* text) noexcept {
  const bool known = level >= SOUND_SERVICE_LOG_ERROR && level <= SOUND_SERVICE_LOG_DEBUG;
  os::ProcessLog().Write(known ? static_cast<os::LogLevel>(level) : os::LogLevel::Error,
                         std::string("sound service: ") + text);
}

devices::AudioPlatform& SoundServiceLibrary::AudioOf(void* context) {
  return static_cast<SoundServiceLibrary*>(context)->audio_;
}

}  // namespace engines
