// The PulseAudio backend (PipeWire desktops serve the same protocol): a
// threaded main loop of libpulse, one playback stream per open device.
// PulseAudio's thread calls OnWrite when the server wants data; OnWrite
// renders straight into the server's memory (pa_stream_begin_write), so
// nothing is allocated on that thread by us. libpulse is loaded at run time.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <string>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/RealTime.h"
#include "platform/audio/SoundLibrary.h"
#include "platform/os/Clock.h"
#include "platform/os/Errors.h"

namespace audio {

namespace {

#define PULSE_ENTRIES(X)                                                                                    \
  X(pa_threaded_mainloop_new) X(pa_threaded_mainloop_free) X(pa_threaded_mainloop_start)                  \
  X(pa_threaded_mainloop_stop) X(pa_threaded_mainloop_lock) X(pa_threaded_mainloop_unlock)                \
  X(pa_threaded_mainloop_wait) X(pa_threaded_mainloop_signal) X(pa_threaded_mainloop_get_api)             \
  X(pa_context_new) X(pa_context_unref) X(pa_context_connect) X(pa_context_disconnect)                    \
  X(pa_context_get_state) X(pa_context_set_state_callback) X(pa_context_errno) X(pa_strerror)            \
  X(pa_context_get_sink_info_by_name) X(pa_context_get_sink_info_list) X(pa_operation_get_state)         \
  X(pa_operation_unref) X(pa_stream_new) X(pa_stream_unref) X(pa_stream_connect_playback)                \
  X(pa_stream_disconnect) X(pa_stream_get_state) X(pa_stream_set_state_callback)                         \
  X(pa_stream_set_write_callback) X(pa_stream_begin_write) X(pa_stream_cancel_write) X(pa_stream_write)   \
  X(pa_stream_get_latency) X(pa_usec_to_bytes)

struct PulseApi {
  PULSE_ENTRIES(PLAY_SOUND_ENTRY_MEMBER)
};

// libpulse's entries, loaded on first use; throws os::PlayError when the
// library is not installed.
const PulseApi& Pa() {
  static const PulseApi table = [] {
    PulseApi api;
    const os::SharedLibrary& lib = LoadSoundLibrary("libpulse.so.0");
    PULSE_ENTRIES(PLAY_SOUND_ENTRY_RESOLVE)
    return api;
  }();
  return table;
}

// What the stream asks the server for when the caller leaves it to us: the
// whole way to the loudspeaker (PA_STREAM_ADJUST_LATENCY makes tlength the
// total), refilled in small steps. The stream plays from the moment it opens
// (no pre-buffer): every request is answered in full, with silence where
// there is nothing to play, so the server never runs dry and keeps asking.
constexpr pa_usec_t kDefaultQueueUs = 15000;
constexpr pa_usec_t kRefillUs = 3000;
constexpr int32_t kChannels = 2;
constexpr size_t kFrameBytes = kChannels * sizeof(int16_t);

// The main loop's lock for one scope.
class MainLoopLock final {
 public:
  explicit MainLoopLock(pa_threaded_mainloop* loop) : loop_(loop) { Pa().pa_threaded_mainloop_lock(loop_); }
  ~MainLoopLock() { Pa().pa_threaded_mainloop_unlock(loop_); }
  MainLoopLock(const MainLoopLock&) = delete;
  MainLoopLock& operator=(const MainLoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

// A connection to the sound server: a started threaded main loop and a
// ready context. Throws os::PlayError when the server cannot be reached.
class Connection final {
 public:
  Connection() {
    const PulseApi& pa = Pa();
    loop_ = pa.pa_threaded_mainloop_new();
    if (loop_ == nullptr) throw os::PlayError("PulseAudio: cannot make a main loop");
    context_ = pa.pa_context_new(pa.pa_threaded_mainloop_get_api(loop_), "playsrv");
    if (context_ == nullptr) {
      pa.pa_threaded_mainloop_free(loop_);
      throw os::PlayError("PulseAudio: cannot make a context");
    }
    pa.pa_context_set_state_callback(context_, &OnContextState, this);
    if (pa.pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa.pa_threaded_mainloop_start(loop_) < 0) {
      const std::string why = pa.pa_strerror(pa.pa_context_errno(context_));
      Release();
      throw os::PlayError("PulseAudio: no sound server (" + why + ")");
    }
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    std::string why;
    {
      MainLoopLock lock(loop_);
      while ((state = pa.pa_context_get_state(context_)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state))
        pa.pa_threaded_mainloop_wait(loop_);
      if (state != PA_CONTEXT_READY) why = pa.pa_strerror(pa.pa_context_errno(context_));
    }
    if (state != PA_CONTEXT_READY) {
      Release();
      throw os::PlayError("PulseAudio: no sound server (" + why + ")");
    }
  }
  ~Connection() { Release(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  pa_threaded_mainloop* Loop() const { return loop_; }
  pa_context* Context() const { return context_; }
  bool Lost() const { return lost_.load(std::memory_order_acquire); }

  // Waits (lock held) until `op` has finished, then drops it.
  void Await(pa_operation* op) const {
    if (op == nullptr) return;
    while (Pa().pa_operation_get_state(op) == PA_OPERATION_RUNNING) Pa().pa_threaded_mainloop_wait(loop_);
    Pa().pa_operation_unref(op);
  }

 private:
  static void OnContextState(pa_context* context, void* self) {
    auto* me = static_cast<Connection*>(self);
    if (!PA_CONTEXT_IS_GOOD(Pa().pa_context_get_state(context))) me->lost_.store(true, std::memory_order_release);
    Pa().pa_threaded_mainloop_signal(me->loop_, 0);
  }

  void Release() {
    if (loop_ == nullptr) return;
    const PulseApi& pa = Pa();
    pa.pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
      pa.pa_context_disconnect(context_);
      pa.pa_context_unref(context_);
      context_ = nullptr;
    }
    pa.pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::atomic<bool> lost_{false};
};

class PulseBackend final : public AudioBackend {
 public:
  ~PulseBackend() override { Close(); }

  const char* Name() const override { return "pulse"; }

  void Open(const std::string& device, int64_t queueUs, RenderFn render, void* arg) override {
    Close();
    render_ = render;
    arg_ = arg;
    lost_.store(false, std::memory_order_release);
    period_.store(0, std::memory_order_release);
    realTime_.store(-1, std::memory_order_release);
    connection_ = std::make_unique<Connection>();
    const PulseApi& pa = Pa();
    MainLoopLock lock(connection_->Loop());
    rate_ = SinkRate(device);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate_), kChannels};
    stream_ = pa.pa_stream_new(connection_->Context(), "playback", &spec, nullptr);
    if (stream_ == nullptr) throw os::PlayError("PulseAudio: cannot make a stream");
    pa.pa_stream_set_state_callback(stream_, &OnStreamState, this);
    pa.pa_stream_set_write_callback(stream_, &OnWrite, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    const auto queue = queueUs > 0 ? static_cast<pa_usec_t>(queueUs) : kDefaultQueueUs;
    attr.tlength = static_cast<uint32_t>(pa.pa_usec_to_bytes(queue, &spec));
    attr.prebuf = 0;
    attr.minreq = static_cast<uint32_t>(pa.pa_usec_to_bytes(kRefillUs, &spec));
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa.pa_stream_connect_playback(stream_, device.empty() ? nullptr : device.c_str(), &attr, flags, nullptr,
                                      nullptr) < 0)
      throw os::PlayError("PulseAudio: cannot play on '" + Shown(device) + "'");
    for (;;) {
      const pa_stream_state_t state = pa.pa_stream_get_state(stream_);
      if (state == PA_STREAM_READY) break;
      if (!PA_STREAM_IS_GOOD(state))
        throw os::PlayError("PulseAudio: cannot play on '" + Shown(device) +
                            "': " + pa.pa_strerror(pa.pa_context_errno(connection_->Context())));
      pa.pa_threaded_mainloop_wait(connection_->Loop());
    }
  }

  void Close() override {
    if (!connection_) return;
    {
      const PulseApi& pa = Pa();
      MainLoopLock lock(connection_->Loop());
      if (stream_ != nullptr) {
        pa.pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa.pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa.pa_stream_disconnect(stream_);
        pa.pa_stream_unref(stream_);
        stream_ = nullptr;
      }
    }
    connection_.reset();
  }

  int32_t Rate() const override { return rate_; }
  bool Lost() const override {
    return lost_.load(std::memory_order_acquire) || (connection_ && connection_->Lost());
  }
  int64_t PeriodFrames() const override { return period_.load(std::memory_order_acquire); }
  int RealTime() const override { return realTime_.load(std::memory_order_acquire); }

  std::vector<Device> List() override {
    Connection connection;
    struct Query {
      const Connection* connection;
      std::vector<Device> devices;
    } query{&connection, {}};
    auto onInfo = [](pa_context*, const pa_sink_info* info, int eol, void* q) {
      auto* found = static_cast<Query*>(q);
      if (eol == 0 && info != nullptr)
        found->devices.push_back({info->name, info->description != nullptr ? info->description : ""});
      Pa().pa_threaded_mainloop_signal(found->connection->Loop(), 0);
    };
    MainLoopLock lock(connection.Loop());
    connection.Await(Pa().pa_context_get_sink_info_list(connection.Context(), onInfo, &query));
    return query.devices;
  }

 private:
  static std::string Shown(const std::string& device) { return device.empty() ? "the default output" : device; }

  // The rate of the sink `device` plays on (lock held).
  int32_t SinkRate(const std::string& device) {
    struct Query {
      const Connection* connection;
      uint32_t rate = 0;
    } query{connection_.get()};
    auto onInfo = [](pa_context*, const pa_sink_info* info, int eol, void* q) {
      auto* found = static_cast<Query*>(q);
      if (eol == 0 && info != nullptr) found->rate = info->sample_spec.rate;
      Pa().pa_threaded_mainloop_signal(found->connection->Loop(), 0);
    };
    const std::string name = device.empty() ? "@DEFAULT_SINK@" : device;
    connection_->Await(Pa().pa_context_get_sink_info_by_name(connection_->Context(), name.c_str(), onInfo, &query));
    if (query.rate == 0) throw os::PlayError("PulseAudio: no output '" + Shown(device) + "'");
    return static_cast<int32_t>(query.rate);
  }

  static void OnStreamState(pa_stream* stream, void* self) {
    auto* me = static_cast<PulseBackend*>(self);
    if (!PA_STREAM_IS_GOOD(Pa().pa_stream_get_state(stream))) me->lost_.store(true, std::memory_order_release);
    Pa().pa_threaded_mainloop_signal(me->connection_->Loop(), 0);
  }

  // PulseAudio's thread: what the server holds before this write is the
  // delay of the frames rendered so far (the stream's timing, interpolated
  // from the server's last report); then fill what it asks for, in the
  // pieces its memory comes in.
  static void OnWrite(pa_stream* stream, size_t bytes, void* self) {
    auto* me = static_cast<PulseBackend*>(self);
    const PulseApi& pa = Pa();
    Timing timing;
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa.pa_stream_get_latency(stream, &latency, &negative) == 0 && negative == 0)
      timing.delayFrames = static_cast<int64_t>(latency) * me->rate_ / 1000000;
    timing.nowNs = os::SteadyNs();
    if (me->realTime_.load(std::memory_order_relaxed) < 0)
      me->realTime_.store(RequestRealTime(kRenderPriority) ? 1 : 0, std::memory_order_release);
    if (static_cast<int64_t>(bytes / kFrameBytes) > me->period_.load(std::memory_order_relaxed))
      me->period_.store(static_cast<int64_t>(bytes / kFrameBytes), std::memory_order_release);
    while (bytes >= kFrameBytes) {
      void* data = nullptr;
      size_t piece = bytes;
      if (pa.pa_stream_begin_write(stream, &data, &piece) < 0 || data == nullptr) break;
      const size_t frames = piece / kFrameBytes;
      if (frames == 0) {
        pa.pa_stream_cancel_write(stream);
        break;
      }
      me->render_(me->arg_, static_cast<int16_t*>(data), frames, timing);
      if (pa.pa_stream_write(stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
      bytes -= frames * kFrameBytes;
      timing.delayFrames += static_cast<int64_t>(frames);
    }
  }

  std::unique_ptr<Connection> connection_;
  pa_stream* stream_ = nullptr;
  RenderFn render_ = nullptr;
  void* arg_ = nullptr;
  int32_t rate_ = 0;
  std::atomic<bool> lost_{false};
  std::atomic<int64_t> period_{0};
  std::atomic<int> realTime_{-1};
};

}  // namespace

std::unique_ptr<AudioBackend> MakePulseBackend() { return std::make_unique<PulseBackend>(); }

}  // namespace audio
