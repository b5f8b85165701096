// The C entry points of the handle: each checks its arguments, carries the
// member to the handle's loop thread (PlayInstance) and turns what it threw
// into a status and the thread's last error text. No exception leaves.

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "embed/Handle.h"
#include "platform/os/File.h"
#include "platform/os/Log.h"
#include "platform/os/SharedLibrary.h"
#include "platform/runtime/VbArray.h"

namespace embed {

namespace {

thread_local std::string tLastError;
thread_local Event tTaken;  // what playdll_take_event gave this thread last

constexpr int32_t kMaxAdvanceMs = 3'600'000;

// Runs `body` and turns what it throws into a status.
template <typename Body>
int Guard(Body&& body) noexcept {
  try {
    body();
    return PLAYDLL_OK;
  } catch (const ReleasedError& e) {
    return Fail(PLAYDLL_ERROR_RELEASED, e.what());
  } catch (const std::invalid_argument& e) {
    return Fail(PLAYDLL_ERROR_ARGUMENT, e.what());
  } catch (const std::exception& e) {
    return Fail(PLAYDLL_ERROR_RUNTIME, e.what());
  } catch (...) {
    return Fail(PLAYDLL_ERROR_RUNTIME, "unknown error");
  }
}

int NullHandle(const char* function) { return Fail(PLAYDLL_ERROR_ARGUMENT, std::string(function) + ": the handle is NULL"); }

int Member(playdll_handle* handle, const char* name, const std::function<void(facade::PlayDllClass&)>& member) {
  if (handle == nullptr) return NullHandle(name);
  return Guard([&] { handle->Instance.Member(name, member); });
}

int NullResult(const char* name) { return Fail(PLAYDLL_ERROR_ARGUMENT, std::string(name) + ": the result pointer is NULL"); }

// `count` integers as the host's array (element 1 first).
runtime::VbArray<int32_t> HostArray(const int32_t* items, size_t count, const char* name) {
  if (items == nullptr && count > 0) throw std::invalid_argument(std::string("WriteWaveMemo: ") + name + " is NULL");
  if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1))
    throw std::invalid_argument(std::string("WriteWaveMemo: ") + name + " has too many elements");
  runtime::VbArray<int32_t> array(1, static_cast<int32_t>(count));
  if (count > 0) std::memcpy(array.Ptr(1), items, count * sizeof(int32_t));
  return array;
}

std::string Text(const char* s) { return s != nullptr ? s : ""; }

WorldOptions ToWorldOptions(const playdll_options& o) {
  WorldOptions w;
  w.Simulate = o.simulate != 0;
  w.Output = Text(o.output);
  if (o.latency_ms < 0) throw std::invalid_argument("latency_ms must not be negative");
  w.LatencyMs = o.latency_ms;
  w.Offer = o.engines != nullptr ? ParseEngineList(o.engines) : devices::AudioOffer{};
  if (o.sound_service != nullptr) {
    w.SoundServicePath = o.sound_service;
  } else {
    const std::string beside = os::FolderOfCode(reinterpret_cast<const void*>(&playdll_create));
    for (const std::string& path : {beside + "/libsoundservice.so", beside + "/playsrv/libsoundservice.so"})
      if (!beside.empty() && w.SoundServicePath.empty() && os::files::Exists(path)) w.SoundServicePath = path;
  }
  if (o.log_level != nullptr) os::ProcessLog().SetLevel(os::ParseLogLevel(o.log_level));
  if (o.log_file != nullptr) os::ProcessLog().ToFile(o.log_file);
  return w;
}

}  // namespace

int Fail(int status, const std::string& text) {
  try {
    tLastError = text;
  } catch (...) {
    tLastError.clear();  // out of memory: the status alone
  }
  return status;
}

}  // namespace embed

using embed::Fail;
using embed::Guard;
using facade::PlayDllClass;

