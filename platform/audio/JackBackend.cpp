// The JACK backend: a client of the running JACK server (or of PipeWire's
// JACK graph) with two output ports, connected to the system's playback
// ports unless given two ports by name. The graph's rate and period are the
// card's; JACK's process thread calls OnProcess once a period, which renders
// into a scratch buffer allocated at open and converts it to JACK's floats.
// libjack is loaded at run time; the server is never started by us.

#include <jack/jack.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <string>
#include <vector>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/SoundLibrary.h"
#include "platform/os/Clock.h"
#include "platform/os/Errors.h"

namespace audio {

namespace {

#define JACK_ENTRIES(X)                                                                                     \
  X(jack_client_open) X(jack_client_close) X(jack_get_sample_rate) X(jack_get_buffer_size)                \
  X(jack_port_register) X(jack_port_get_buffer) X(jack_port_name) X(jack_set_process_callback)            \
  X(jack_set_sample_rate_callback) X(jack_set_buffer_size_callback) X(jack_on_info_shutdown)              \
  X(jack_activate) X(jack_deactivate) X(jack_get_ports) X(jack_free) X(jack_connect)                      \
  X(jack_port_get_latency_range) X(jack_set_error_function)              \
  X(jack_set_info_function) X(jack_is_realtime) X(jack_get_cycle_times) X(jack_get_time)

struct JackApi {
  JACK_ENTRIES(PLAY_SOUND_ENTRY_MEMBER)
};

void Quiet(const char*) {}

// libjack's entries, loaded on first use; throws os::PlayError when the
// library is not installed. libjack's own messages (a server that is not
// running is an everyday answer here) are silenced.
const JackApi& Jack() {
  static const JackApi table = [] {
    JackApi api;
    const os::SharedLibrary& lib = LoadSoundLibrary("libjack.so.0");
    JACK_ENTRIES(PLAY_SOUND_ENTRY_RESOLVE)
    api.jack_set_error_function(&Quiet);
    api.jack_set_info_function(&Quiet);
    return api;
  }();
  return table;
}

constexpr int32_t kChannels = 2;
// The scratch buffer's frames; a longer period is rendered in pieces.
constexpr size_t kScratchFrames = 8192;

// A client of the server JACK_DEFAULT_SERVER names (or "default"); throws
// os::PlayError when there is no server.
jack_client_t* OpenClient() {
  jack_status_t status{};
  jack_client_t* client = Jack().jack_client_open("playsrv", JackNoStartServer, &status);
  if (client == nullptr) throw os::PlayError("JACK: no server running");
  return client;
}

// The names of the ports `flags` selects (all audio ports when `physical`
// is false), in the server's order.
std::vector<std::string> Ports(jack_client_t* client, unsigned long flags) {
  std::vector<std::string> names;
  const char** ports = Jack().jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags);
  if (ports == nullptr) return names;
  for (const char** p = ports; *p != nullptr; ++p) names.emplace_back(*p);
  Jack().jack_free(static_cast<void*>(ports));
  return names;
}

class JackBackend final : public AudioBackend {
 public:
  ~JackBackend() override { Close(); }

  const char* Name() const override { return "jack"; }

  void Open(const std::string& device, int64_t /*queueUs*/, RenderFn render, void* arg) override {
    const JackApi& jack = Jack();
    if (suspended_ && device == device_ && render == render_ && arg == arg_ && !Lost()) {
      suspended_ = false;
      // The server may have changed its rate meanwhile, untold to an inactive client.
      rate_.store(static_cast<int32_t>(jack.jack_get_sample_rate(client_)), std::memory_order_release);
      if (jack.jack_activate(client_) != 0) Fail("cannot activate the client");
      Connect(device);
      return;
    }
    Close();
    device_ = device;
    render_ = render;
    arg_ = arg;
    lost_.store(false, std::memory_order_release);
    scratch_.assign(kScratchFrames * kChannels, 0);
    lastCycle_ = 0;
    client_ = OpenClient();
    rate_.store(static_cast<int32_t>(jack.jack_get_sample_rate(client_)), std::memory_order_release);
    period_.store(jack.jack_get_buffer_size(client_), std::memory_order_release);
    for (int i = 0; i < kChannels; ++i) {
      ports_[i] = jack.jack_port_register(client_, i == 0 ? "out_left" : "out_right", JACK_DEFAULT_AUDIO_TYPE,
                                          JackPortIsOutput, 0);
      if (ports_[i] == nullptr) Fail("cannot register an output port");
    }
    jack.jack_set_process_callback(client_, &OnProcess, this);
    jack.jack_set_sample_rate_callback(client_, &OnRate, this);
    jack.jack_set_buffer_size_callback(client_, &OnPeriod, this);
    jack.jack_on_info_shutdown(client_, &OnShutdown, this);
    if (jack.jack_activate(client_) != 0) Fail("cannot activate the client");
    Connect(device);
  }

  void Close() override {
    if (client_ == nullptr) return;
    if (!suspended_) Jack().jack_deactivate(client_);
    Jack().jack_client_close(client_);
    client_ = nullptr;
    ports_[0] = ports_[1] = nullptr;
    suspended_ = false;
  }

