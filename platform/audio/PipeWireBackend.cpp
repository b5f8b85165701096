// The PipeWire backend: a native client of the PipeWire graph, one playback
// stream (pw_stream) per open device, linked by the session manager to the
// default sink or to the node named. The graph calls OnProcess on its
// real-time data thread once a cycle, with a buffer of the cycle's length;
// OnProcess renders straight into it, so nothing is allocated on that thread
// by us. Against PipeWire's PulseAudio service this saves the queue that
// service keeps per stream (at least twice its smallest request on top of
// the graph's cycle) and gives the card's timing cycle for cycle
// (pw_stream_get_time_n). A buffer is played in the graph's next cycle; when
// that cycle is shorter (a new quantum), the graph plays that much of it and
// drops the rest, which OnProcess hands over again before new frames.
// libpipewire is loaded at run time.

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/RealTime.h"
#include "platform/audio/SoundLibrary.h"
#include "platform/audio/SpscRing.h"
#include "platform/os/Clock.h"
#include "platform/os/Errors.h"

namespace audio {

namespace {

#define PW_ENTRIES(X)                                                                                         \
  X(pw_init) X(pw_log_set_level) X(pw_thread_loop_new) X(pw_thread_loop_destroy) X(pw_thread_loop_start)    \
  X(pw_thread_loop_stop) X(pw_thread_loop_lock) X(pw_thread_loop_unlock) X(pw_thread_loop_signal)           \
  X(pw_thread_loop_get_loop) X(pw_thread_loop_get_time) X(pw_thread_loop_timed_wait_full) X(pw_context_new) \
  X(pw_context_destroy) X(pw_context_connect) X(pw_core_disconnect) X(pw_proxy_destroy) X(pw_properties_new)\
  X(pw_stream_new) X(pw_stream_destroy) X(pw_stream_add_listener) X(pw_stream_connect)                      \
  X(pw_stream_set_active) X(pw_stream_dequeue_buffer) X(pw_stream_queue_buffer) X(pw_stream_get_time_n)

struct PwApi {
  PW_ENTRIES(PLAY_SOUND_ENTRY_MEMBER)
};

// libpipewire's entries, loaded and initialised on first use; throws
// os::PlayError when the library is not installed. Its own log is silenced:
// a machine without a PipeWire server is an everyday answer here.
const PwApi& Pw() {
  static const PwApi table = [] {
    PwApi api;
    const os::SharedLibrary& lib = LoadSoundLibrary("libpipewire-0.3.so.0");
    PW_ENTRIES(PLAY_SOUND_ENTRY_RESOLVE)
    api.pw_init(nullptr, nullptr);
    api.pw_log_set_level(SPA_LOG_LEVEL_NONE);
    return api;
  }();
  return table;
}

constexpr int32_t kChannels = 2;
constexpr size_t kFrameBytes = kChannels * sizeof(int16_t);
// The graph's cycle we ask for when the caller leaves it to us: 256 frames
// at 48 kHz (5.3 ms), as a JACK setup for live work.
constexpr int64_t kDefaultCycleFrames48k = 256;
constexpr int32_t kFallbackRate = 48000;
// The longest cycle whose buffer is kept to be played again (PipeWire's
// default quantum limit).
constexpr size_t kMaxCycleFrames = 8192;
// How long the server, and the session manager's link, may take.
constexpr int64_t kConnectTimeoutNs = 2000000000;

// The thread loop's lock for one scope.
class LoopLock final {
 public:
  explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { Pw().pw_thread_loop_lock(loop_); }
  ~LoopLock() { Pw().pw_thread_loop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pw_thread_loop* loop_;
};

// A connection to the PipeWire server: a started thread loop, a context and
// a core, with the graph's default rate. Throws os::PlayError when there is
// no server. Kept between devices: a new stream on it is quick.
class Connection final {
 public:
  Connection() {
    const PwApi& pw = Pw();
    loop_ = pw.pw_thread_loop_new("playsrv-pipewire", nullptr);
    if (loop_ == nullptr) throw os::PlayError("PipeWire: cannot make a thread loop");
    // The client configuration that asks for real-time scheduling of the
    // data thread (module-rt).
    context_ = pw.pw_context_new(pw.pw_thread_loop_get_loop(loop_),
                                 pw.pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (context_ == nullptr || pw.pw_thread_loop_start(loop_) < 0) {
      Release();
      throw os::PlayError("PipeWire: cannot make a context");
    }
    bool ready = false;
    {
      LoopLock lock(loop_);
      core_ = pw.pw_context_connect(context_, nullptr, 0);
      if (core_ != nullptr) {
        static const pw_core_events events = MakeEvents();
        pw_core_add_listener(core_, &listener_, &events, this);
        // The core's info (the graph's rate) comes before the answer to a sync.
        syncSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
        ready = Await([this] { return synced_ || Lost(); });
      }
    }
    if (!ready || Lost()) {
      Release();
      throw os::PlayError("PipeWire: no server running");
    }
  }
  ~Connection() { Release(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  pw_thread_loop* Loop() const { return loop_; }
  pw_core* Core() const { return core_; }
  int32_t Rate() const { return rate_; }
  bool Lost() const { return lost_.load(std::memory_order_acquire); }

  // Waits (lock held) until `done` holds or kConnectTimeoutNs have passed;
  // whether it holds.
  template <typename Done>
  bool Await(Done done) const {
    timespec deadline{};
    Pw().pw_thread_loop_get_time(loop_, &deadline, kConnectTimeoutNs);
    while (!done())
      if (Pw().pw_thread_loop_timed_wait_full(loop_, &deadline) == -ETIMEDOUT) return done();
    return true;
  }

  // Asks the server for a round trip and waits (lock held) for its answer:
  // everything it sent before is then in.
  void Sync() {
    synced_ = false;
    syncSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
    Await([this] { return synced_ || Lost(); });
  }

 private:
  static pw_core_events MakeEvents() {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.info = &OnInfo;
    events.done = &OnDone;
    events.error = &OnError;
    return events;
  }

  static void OnInfo(void* self, const pw_core_info* info) {
    const char* rate = info->props != nullptr ? spa_dict_lookup(info->props, "default.clock.rate") : nullptr;
    if (rate != nullptr && std::atoi(rate) > 0) static_cast<Connection*>(self)->rate_ = std::atoi(rate);
  }

  static void OnDone(void* self, uint32_t id, int seq) {
    auto* me = static_cast<Connection*>(self);
    if (id == PW_ID_CORE && seq == me->syncSeq_) me->synced_ = true;
    Pw().pw_thread_loop_signal(me->loop_, false);
  }

  // A broken connection (the server went away) is fatal to everything on it.
  static void OnError(void* self, uint32_t id, int /*seq*/, int res, const char* /*message*/) {
    auto* me = static_cast<Connection*>(self);
    if (id == PW_ID_CORE && res == -EPIPE) me->lost_.store(true, std::memory_order_release);
    Pw().pw_thread_loop_signal(me->loop_, false);
  }

  void Release() {
    if (loop_ == nullptr) return;
    const PwApi& pw = Pw();
    pw.pw_thread_loop_stop(loop_);
    if (core_ != nullptr) {
      spa_hook_remove(&listener_);
      pw.pw_core_disconnect(core_);
    }
    if (context_ != nullptr) pw.pw_context_destroy(context_);
    pw.pw_thread_loop_destroy(loop_);
    loop_ = nullptr;
  }

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  spa_hook listener_{};
  int syncSeq_ = 0;
  bool synced_ = false;
  int32_t rate_ = kFallbackRate;
  std::atomic<bool> lost_{false};
};

class PipeWireBackend final : public AudioBackend {
 public:
  ~PipeWireBackend() override {
    Close();
    connection_.reset();
  }

  const char* Name() const override { return "pipewire"; }

  void Open(const std::string& device, int64_t queueUs, RenderFn render, void* arg) override {
    lastFrames_ = 0;
    replayed_.Clear();
    if (suspended_ && device == device_ && render == render_ && arg == arg_ && !Lost()) {
      suspended_ = false;
      rendering_.store(true, std::memory_order_seq_cst);
      LoopLock lock(connection_->Loop());
      Pw().pw_stream_set_active(stream_, true);
      return;
    }
    Close();
    if (connection_ && connection_->Lost()) connection_.reset();
    if (!connection_) connection_ = std::make_unique<Connection>();
    device_ = device;
    render_ = render;
    arg_ = arg;
    rate_ = connection_->Rate();
    failed_.store(false, std::memory_order_release);
    period_.store(0, std::memory_order_release);
    realTime_.store(-1, std::memory_order_release);
    LoopLock lock(connection_->Loop());
    Connect(device, queueUs > 0 ? (queueUs * rate_ + 500000) / 1000000 : kDefaultCycleFrames48k * rate_ / 48000);
    rendering_.store(true, std::memory_order_seq_cst);
  }

  void Close() override {
    if (stream_ == nullptr) return;
    StopRendering();
    {
      LoopLock lock(connection_->Loop());
      spa_hook_remove(&streamListener_);
      Pw().pw_stream_destroy(stream_);
    }
    stream_ = nullptr;
    suspended_ = false;
  }

  // The stream stays, inactive: the graph no longer runs it, so the sink
  // can suspend, and activating it again is quicker than a new link.
  void Suspend() override {
    if (stream_ == nullptr || suspended_) return;
    StopRendering();
    LoopLock lock(connection_->Loop());
    Pw().pw_stream_set_active(stream_, false);
    suspended_ = true;
  }

  int32_t Rate() const override { return rate_; }
  bool Lost() const override {
    return failed_.load(std::memory_order_acquire) || (connection_ && connection_->Lost());
  }
  int64_t PeriodFrames() const override { return period_.load(std::memory_order_acquire); }
  int RealTime() const override { return realTime_.load(std::memory_order_acquire); }

  std::vector<Device> List() override;

 private:
  // The stream, connected and linked, asking for cycles of `cycleFrames`
  // (lock held). Throws os::PlayError
  // saying why when it does not get going.
  void Connect(const std::string& device, int64_t cycleFrames) {
    const PwApi& pw = Pw();
    const std::string latency = std::to_string(std::max<int64_t>(cycleFrames, 1)) + "/" + std::to_string(rate_);
    // A node by name (node.name) or serial number, when one is given.
    pw_properties* props = pw.pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_NODE_NAME, "playsrv", PW_KEY_APP_NAME,
        "playsrv", PW_KEY_NODE_LATENCY, latency.c_str(), device.empty() ? nullptr : PW_KEY_TARGET_OBJECT,
        device.c_str(), nullptr);
    stream_ = pw.pw_stream_new(connection_->Core(), "playback", props);
    if (stream_ == nullptr) throw os::PlayError("PipeWire: cannot make a stream");
    static const pw_stream_events events = MakeEvents();
    pw.pw_stream_add_listener(stream_, &streamListener_, &events, this);
    uint8_t podBuffer[512];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer, sizeof podBuffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16_LE;
    info.channels = kChannels;
    info.rate = static_cast<uint32_t>(rate_);
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    state_ = PW_STREAM_STATE_CONNECTING;
    if (pw.pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0)
      Fail("cannot play on '" + Shown(device) + "'");
    const bool linked = connection_->Await([this] {
      return state_ == PW_STREAM_STATE_PAUSED || state_ == PW_STREAM_STATE_STREAMING || Lost();
    });
    if (Lost()) Fail("cannot play on '" + Shown(device) + "'" + (error_.empty() ? "" : ": " + error_));
    if (!linked) Fail("nothing linked '" + Shown(device) + "' to our stream (no session manager?)");
  }

  [[noreturn]] void Fail(const std::string& why) {
    spa_hook_remove(&streamListener_);
    Pw().pw_stream_destroy(stream_);
    stream_ = nullptr;
    throw os::PlayError("PipeWire: " + why);
  }

  static std::string Shown(const std::string& device) { return device.empty() ? "the default output" : device; }

  // No render call is running or will run once this returns (the data
  // thread checks `rendering_` after saying it is inside OnProcess).
  void StopRendering() {
    rendering_.store(false, std::memory_order_seq_cst);
    while (inProcess_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  }

  static pw_stream_events MakeEvents() {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = &OnState;
    events.process = &OnProcess;
    return events;
  }

  // The thread loop (lock held): an error, or a stream the server dropped,
  // loses the device.
  static void OnState(void* self, pw_stream_state /*old*/, pw_stream_state state, const char* error) {
    auto* me = static_cast<PipeWireBackend*>(self);
    me->state_ = state;
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
      if (error != nullptr) me->error_ = error;
      me->failed_.store(true, std::memory_order_release);
    }
    Pw().pw_thread_loop_signal(me->connection_->Loop(), false);
  }

  // The data thread, once a graph cycle: of what was rendered before, the
  // graph's delay to the card and whatever still waits in queued buffers or
  // the converter had not left at the cycle's start; then fill the cycle.
  static void OnProcess(void* self) {
    auto* me = static_cast<PipeWireBackend*>(self);
    const PwApi& pw = Pw();
    me->inProcess_.fetch_add(1, std::memory_order_seq_cst);
    pw_buffer* buffer = pw.pw_stream_dequeue_buffer(me->stream_);
    if (buffer != nullptr) {
      spa_data& data = buffer->buffer->datas[0];
      size_t frames = data.data != nullptr ? data.maxsize / kFrameBytes : 0;
      if (buffer->requested > 0 && buffer->requested < frames) frames = static_cast<size_t>(buffer->requested);
      if (me->rendering_.load(std::memory_order_seq_cst)) {
        me->Render(static_cast<int16_t*>(data.data), frames);
      } else {
        std::memset(data.data, 0, frames * kFrameBytes);
      }
      data.chunk->offset = 0;
      data.chunk->stride = kFrameBytes;
      data.chunk->size = static_cast<uint32_t>(frames * kFrameBytes);
      pw.pw_stream_queue_buffer(me->stream_, buffer);
    }
    me->inProcess_.fetch_sub(1, std::memory_order_seq_cst);
  }

  void Render(int16_t* out, size_t frames) {
    if (realTime_.load(std::memory_order_relaxed) < 0)
      realTime_.store(RequestRealTime(kRenderPriority) ? 1 : 0, std::memory_order_release);
    if (static_cast<int64_t>(frames) > period_.load(std::memory_order_relaxed))
      period_.store(static_cast<int64_t>(frames), std::memory_order_release);
    Timing timing;
    timing.nowNs = os::SteadyNs();
    pw_time time{};
    if (Pw().pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom > 0) {
      const int64_t delay = time.delay * rate_ * static_cast<int64_t>(time.rate.num) / time.rate.denom;
      timing.delayFrames = std::max<int64_t>(delay, 0) + static_cast<int64_t>(time.queued / kFrameBytes) +
                           static_cast<int64_t>(time.buffered);
      if (time.now > 0) timing.nowNs = time.now;
    }
    // A cycle of a new length. The buffer filled last is played in this
    // cycle, and a graph whose cycle got shorter plays only this cycle's
    // length of it and drops the rest: that rest is played again first.
    timing.reconfigured = lastFrames_ > 0 && frames != lastFrames_;
    if (lastFrames_ > frames) Replay(frames, lastFrames_);
    timing.delayFrames += static_cast<int64_t>(replayed_.Size() / kChannels);
    const size_t again = replayed_.Read(out, frames * kChannels) / kChannels;
    render_(arg_, out + again * kChannels, frames - again, timing);
    lastFrames_ = frames <= kMaxCycleFrames ? frames : 0;
    if (lastFrames_ > 0) std::memcpy(last_.data(), out, frames * kFrameBytes);
  }

  // Puts the frames of the last buffer from `from` to `to` before what is
  // still to be played again.
  void Replay(size_t from, size_t to) {
    const size_t pending = replayed_.Size();
    std::memcpy(scratch_.data(), last_.data() + from * kChannels, (to - from) * kFrameBytes);
    replayed_.Read(scratch_.data() + (to - from) * kChannels, pending);
    replayed_.Clear();
    replayed_.Write(scratch_.data(), (to - from) * kChannels + pending);
  }

  std::unique_ptr<Connection> connection_;
  pw_stream* stream_ = nullptr;
  spa_hook streamListener_{};
  pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED;  // thread loop (lock held)
  std::string error_;                                     // thread loop (lock held)
  std::string device_;
  bool suspended_ = false;
  RenderFn render_ = nullptr;
  void* arg_ = nullptr;
  int32_t rate_ = kFallbackRate;
  std::atomic<bool> rendering_{false};
  std::atomic<int> inProcess_{0};
  std::atomic<bool> failed_{false};
  std::atomic<int64_t> period_{0};
  std::atomic<int> realTime_{-1};
  // The data thread's (reset by Open before rendering starts): the buffer
  // filled last and what of it is to be played again.
  size_t lastFrames_ = 0;
  std::vector<int16_t> last_ = std::vector<int16_t>(kMaxCycleFrames * kChannels);
  std::vector<int16_t> scratch_ = std::vector<int16_t>(3 * kMaxCycleFrames * kChannels);
  SpscRing replayed_{2 * kMaxCycleFrames * kChannels};
};

// Every audio sink of the graph, by node name.
std::vector<AudioBackend::Device> PipeWireBackend::List() {
  Connection connection;
  std::vector<Device> devices;
  auto onGlobal = [](void* found, uint32_t /*id*/, uint32_t /*permissions*/, const char* type, uint32_t /*version*/,
                     const spa_dict* props) {
    if (props == nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) return;
    const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
    const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
    if (mediaClass == nullptr || name == nullptr || std::strcmp(mediaClass, "Audio/Sink") != 0) return;
    const char* description = spa_dict_lookup(props, PW_KEY_NODE_DESCRIPTION);
    static_cast<std::vector<Device>*>(found)->push_back({name, description != nullptr ? description : "PipeWire audio sink"});
  };
  static const pw_registry_events events{PW_VERSION_REGISTRY_EVENTS, onGlobal, nullptr};
  LoopLock lock(connection.Loop());
  pw_registry* registry = pw_core_get_registry(connection.Core(), PW_VERSION_REGISTRY, 0);
  if (registry == nullptr) throw os::PlayError("PipeWire: cannot list the nodes");
  spa_hook listener{};
  pw_registry_add_listener(registry, &listener, &events, &devices);
  connection.Sync();  // every node is announced before the answer
  spa_hook_remove(&listener);
  Pw().pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
  return devices;
}

}  // namespace

std::unique_ptr<AudioBackend> MakePipeWireBackend() { return std::make_unique<PipeWireBackend>(); }

}  // namespace audio
