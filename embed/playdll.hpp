// playdll.hpp: a header-only C++17 wrapper over libplaydll's C API
// (playdll.h, whose notes on threads, events, re-entry, simulate mode and
// 1-based positions hold here too).
//
//   playdll::Player   owns one handle: created by the constructor, released
//                     and destroyed by the destructor; one method per member
//                     of the interface under its name; movable, not copyable.
//   playdll::HostList the list builder; playdll::Wave a WAV file read in place.
//   playdll::Error    what every failure throws: the C status (Status()) and
//                     the library's text (what()).
//
// Events: OnEvent(handler) has the handler called on the library's thread
// "playdll-events" (the reports of a call before the call returns); without
// one they wait for TakeEvent, and EventFd() is readable meanwhile. The
// handler may call the Player's methods (re-entry as in playdll.h) and may
// replace itself; an exception it throws cannot cross the library's thread
// and is dropped. The Player must not be destroyed inside its handler.
//
// Thread: a Player's methods may be called from any thread, as the C
// functions; moving or destroying it must not overlap other calls.

#ifndef PLAYDLL_HPP
#define PLAYDLL_HPP

#include <playdll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace playdll {

class Error : public std::runtime_error {
 public:
  Error(int status, const std::string& what) : std::runtime_error(what), status_(status) {}
  // One of the negative PLAYDLL_ERROR_ codes.
  int Status() const noexcept { return status_; }

 private:
  int status_;
};

namespace detail {

inline void Check(int status) {
  if (status != PLAYDLL_OK) throw Error(status, playdll_last_error());
}

// Names reach the C API as C strings, which end at a NUL byte.
inline const char* CString(const std::string& text, const char* what) {
  if (text.find('\0') != std::string::npos)
    throw Error(PLAYDLL_ERROR_ARGUMENT, std::string(what) + " holds a NUL byte");
  return text.c_str();
}

}  // namespace detail

struct Event {
  enum Kinds { MsgBoxOb = PLAYDLL_EVENT_MSGBOXOB, MessageBox = PLAYDLL_EVENT_MESSAGEBOX };
  int Kind = MsgBoxOb;
  std::string Msg;  // MsgBoxOb: Msg ("S2" for a status report); MessageBox: the text
  std::string Ttl;  // MsgBoxOb: Ttl; MessageBox: ""
};

// playdll_options; empty strings and 0 mean the defaults. Every member has
// an initializer, so designated initializers may leave any out.
struct Options {
  std::string Output{};
  std::string Engines{};
  bool Simulate = false;
  int LatencyMs = 0;
  std::string SoundService{};
  std::string LogLevel{};
  std::string LogFile{};
};

class HostList {
 public:
  // `name` begins the refusals' messages.
  explicit HostList(const std::string& name = "block list")
      : list_(playdll_list_create(detail::CString(name, "the list's name"))) {
    if (!list_) throw Error(PLAYDLL_ERROR_SETUP, playdll_last_error());
  }

  HostList& AddBlockFile(const std::string& path, int32_t length, int32_t filePos = 1) {
    detail::Check(playdll_list_add_block_file(list_.get(), detail::CString(path, "the path"), length, filePos));
    return *this;
  }
  HostList& AddWavFile(const std::string& path, int32_t length, int32_t filePos, int32_t channels, int32_t bits) {
    detail::Check(
        playdll_list_add_wav_file(list_.get(), detail::CString(path, "the path"), length, filePos, channels, bits));
    return *this;
  }
  HostList& AddSilence(int32_t length) {
    detail::Check(playdll_list_add_silence(list_.get(), length));
    return *this;
  }

  const int32_t* Data() const { return playdll_list_data(list_.get()); }
  size_t Size() const { return playdll_list_size(list_.get()); }
  std::vector<int32_t> Elements() const { return std::vector<int32_t>(Data(), Data() + Size()); }
  // Samples appended so far.
  int32_t Samples() const { return playdll_list_samples(list_.get()); }

 private:
  friend struct Wave;
  struct Deleter {
    void operator()(playdll_list* list) const { playdll_list_destroy(list); }
  };
  explicit HostList(playdll_list* adopted) : list_(adopted) {}
  std::unique_ptr<playdll_list, Deleter> list_;
};

// A PCM WAV file as a wave to hand over in place.
struct Wave {
  int32_t FmtBits = 0;
  int32_t FmtChannal = 0;
  int32_t FmtFriq = 0;
  int32_t WaveNos = 0;
  HostList BlkInLstL;
  HostList BlkInLstR;  // no entry for a mono file

  static Wave InPlace(const std::string& path) {
    playdll_wav w{};
    detail::Check(playdll_wav_open(detail::CString(path, "the path"), &w));
    return Wave{w.FmtBits, w.FmtChannal, w.FmtFriq, w.WaveNos, HostList(w.BlkInLstL), HostList(w.BlkInLstR)};
  }
};

class Player {
 public:
  using Handler = std::function<void(const Event&)>;

