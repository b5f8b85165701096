#include "tests/device/SoundSystems.h"

#include <jack/jack.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/os/Clock.h"

namespace device_test {

namespace {

// A variable `make test` exports; fails loudly when it is missing.
std::string Required(const char* name, const std::string& system) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') {
    ADD_FAILURE() << "no private " << system << " server (" << name
                  << " unset): run through `make test`, which starts one (scripts/sound-servers.sh)";
    throw std::runtime_error(std::string("no ") + name);
  }
  return v;
}

// The sink's monitor through libpulse: each read notes when the next frame
// to read had reached the sink (now less the stream's latency), and the
// recording's clock is the median of those notes.
class PulseRecorder final : public Recorder {
 public:
  explicit PulseRecorder(const std::string& server) {
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kCardRate, 2};
    const pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                              static_cast<uint32_t>(-1), kBlock * 4};
    int error = 0;
    pa_ = pa_simple_new(server.c_str(), "playsrv-test", PA_STREAM_RECORD, "nul.monitor", "recorder", &spec, nullptr,
                        &attr, &error);
    if (pa_ == nullptr) throw std::runtime_error(std::string("cannot record: ") + pa_strerror(error));
    thread_ = std::thread([this] { Loop(); });
  }
  ~PulseRecorder() override { Stop(); }

  void Stop() override {
    if (pa_ == nullptr) return;
    stop_ = true;
    thread_.join();
    pa_simple_free(pa_);
    pa_ = nullptr;
    std::sort(zeros_.begin(), zeros_.end());
    if (!zeros_.empty()) anchors_ = {{0, zeros_[zeros_.size() / 2]}};
  }

 private:
  static constexpr uint32_t kBlock = 48;  // 1 ms

  void Loop() {
    int16_t block[2 * kBlock];
    int error = 0;
    while (!stop_) {
      if (pa_simple_read(pa_, block, sizeof block, &error) < 0) break;
      const int64_t now = os::SteadyNs();
      const pa_usec_t latency = pa_simple_get_latency(pa_, &error);
      for (uint32_t i = 0; i < kBlock; ++i) left_.push_back(block[2 * i]);
      zeros_.push_back(now - static_cast<int64_t>(latency) * 1000 -
                       static_cast<int64_t>(left_.size()) * 1000000000 / kCardRate);
    }
  }

  pa_simple* pa_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<int64_t> zeros_;
};

// A JACK client of the test's own with two input ports, "rec:in_left" and
// "rec:in_right", which playsrv is told to connect to. A period's frames
// reach it at the period's start, which JACK's clock tells (taken over to
// the steady clock in the same callback).
class JackRecorder final : public Recorder {
 public:
  explicit JackRecorder(const std::string& server) {
    left_.resize(kCapacity);  // filled in place by the callback, which must not allocate
    anchors_.resize(kCapacity / 16);
    jack_status_t status{};
    client_ = jack_client_open("rec", static_cast<jack_options_t>(JackNoStartServer | JackServerName | JackUseExactName),
                               &status, server.c_str());
    if (client_ == nullptr) throw std::runtime_error("cannot record: no JACK server " + server);
    left_port_ = jack_port_register(client_, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_port_register(client_, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &OnProcess, this);
    jack_activate(client_);
  }
  ~JackRecorder() override { Stop(); }

  void Stop() override {
    if (client_ == nullptr) return;
    jack_deactivate(client_);
    jack_client_close(client_);
    client_ = nullptr;
    left_.resize(count_);
    anchors_.resize(periods_);
  }

 private:
  static constexpr size_t kCapacity = 120 * kCardRate;

  static int OnProcess(jack_nframes_t n, void* self) {
    auto* me = static_cast<JackRecorder*>(self);
    const int64_t steady = os::SteadyNs() - static_cast<int64_t>(jack_get_time()) * 1000;
    jack_nframes_t frames = 0;
    jack_time_t start = 0, next = 0;
    float period = 0;
    jack_get_cycle_times(me->client_, &frames, &start, &next, &period);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(me->left_port_, n));
    if (me->count_ + n > kCapacity || me->periods_ >= me->anchors_.size()) return 0;
    me->anchors_[me->periods_++] = Anchor{me->count_, static_cast<int64_t>(start) * 1000 + steady};
    for (jack_nframes_t i = 0; i < n; ++i) me->left_[me->count_ + i] = static_cast<int16_t>(std::lrint(in[i] * 32768.0f));
    me->count_ += n;
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* left_port_ = nullptr;
  size_t count_ = 0;
  size_t periods_ = 0;
};

}  // namespace

int64_t Recorder::TimeOfFrameNs(size_t n) const {
  if (anchors_.empty()) return 0;
  auto after = std::upper_bound(anchors_.begin(), anchors_.end(), n,
                                [](size_t frame, const Anchor& a) { return frame < a.frame; });
  const Anchor& a = after == anchors_.begin() ? anchors_.front() : *(after - 1);
  return a.ns + (static_cast<int64_t>(n) - static_cast<int64_t>(a.frame)) * 1000000000 / kCardRate;
}