extern "C" {

const char* playdll_status_text(int status) {
  switch (status) {
    case PLAYDLL_OK: return "ok";
    case PLAYDLL_ERROR_RUNTIME: return "run-time error";
    case PLAYDLL_ERROR_ARGUMENT: return "bad argument";
    case PLAYDLL_ERROR_RELEASED: return "the object has been released";
    case PLAYDLL_ERROR_IN_CALLBACK: return "not allowed inside the event callback";
    case PLAYDLL_ERROR_SETUP: return "cannot be set up";
    default: return "unknown status";
  }
}

const char* playdll_last_error(void) { return embed::tLastError.c_str(); }

playdll_handle* playdll_create(const playdll_options* options) {
  try {
    return new playdll_handle(embed::MakePlayWorld(embed::ToWorldOptions(options != nullptr ? *options : playdll_options{})));
  } catch (const std::exception& e) {
    Fail(PLAYDLL_ERROR_SETUP, e.what());
  } catch (...) {
    Fail(PLAYDLL_ERROR_SETUP, "unknown error");
  }
  return nullptr;
}

int playdll_destroy(playdll_handle* handle) {
  if (handle == nullptr) return PLAYDLL_OK;
  if (handle->Instance.Events().OnDeliveryThread())
    return Fail(PLAYDLL_ERROR_IN_CALLBACK, "playdll_destroy: not allowed inside the event callback");
  delete handle;
  return PLAYDLL_OK;
}

int playdll_set_event_callback(playdll_handle* handle, playdll_event_callback callback, void* user) {
  if (handle == nullptr) return embed::NullHandle("playdll_set_event_callback");
  handle->Instance.Events().SetCallback(callback, user);
  return PLAYDLL_OK;
}

int playdll_event_fd(playdll_handle* handle) { return handle != nullptr ? handle->Instance.Events().Fd() : -1; }

int playdll_take_event(playdll_handle* handle, playdll_event* event) {
  if (handle == nullptr) return embed::NullHandle("playdll_take_event");
  if (event == nullptr) return Fail(PLAYDLL_ERROR_ARGUMENT, "playdll_take_event: the event pointer is NULL");
  if (!handle->Instance.Events().Take(embed::tTaken)) return 0;
  *event = playdll_event{embed::tTaken.Kind, embed::tTaken.Msg.c_str(), embed::tTaken.Ttl.c_str()};
  return 1;
}

int playdll_DxObj(playdll_handle* handle, int32_t* MFrmHwnd) {
  if (MFrmHwnd == nullptr) return Fail(PLAYDLL_ERROR_ARGUMENT, "DxObj: MFrmHwnd is NULL");
  return embed::Member(handle, "DxObj", [&](PlayDllClass& play) { play.DxObj(*MFrmHwnd); });
}

int playdll_PlayCurrentPosition(playdll_handle* handle, int32_t* position) {
  if (position == nullptr) return embed::NullResult("PlayCurrentPosition");
  return embed::Member(handle, "PlayCurrentPosition", [&](PlayDllClass& play) { *position = play.PlayCurrentPosition(); });
}

int playdll_PlayAgain(playdll_handle* handle) {
  return embed::Member(handle, "PlayAgain", [](PlayDllClass& play) { play.PlayAgain(); });
}

int playdll_PlayAgainRev(playdll_handle* handle) {
  return embed::Member(handle, "PlayAgainRev", [](PlayDllClass& play) { play.PlayAgainRev(); });
}

int playdll_PlayRunningDx7State(playdll_handle* handle, int32_t* state) {
  if (state == nullptr) return embed::NullResult("PlayRunningDx7State");
  return embed::Member(handle, "PlayRunningDx7State", [&](PlayDllClass& play) { *state = play.PlayRunningDx7State(); });
}

int playdll_PlayUTurn(playdll_handle* handle) {
  return embed::Member(handle, "PlayUTurn", [](PlayDllClass& play) { play.PlayUTurn(); });
}

int playdll_PlayAtPos(playdll_handle* handle, int32_t Pos) {
  return embed::Member(handle, "PlayAtPos", [&](PlayDllClass& play) { play.PlayAtPos(Pos); });
}

int playdll_PlayAtPosRev(playdll_handle* handle, int32_t Pos) {
  return embed::Member(handle, "PlayAtPosRev", [&](PlayDllClass& play) { play.PlayAtPosRev(Pos); });
}

int playdll_ReleaseFiles(playdll_handle* handle) {
  return embed::Member(handle, "ReleaseFiles", [](PlayDllClass& play) { play.ReleaseFiles(); });
}

int playdll_StopPlay(playdll_handle* handle) {
  return embed::Member(handle, "StopPlay", [](PlayDllClass& play) { play.StopPlay(); });
}

int playdll_PlayContinue(playdll_handle* handle) {
  return embed::Member(handle, "PlayContinue", [](PlayDllClass& play) { play.PlayContinue(); });
}

int playdll_UpdatePlayPosition(playdll_handle* handle) {
  return embed::Member(handle, "UpdatePlayPosition", [](PlayDllClass& play) { play.UpdatePlayPosition(); });
}

int playdll_PlayPause(playdll_handle* handle) {
  return embed::Member(handle, "PlayPause", [](PlayDllClass& play) { play.PlayPause(); });
}

int playdll_WriteWaveMemo(playdll_handle* handle, int32_t FmtBits, int32_t FmtChannal, int32_t FmtFriq, int32_t WaveNos,
                          const int32_t* BlkInLstL, size_t BlkInLstLCount, const int32_t* BlkInLstR,
                          size_t BlkInLstRCount) {
  if (handle == nullptr) return embed::NullHandle("WriteWaveMemo");
  return Guard([&] {
    const runtime::VbArray<int32_t> left = embed::HostArray(BlkInLstL, BlkInLstLCount, "BlkInLstL");
    const runtime::VbArray<int32_t> right = embed::HostArray(BlkInLstR, BlkInLstRCount, "BlkInLstR");
    handle->Instance.Member("WriteWaveMemo", [&](PlayDllClass& play) {
      play.WriteWaveMemo(FmtBits, FmtChannal, FmtFriq, WaveNos, left, right);
    });
  });
}

int playdll_MemorySizeToUse(playdll_handle* handle, int32_t value) {
  return embed::Member(handle, "MemorySizeToUse", [=](PlayDllClass& play) { play.SetMemorySizeToUse(value); });
}

int playdll_LoopPlayON(playdll_handle* handle, int value) {
  return embed::Member(handle, "LoopPlayON", [=](PlayDllClass& play) { play.SetLoopPlayON(value != 0); });
}

int playdll_PlayTempoFor(playdll_handle* handle, float value) {
  return embed::Member(handle, "PlayTempoFor", [=](PlayDllClass& play) { play.SetPlayTempoFor(value); });
}

int playdll_PlayTempoRev(playdll_handle* handle, float value) {
  return embed::Member(handle, "PlayTempoRev", [=](PlayDllClass& play) { play.SetPlayTempoRev(value); });
}

int playdll_AppTmpDir(playdll_handle* handle, const char* value) {
  if (value == nullptr) return Fail(PLAYDLL_ERROR_ARGUMENT, "AppTmpDir: the value is NULL");
  return embed::Member(handle, "AppTmpDir", [&](PlayDllClass& play) { play.SetAppTmpDir(value); });
}

int playdll_Release(playdll_handle* handle) {
  if (handle == nullptr) return embed::NullHandle("Release");
  return Guard([&] { handle->Instance.Release(); });
}

int playdll_advance_time(playdll_handle* handle, int32_t ms, int64_t* now_ms) {
  if (handle == nullptr) return embed::NullHandle("playdll_advance_time");
  if (ms < 0 || ms > embed::kMaxAdvanceMs)
    return Fail(PLAYDLL_ERROR_ARGUMENT,
                "playdll_advance_time: ms must lie between 0 and " + std::to_string(embed::kMaxAdvanceMs));
  return Guard([&] {
    const int64_t now = handle->Instance.AdvanceTime(ms);
    if (now_ms != nullptr) *now_ms = now;
  });
}

}  // extern "C"