  explicit Player(const Options& options = {}) : events_(std::make_unique<Events>()) {
    playdll_options o{};
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    o.output = orNull(options.Output);
    o.engines = orNull(options.Engines);
    o.simulate = options.Simulate ? 1 : 0;
    o.latency_ms = options.LatencyMs;
    o.sound_service = orNull(options.SoundService);
    o.log_level = orNull(options.LogLevel);
    o.log_file = orNull(options.LogFile);
    handle_ = playdll_create(&o);
    if (handle_ == nullptr) throw Error(PLAYDLL_ERROR_SETUP, playdll_last_error());
  }
  // Releases the object unless released; the handler hears its reports.
  ~Player() { playdll_destroy(handle_); }
  Player(Player&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), events_(std::move(other.events_)) {}
  Player& operator=(Player&& other) noexcept {
    if (this != &other) {
      playdll_destroy(handle_);
      handle_ = std::exchange(other.handle_, nullptr);
      events_ = std::move(other.events_);
    }
    return *this;
  }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // ---- events
  // An empty handler sends the events back to the queue.
  void OnEvent(Handler handler) {
    const bool on = static_cast<bool>(handler);
    {
      std::lock_guard<std::mutex> lock(events_->Mu);
      events_->Current = std::make_shared<const Handler>(std::move(handler));
    }
    detail::Check(playdll_set_event_callback(handle_, on ? &Events::Deliver : nullptr, events_.get()));
  }
  std::optional<Event> TakeEvent() {
    playdll_event e{};
    const int got = playdll_take_event(handle_, &e);
    if (got < 0) detail::Check(got);
    if (got == 0) return std::nullopt;
    return Event{e.kind, e.Msg, e.Ttl};
  }
  int EventFd() const { return playdll_event_fd(handle_); }

  // ---- the members of _PlayDllClass
  void DxObj(int32_t& MFrmHwnd) { detail::Check(playdll_DxObj(handle_, &MFrmHwnd)); }
  int32_t PlayCurrentPosition() {
    int32_t position = 0;
    detail::Check(playdll_PlayCurrentPosition(handle_, &position));
    return position;
  }
  void PlayAgain() { detail::Check(playdll_PlayAgain(handle_)); }
  void PlayAgainRev() { detail::Check(playdll_PlayAgainRev(handle_)); }
  int32_t PlayRunningDx7State() {
    int32_t state = 0;
    detail::Check(playdll_PlayRunningDx7State(handle_, &state));
    return state;
  }
  void PlayUTurn() { detail::Check(playdll_PlayUTurn(handle_)); }
  void PlayAtPos(int32_t Pos) { detail::Check(playdll_PlayAtPos(handle_, Pos)); }
  void PlayAtPosRev(int32_t Pos) { detail::Check(playdll_PlayAtPosRev(handle_, Pos)); }
  void ReleaseFiles() { detail::Check(playdll_ReleaseFiles(handle_)); }
  void StopPlay() { detail::Check(playdll_StopPlay(handle_)); }
  void PlayContinue() { detail::Check(playdll_PlayContinue(handle_)); }
  void UpdatePlayPosition() { detail::Check(playdll_UpdatePlayPosition(handle_)); }
  void PlayPause() { detail::Check(playdll_PlayPause(handle_)); }
  void WriteWaveMemo(int32_t FmtBits, int32_t FmtChannal, int32_t FmtFriq, int32_t WaveNos,
                     const std::vector<int32_t>& BlkInLstL, const std::vector<int32_t>& BlkInLstR = {}) {
    detail::Check(playdll_WriteWaveMemo(handle_, FmtBits, FmtChannal, FmtFriq, WaveNos, BlkInLstL.data(),
                                        BlkInLstL.size(), BlkInLstR.data(), BlkInLstR.size()));
  }
  void WriteWaveMemo(int32_t FmtBits, int32_t FmtChannal, int32_t FmtFriq, int32_t WaveNos,
                     const HostList& BlkInLstL, const HostList& BlkInLstR) {
    detail::Check(playdll_WriteWaveMemo(handle_, FmtBits, FmtChannal, FmtFriq, WaveNos, BlkInLstL.Data(),
                                        BlkInLstL.Size(), BlkInLstR.Data(), BlkInLstR.Size()));
  }
  void MemorySizeToUse(int32_t value) { detail::Check(playdll_MemorySizeToUse(handle_, value)); }
  void LoopPlayON(bool value) { detail::Check(playdll_LoopPlayON(handle_, value ? 1 : 0)); }
  void PlayTempoFor(float value) { detail::Check(playdll_PlayTempoFor(handle_, value)); }
  void PlayTempoRev(float value) { detail::Check(playdll_PlayTempoRev(handle_, value)); }
  void AppTmpDir(const std::string& value) {
    detail::Check(playdll_AppTmpDir(handle_, detail::CString(value, "AppTmpDir")));
  }
  void Release() { detail::Check(playdll_Release(handle_)); }

  // Lets `ms` of play time pass (virtual under Simulate); the loop's time in ms.
  int64_t AdvanceTime(int32_t ms) {
    int64_t now = 0;
    detail::Check(playdll_advance_time(handle_, ms, &now));
    return now;
  }

  playdll_handle* Handle() const { return handle_; }

 private:
  // The handler, reached by the library through a pointer that moves with
  // no Player: the delivery takes its own reference, so a handler replaced
  // meanwhile lives until it returns.
  struct Events {
    std::mutex Mu;
    std::shared_ptr<const Handler> Current;

    static void Deliver(void* self, const playdll_event* e) {
      auto* events = static_cast<Events*>(self);
      std::shared_ptr<const Handler> handler;
      {
        std::lock_guard<std::mutex> lock(events->Mu);
        handler = events->Current;
      }
      if (!handler || !*handler) return;
      try {
        (*handler)(Event{e->kind, e->Msg, e->Ttl});
      } catch (...) {
        // Nothing may unwind through the library's thread.
      }
    }
  };

  playdll_handle* handle_ = nullptr;
  std::unique_ptr<Events> events_;
};

}  // namespace playdll

#endif  // PLAYDLL_HPP
