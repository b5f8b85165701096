// Real-time playback on the sound card, in one process as playsrv runs it:
// the DirectSound 7 engine plays a 44.1-kHz stereo wave through the device
// output, converted to the card's 48 kHz, on the loop's real clock steered by
// the card. Needs a sound server (`make bench` starts a private one with a
// null sink).
//   core_fraction     process CPU time over wall time while playing (goal < 0.02)
//   start_latency_ms  PlayAgain to the first frame leaving the loudspeaker (goal < 50)
//   underruns         runs of the card without frames while playing (0)

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "platform/audio/AudioBackend.h"
#include "platform/audio/DeviceOutput.h"
#include "platform/audio/SlavedClock.h"
#include "platform/os/MessageBox.h"
#include "tests/support/TestWorld.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kSeconds = 8;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<std::unique_ptr<audio::AudioBackend>> Backends() {
  std::vector<std::unique_ptr<audio::AudioBackend>> backends;
  backends.push_back(audio::MakeAudioBackend("pulse"));
  return backends;
}

struct CardWorld {
  CardWorld()
      : loop(clock),
        output(loop, Backends(), "", audio::DeviceOutput::Settings{&clock}),
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

void BM_RealTimePlaybackOnTheCard(benchmark::State& state) {
  CardWorld world;
  if (!world.output.Available()) {
    state.SkipWithError(("no sound device: " + world.output.Trouble()).c_str());
    return;
  }
  int32_t hwnd = 5;
  world.play.DxObj(hwnd);
  int32_t bits = 16, channels = 2, rate = kRate, frames = kRate * (kSeconds + 2);
  const auto list = testing_support::HostList().Silent(frames, 1).Build();
  world.play.WriteWaveMemo(bits, channels, rate, frames, list, list);
  world.RunFor(1000);  // the sound server picks the new stream up
  double fraction = 0, latency = 0;
  for (auto _ : state) {
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds();
    world.play.PlayAgain();
    world.RunFor(kSeconds * 1000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    fraction = (CpuSeconds() - cpu0) / wall;
    latency = static_cast<double>(world.output.StartLatencyUs()) / 1000;
    world.play.StopPlay();
    world.RunFor(200);
    state.SetIterationTime(wall);
  }
  state.counters["core_fraction"] = fraction;
  state.counters["start_latency_ms"] = latency;
  state.counters["underruns"] = static_cast<double>(world.output.Underruns());
}

BENCHMARK(BM_RealTimePlaybackOnTheCard)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
