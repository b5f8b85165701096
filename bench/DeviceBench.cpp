// Real-time playback on each sound system, in one process as playsrv runs
// it: the DirectSound 7 engine plays a 44.1-kHz stereo wave through the
// device output, converted to the card's 48 kHz, on the loop's real clock
// steered by the card. `make bench` starts private servers for each
// (scripts/sound-servers.sh); a sound system it could not start is reported
// as an error of its benchmark.
//   core_fraction     process CPU time over wall time while playing (goal < 0.02)
//   start_latency_ms  PlayAgain to the first frame leaving the card, by the card's clock
//   turn_latency_ms   PlayUTurn to the first frame of the way back leaving the card
//   underruns         times the card found no frames while playing (0)
// The load test (a minute beside two busy processes, searched for gaps) is
// a device test run by `make soak`.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "platform/audio/AudioBackend.h"
#include "platform/audio/DeviceOutput.h"
#include "platform/audio/SlavedClock.h"
#include "platform/os/MessageBox.h"
#include "tests/support/TestWorld.h"

namespace {

constexpr int32_t kRate = 44100;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// Points this process at the private server of `system` (as the device
// tests do); false when `make bench` did not start it.
bool UseSoundSystem(const std::string& system, std::string& backend) {
  const std::string pulse = Env("PLAY_PULSE_DIR"), pipewire = Env("PLAY_PIPEWIRE_DIR");
  if (system == "pulse" && !pulse.empty()) {
    setenv("XDG_RUNTIME_DIR", pulse.c_str(), 1);
    unsetenv("PULSE_SERVER");
    backend = "pulse";
  } else if (system == "pipewire" && !pipewire.empty()) {
    setenv("PIPEWIRE_RUNTIME_DIR", pipewire.c_str(), 1);
    backend = "pipewire";
  } else if (system == "jack" && !Env("PLAY_JACK_SERVER").empty()) {
    setenv("JACK_DEFAULT_SERVER", Env("PLAY_JACK_SERVER").c_str(), 1);
    backend = "jack";
  } else if (system == "alsa" && !pulse.empty() && !Env("PLAY_ALSA_CONFIG").empty()) {
    setenv("XDG_RUNTIME_DIR", pulse.c_str(), 1);
    unsetenv("PULSE_SERVER");
    setenv("ALSA_CONFIG_PATH", Env("PLAY_ALSA_CONFIG").c_str(), 1);
    backend = "alsa";
  } else {
    return false;
  }
  return true;
}

std::vector<std::unique_ptr<audio::AudioBackend>> Backend(const std::string& name) {
  std::vector<std::unique_ptr<audio::AudioBackend>> backends;
  backends.push_back(audio::MakeAudioBackend(name));
  return backends;
}

struct CardWorld {
  CardWorld(const std::string& backend, const std::string& device)
      : loop(clock),
        output(loop, Backend(backend), device, audio::DeviceOutput::Settings{&clock}),
        audio(loop, output, devices::AudioOffer{false, true, false}, ""),
        ctx(loop, box, audio),
        play(ctx, facade::MakeEngineFactory(ctx)) {
    box.SetQuiet(true);
  }
  // Runs the loop in real time for `ms`.
  void RunFor(int64_t ms) {
    loop.PostAt(loop.NowUs() + ms * 1000, [this] { loop.Quit(); });
    loop.Run();
  }

  audio::SlavedClock clock;
  os::EventLoop loop;
  os::MessageBox box;
  audio::DeviceOutput output;
  devices::AudioPlatform audio;
  state::PlayContext ctx;
  facade::PlayDllClass play;
};

// Plays `seconds` of the wave per iteration with a U-turn in the middle.
void PlayOn(benchmark::State& state, const std::string& system, int32_t seconds) {
  std::string backend;
  if (!UseSoundSystem(system, backend)) {
    state.SkipWithError(("no private " + system + " server (run through make bench)").c_str());
    return;
  }
  CardWorld world(backend, backend == "alsa" ? "nul" : "");
  if (!world.output.Available()) {
    state.SkipWithError(("no sound device: " + world.output.Trouble()).c_str());
    return;
  }
  int32_t hwnd = 5;
  world.play.DxObj(hwnd);
  int32_t bits = 16, channels = 2, rate = kRate, frames = kRate * (seconds + 2);
  const auto list = testing_support::HostList().Silent(frames, 1).Build();
  world.play.WriteWaveMemo(bits, channels, rate, frames, list, list);
  world.RunFor(500);
  double fraction = 0, start = 0, turn = 0;
  const int64_t underruns = world.output.Underruns();
  for (auto _ : state) {
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds();
    world.play.PlayAgain();
    world.RunFor(seconds * 500);
    start = static_cast<double>(world.output.StartLatencyUs()) / 1000;
    world.play.PlayUTurn();
    world.RunFor(seconds * 500);
    turn = static_cast<double>(world.output.StartLatencyUs()) / 1000;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    fraction = (CpuSeconds() - cpu0) / wall;
    world.play.StopPlay();
    world.RunFor(200);
    state.SetIterationTime(wall);
  }
  state.counters["core_fraction"] = fraction;
  state.counters["start_latency_ms"] = start;
  state.counters["turn_latency_ms"] = turn;
  state.counters["underruns"] = static_cast<double>(world.output.Underruns() - underruns);
}

void BM_RealTimePlayback(benchmark::State& state, const char* system) { PlayOn(state, system, 8); }

BENCHMARK_CAPTURE(BM_RealTimePlayback, pulse, "pulse")->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_RealTimePlayback, pipewire, "pipewire")->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_RealTimePlayback, jack, "jack")->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_RealTimePlayback, alsa, "alsa")->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