SoundSystem FindSoundSystem(const std::string& name) {
  SoundSystem s{name, "", {}, ""};
  if (name == "pulse") {
    const std::string dir = Required("PLAY_PULSE_DIR", name);
    s.output = "device:pulse";
    s.env = {{"XDG_RUNTIME_DIR", dir}, {"PULSE_SERVER", ""}};
    s.server = "unix:" + dir + "/pulse/native";
  } else if (name == "pipewire") {
    const std::string dir = Required("PLAY_PIPEWIRE_DIR", name);
    s.output = "device:pipewire";
    s.server = "unix:" + dir + "/pulse/native";
    s.env = {{"PIPEWIRE_RUNTIME_DIR", dir}, {"PULSE_SERVER", s.server}, {"PULSE_CLIENTCONFIG", dir + "/client.conf"}};
  } else if (name == "jack") {
    s.server = Required("PLAY_JACK_SERVER", name);
    s.output = "device:jack:rec:in_left,rec:in_right";
    s.env = {{"JACK_DEFAULT_SERVER", s.server}};
  } else if (name == "alsa") {
    const std::string dir = Required("PLAY_PULSE_DIR", name);
    s.output = "device:alsa:nul";
    s.env = {{"ALSA_CONFIG_PATH", Required("PLAY_ALSA_CONFIG", name)}, {"XDG_RUNTIME_DIR", dir}, {"PULSE_SERVER", ""}};
    s.server = "unix:" + dir + "/pulse/native";
  } else {
    throw std::invalid_argument("no sound system " + name);
  }
  return s;
}

namespace {

void Set(const std::string& name, const std::optional<std::string>& value) {
  if (value.has_value()) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

}  // namespace

ScopedEnv::ScopedEnv(const std::vector<std::pair<std::string, std::string>>& vars) {
  for (const auto& [name, value] : vars) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    Set(name, value.empty() ? std::nullopt : std::optional<std::string>(value));
  }
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Set(it->first, it->second);
}

std::unique_ptr<Recorder> StartRecorder(const SoundSystem& system) {
  if (system.name == "jack") return std::make_unique<JackRecorder>(system.server);
  return std::make_unique<PulseRecorder>(system.server);
}

OwnServer::OwnServer(std::string kind) : kind_(std::move(kind)) {
  char tmpl[] = "/tmp/playtest-server-XXXXXX";
  dir_ = mkdtemp(tmpl);
}

OwnServer::~OwnServer() {
  Kill();
  std::system(("rm -rf " + dir_).c_str());
}

void OwnServer::Start() {
  std::string command;
  if (kind_ == "jack") {
    command = "jackd --no-realtime -n own-" + dir_.substr(dir_.rfind('-') + 1) +
              " -d dummy -r 48000 -p 256 >/dev/null 2>&1 & echo $! >" + dir_ + "/pids; sleep 1";
  } else if (kind_ == "pipewire") {
    command = "rm -f " + dir_ + "/pids; bash " PLAY_SOURCE_DIR "/scripts/sound-servers.sh pipewire " + dir_;
  } else {
    command = "XDG_RUNTIME_DIR=" + dir_ + " HOME=" + dir_ +
              " pulseaudio -n --daemonize=yes --exit-idle-time=-1 --use-pid-file=yes --disable-shm=yes "
              "--load='module-null-sink sink_name=nul rate=48000 norewinds=1' "
              "--load=module-native-protocol-unix >/dev/null 2>&1 && cp " + dir_ + "/pulse/pid " + dir_ + "/pids";
  }
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream f(dir_ + "/pids");
  for (int pid = 0; f >> pid;) pids_.push_back(pid);
  ASSERT_FALSE(pids_.empty()) << "no process id from " << command;
}

// The servers' processes, the last started first. Their parent is gone, so
// an ended one may stay a zombie for a while: that counts as ended.
void OwnServer::Kill() {
  auto running = [](int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
  };
  for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
    kill(*pid, SIGTERM);
    for (int i = 0; i < 100 && running(*pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pids_.clear();
}

std::vector<std::pair<std::string, std::string>> OwnServer::Env(const std::string& system) const {
  if (system == "jack") return {{"JACK_DEFAULT_SERVER", "own-" + dir_.substr(dir_.rfind('-') + 1)}};
  if (system == "pipewire") return {{"PIPEWIRE_RUNTIME_DIR", dir_}};
  std::vector<std::pair<std::string, std::string>> env{{"XDG_RUNTIME_DIR", dir_}, {"PULSE_SERVER", ""}};
  if (system == "alsa") env.emplace_back("ALSA_CONFIG_PATH", Required("PLAY_ALSA_CONFIG", system));
  return env;
}

int Shell(const SoundSystem& system, const std::string& command) {
  ScopedEnv env(system.env);
  return std::system(command.c_str());
}

}  // namespace device_test