  // The client stays, inactive and unconnected: the graph no longer runs it,
  // and activating it again is quicker than a new client.
  void Suspend() override {
    if (client_ == nullptr || suspended_) return;
    Jack().jack_deactivate(client_);
    suspended_ = true;
  }

  int32_t Rate() const override { return rate_.load(std::memory_order_acquire); }
  bool Lost() const override { return lost_.load(std::memory_order_acquire); }
  int64_t PeriodFrames() const override { return period_.load(std::memory_order_acquire); }
  // JACK's server decides for its clients' threads.
  int RealTime() const override { return client_ != nullptr ? Jack().jack_is_realtime(client_) != 0 : -1; }

  std::vector<Device> List() override {
    jack_client_t* client = OpenClient();
    std::vector<Device> devices;
    const std::vector<std::string> inputs = Ports(client, JackPortIsInput);
    Jack().jack_client_close(client);
    // Two ports of one client at a time, as --output device:jack:PORT,PORT takes them.
    for (size_t i = 0; i + 1 < inputs.size(); i += 2)
      devices.push_back({inputs[i] + "," + inputs[i + 1], "JACK ports"});
    return devices;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    Close();
    throw os::PlayError("JACK: " + why);
  }

  // Our two ports to `device`'s two ports ("A,B"), or to the first two
  // physical playback ports.
  void Connect(const std::string& device) {
    std::vector<std::string> targets;
    if (device.empty()) {
      targets = Ports(client_, JackPortIsInput | JackPortIsPhysical);
      if (targets.size() == 1) targets.push_back(targets.front());  // a mono card hears both
    } else {
      const size_t comma = device.find(',');
      if (comma == std::string::npos) Fail("'" + device + "' is not two ports (LEFT,RIGHT)");
      targets = {device.substr(0, comma), device.substr(comma + 1)};
    }
    if (targets.size() < 2) Fail("no playback ports to connect to");
    for (int i = 0; i < kChannels; ++i) {
      const int r = Jack().jack_connect(client_, Jack().jack_port_name(ports_[i]), targets[i].c_str());
      if (r != 0 && r != EEXIST) Fail("cannot connect to '" + targets[i] + "'");
    }
  }

  // JACK's process thread. At the period's start, by JACK's own clock (taken
  // over to the steady clock here), what was rendered before it has the
  // ports' playback latency still to go.
  static int OnProcess(jack_nframes_t frames, void* self) {
    auto* me = static_cast<JackBackend*>(self);
    const JackApi& jack = Jack();
    jack_latency_range_t range{};
    jack.jack_port_get_latency_range(me->ports_[0], JackPlaybackLatency, &range);
    jack_nframes_t cycleFrame = 0;
    jack_time_t cycleUs = 0, nextUs = 0;
    float periodUs = 0;
    Timing timing;
    timing.delayFrames = range.max;
    timing.nowNs = os::SteadyNs();
    // A cycle of a new length (told before it or not, as JACK servers
    // differ).
    timing.reconfigured = me->lastCycle_ > 0 && frames != me->lastCycle_;
    me->lastCycle_ = frames;
    if (jack.jack_get_cycle_times(me->client_, &cycleFrame, &cycleUs, &nextUs, &periodUs) == 0)
      timing.nowNs += (static_cast<int64_t>(cycleUs) - static_cast<int64_t>(jack.jack_get_time())) * 1000;
    auto* left = static_cast<float*>(jack.jack_port_get_buffer(me->ports_[0], frames));
    auto* right = static_cast<float*>(jack.jack_port_get_buffer(me->ports_[1], frames));
    for (size_t done = 0; done < frames;) {
      const size_t n = std::min<size_t>(frames - done, kScratchFrames);
      me->render_(me->arg_, me->scratch_.data(), n, timing);
      for (size_t i = 0; i < n; ++i) {
        left[done + i] = static_cast<float>(me->scratch_[2 * i]) / 32768.0f;
        right[done + i] = static_cast<float>(me->scratch_[2 * i + 1]) / 32768.0f;
      }
      done += n;
      timing.delayFrames += static_cast<int64_t>(n);
    }
    return 0;
  }

  static int OnRate(jack_nframes_t rate, void* self) {
    static_cast<JackBackend*>(self)->rate_.store(static_cast<int32_t>(rate), std::memory_order_release);
    return 0;
  }

  static int OnPeriod(jack_nframes_t frames, void* self) {
    static_cast<JackBackend*>(self)->period_.store(frames, std::memory_order_release);
    return 0;
  }

  static void OnShutdown(jack_status_t, const char*, void* self) {
    static_cast<JackBackend*>(self)->lost_.store(true, std::memory_order_release);
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* ports_[kChannels] = {nullptr, nullptr};
  std::string device_;
  bool suspended_ = false;  // inactive between runs (Suspend)
  std::vector<int16_t> scratch_;
  RenderFn render_ = nullptr;
  void* arg_ = nullptr;
  std::atomic<int32_t> rate_{0};
  std::atomic<int64_t> period_{0};
  std::atomic<bool> lost_{false};
  jack_nframes_t lastCycle_ = 0;  // JACK's process thread (reset while inactive)
};

}  // namespace

std::unique_ptr<AudioBackend> MakeJackBackend() { return std::make_unique<JackBackend>(); }

}  // namespace audio
