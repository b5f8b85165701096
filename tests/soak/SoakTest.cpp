// Soak: three hours of looped play in virtual time on each engine, with a
// random command every two to five seconds. Every frame that sounds must be a
// frame of the wave (or silence), following the one before it except where a
// loop wraps or a command moved the play; resident memory and open
// descriptors must stay flat. Run by `make soak`, not by `make test`.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "tests/support/TestWorld.h"

namespace {

constexpr int32_t kFrames = 16000;  // two seconds at 8000 Hz
constexpr int64_t kSoakMs = 3 * 3600 * 1000;

// Frame p of the wave is (3p - 20000, 3p - 19000). The wave position a frame
// holds, 0 for silence, -1 for a frame not in the wave.
int32_t PositionOf(int16_t l, int16_t r) {
  if (l == 0 && r == 0) return 0;
  const int32_t v = l + 20000;
  return v % 3 == 0 && r == l + 1000 && v / 3 >= 1 && v / 3 <= kFrames ? v / 3 : -1;
}

int64_t ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = -1;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int64_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

class Soak : public ::testing::TestWithParam<devices::AudioOffer> {};

TEST_P(Soak, ThreeHoursOfLoopedPlayWithRandomCommands) {
  testing_support::SimWorld world(GetParam());
  facade::PlayDllClass obj(world.ctx, facade::MakeEngineFactory(world.ctx));
  int32_t hwnd = 7;
  obj.DxObj(hwnd);
  const std::string path = world.tmp.File("take.raw");
  std::vector<int16_t> wave;
  for (int32_t p = 1; p <= kFrames; ++p)
    wave.insert(wave.end(), {static_cast<int16_t>(p * 3 - 20000), static_cast<int16_t>(p * 3 - 19000)});
  testing_support::WriteSamples(path, wave);
  auto l = testing_support::HostList().Org(path, kFrames, 1, 1, 2, 16).Build();
  auto r = testing_support::HostList().Org(path, kFrames, 1, 3, 2, 16).Build();
  int32_t bits = 16, chans = 2, friq = 8000, nos = kFrames;
  obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
  obj.SetLoopPlayON(true);
  obj.PlayAgain();

  std::mt19937 rng(GetParam().Dx9 ? 9 : GetParam().Dx7 ? 7 : 1);
  int64_t kbAfterWarmUp = 0, fdsAfterWarmUp = 0, frames = 0;
  int32_t last = 0;
  bool paused = false;
  for (int64_t now = 0; now < kSoakMs;) {
    const int32_t stepMs = std::uniform_int_distribution<int32_t>(2000, 5000)(rng);
    world.loop.RunFor(stepMs);
    now += stepMs;
    const std::vector<int16_t> played = world.output.TakeSamples();
    int64_t stepJumps = 0;
    for (size_t i = 0; i + 1 < played.size(); i += 2) {
      const int32_t pos = PositionOf(played[i], played[i + 1]);
      ASSERT_GE(pos, 0) << "a frame that is not in the wave at " << now << " ms";
      if (pos == 0) continue;
      // Following: one frame on or back, or across the loop's wrap.
      stepJumps += last != 0 && std::abs(pos - last) != 1 && std::abs(pos - last) != kFrames - 1;
      last = pos;
      ++frames;
    }
    // The command given at the end of the last step may move the play, and a
    // looping buffer may sound what it held before a start took effect.
    EXPECT_LE(stepJumps, 3) << "the play jumped without a command at " << now << " ms";

    int32_t pos = std::uniform_int_distribution<int32_t>(1, kFrames)(rng);
    switch (std::uniform_int_distribution<int>(0, paused ? 0 : 6)(rng)) {
      case 0:
        if (paused) obj.PlayContinue();
        paused = false;
        break;
      case 1: obj.PlayPause(); paused = true; break;
      case 2: obj.PlayUTurn(); break;
      case 3: obj.PlayAtPos(pos); break;
      case 4: obj.PlayAtPosRev(pos); break;
      case 5: obj.SetPlayTempoFor(std::uniform_real_distribution<float>(0.5f, 2.0f)(rng)); break;
      case 6: obj.StopPlay(); obj.PlayAgainRev(); break;
    }
    if (kbAfterWarmUp == 0 && now >= 10 * 60 * 1000) {
      kbAfterWarmUp = ResidentKb();
      fdsAfterWarmUp = OpenDescriptors();
    }
  }
  EXPECT_GT(frames, kSoakMs / 1000 * 8000 / 2) << "the wave sounded most of the time";
  EXPECT_LE(ResidentKb() - kbAfterWarmUp, 16 * 1024) << "resident memory grew";
  EXPECT_EQ(OpenDescriptors(), fdsAfterWarmUp);
}

INSTANTIATE_TEST_SUITE_P(Engines, Soak,
                         ::testing::Values(devices::AudioOffer{}, devices::AudioOffer{false, true, true},
                                           devices::AudioOffer{false, false, true}),
                         [](const auto& p) { return p.param.Dx9 ? "Dx9" : p.param.Dx7 ? "Dx7" : "WaveOut"; });

}  // namespace
