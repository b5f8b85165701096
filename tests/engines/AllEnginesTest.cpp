// What the three engines do alike, each driven directly on the simulated
// world: every frame the virtual output played is compared with the wave.
// They differ only in what sounds after a run's last frame: waveOut nothing
// ("Play Done" 80 to 120 ms later); DirectSound 7 stops CLng(TailMs / tempo +
// 1) ms after the final chunk began, so 1-2 ms of the other half sound too;
// DirectSound 9 plays silence up to the end mark (100-ms steps).

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/PlayApiClass.h"
#include "engines/StreamDx7Class.h"
#include "engines/StreamDx9Class.h"
#include "tests/support/EngineWave.h"

namespace {

using namespace testing_support;
using Reports = std::vector<std::string>;

enum class Engine { WaveOut, Dx7, Dx9 };
const char* const kEngineNames[] = {"WaveOut", "DirectSound7", "DirectSound9"};

class AllEnginesTest : public EngineFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  AllEnginesTest() {
    int32_t hwnd = 77;
    if (GetParam() == Engine::WaveOut) {
      engine = std::make_unique<engines::PlayApiClass>(w.ctx);
    } else if (GetParam() == Engine::Dx7) {
      auto dx7 = std::make_unique<engines::StreamDx7Class>(w.ctx);
      EXPECT_TRUE(dx7->PutONDx7Ds(hwnd));
      engine = std::move(dx7);
    } else {
      auto dx9 = std::make_unique<engines::StreamDx9Class>(w.ctx);
      EXPECT_TRUE(dx9->PutONDx9Ds(hwnd));
      engine = std::move(dx9);
    }
    Listen(*engine);
  }

  // The value for the engine under test.
  template <typename T>
  T ByEngine(T waveOut, T dx7, T dx9) const {
    return GetParam() == Engine::WaveOut ? waveOut : GetParam() == Engine::Dx7 ? dx7 : dx9;
  }
  std::vector<int16_t> Tail(size_t dx7, size_t dx9) const { return Silence(ByEngine<size_t>(0, dx7, dx9)); }

  Wave Ready(const Wave& wave, int32_t rate) {
    EXPECT_TRUE(Load(*engine, wave, rate));
    return wave;
  }

  int32_t Position() { return PositionOf(*engine); }

  // Runs the present run to its end: exactly `expected` played, then "Play
  // Done" when the output stopped (waveOut: 80 to 120 ms after its last
  // frame), and the engine is idle.
  void PlayOut(const std::vector<int16_t>& expected, int64_t runMs) {
    w.loop.RunFor(runMs);
    EXPECT_EQ(w.output.Samples(), expected);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "Play Done");
    const int64_t gap = reportUs.back() - w.output.LastFrameEndUs();
    EXPECT_GE(gap, ByEngine<int64_t>(80'000, 0, 0));
    EXPECT_LT(gap, ByEngine<int64_t>(120'000, 1000, 1000));
    EXPECT_EQ(mod().RunningState, 0);
  }

  std::unique_ptr<engines::EngineContract> engine;  // goes first: its release still reports
};

INSTANTIATE_TEST_SUITE_P(Engines, AllEnginesTest, ::testing::Values(Engine::WaveOut, Engine::Dx7, Engine::Dx9),
                         [](const ::testing::TestParamInfo<Engine>& p) {
                           return std::string(kEngineNames[static_cast<int>(p.param)]);
                         });

TEST_P(AllEnginesTest, CreateSoundBufferRefusesAGeometryThatOverflows) {
  Ready(MonoWave(100), 44100);
  EXPECT_EQ(mod().ChunkSamples, 176400);
  EXPECT_EQ(mod().RunningState, 0);
  EXPECT_TRUE(reports.empty());
  const int32_t bufferBytes = mod().BufferBytes;
  mod().FmtFriq = 300'000'000;  // four seconds of it fit 32 bits, a buffer's bytes do not
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports, Reports{"Play Buffer - Failed"});
  EXPECT_EQ(mod().ChunkSamples, 176400) << "a geometry that overflows is not stored";
  EXPECT_EQ(mod().BufferBytes, bufferBytes);
}

// 8-bit scaling is checked by the chunk builder's tests and by playctl end to end.
TEST_P(AllEnginesTest, PlaysEveryFrameOfMixedBlocksForwardWithAPauseAndReverse) {
  // Mono 16-bit: a block file, silence, and an Orgfile behind a 44-byte
  // header; two full chunks and 6000 frames (750 ms).
  const Wave blk = MonoWave(20000, 5), org = MonoWave(35000, 9);
  Wave mono = blk;
  mono.L.resize(35000, 0);
  mono.L.insert(mono.L.end(), org.L.begin(), org.L.end());
  const std::string blkName = w.tmp.File("blk.raw"), orgName = w.tmp.File("org.wav");
  WriteSamples(blkName, blk.L);
  WriteSamples(orgName, Concat({Silence(22), org.L}));
  ASSERT_TRUE(HandOver(*engine, 1, 8000, 70000,
                       HostList().Blk(blkName, 20000, 1, 1).Silent(15000, 20001).Org(orgName, 35000, 35001, 45, 1, 16)));
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 8000);
  // A pause holds the sound; continuing goes on without a report.
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, 3);
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.FramesPlayed(), 8000);
  EXPECT_EQ(Position(), 8000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  PlayOut(Concat({FramesOf(mono, 1, 70000), Tail(16, 400)}), 9'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  ASSERT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, 8000);

  Forget();
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(4500);
  EXPECT_EQ(Position(), 70000 - 36000 + 1);
  w.loop.RunFor(4000);  // the device's play cursor has wrapped at 8 s
  EXPECT_EQ(Position(), 70000 - 68000 + 1);
  PlayOut(Concat({FramesOf(mono, 70000, 1, -1), Tail(16, 400)}), 1'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

TEST_P(AllEnginesTest, UTurnInTheMiddleGoesBackFromWhereThePlayIs) {
  const Wave wave = Ready(MonoWave(400000), 40000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(2500);  // 100000 frames have sounded
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayDirection, -1);
  EXPECT_EQ(mod().PlayBase, 300000);
  EXPECT_EQ(mod().PlayProgress, 400001) << "the first chunk holds the 100000 frames back to the start";
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 400000 - (300000 + 40000) + 1);
  // 100000 frames back (2500 ms): TailMs 2501.
  PlayOut(Concat({FramesOf(wave, 1, 100000), FramesOf(wave, 100000, 1, -1), Tail(80, 4000)}), 3'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Playing", "Play Done"}));
}

TEST_P(AllEnginesTest, PlaysFromAPositionInEitherDirectionClampedToTheWave) {
  const Wave wave = Ready(MonoWave(70000), 8000);
  struct Case {
    int32_t dir, pos, base;
    std::vector<int16_t> frames;
    size_t tailDx7, tailDx9;  // zeros after the frames
  };
  const std::vector<Case> cases = {
      {1, 50000, 49999, FramesOf(wave, 50000, 70000), 15, 799},   // 20001 frames
      {-1, 50000, 20000, FramesOf(wave, 50000, 1, -1), 16, 400},  // 50000 frames
      {1, 100000, 69999, FramesOf(wave, 70000, 70000), 15, 799},  // clamped: only the last frame
      {-1, 100000, 0, FramesOf(wave, 70000, 1, -1), 16, 400},     // clamped: the whole wave backwards
      {-1, 1, 69999, FramesOf(wave, 1, 1), 15, 799},              // one frame
      {1, -5, 0, FramesOf(wave, 1, 70000), 16, 400},              // clamped: the whole wave
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("direction " + std::to_string(c.dir) + " position " + std::to_string(c.pos));
    Forget();
    mod().PlayDirection = c.dir;
    mod().CurrentPos = c.pos;
    ASSERT_TRUE(engine->PlayAtCurrentPosition());
    EXPECT_EQ(mod().PlayBase, c.base);
    PlayOut(Concat({c.frames, Tail(c.tailDx7, c.tailDx9)}), 10'000);
    EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  }
}

TEST_P(AllEnginesTest, LoopModeRepeatsTheWaveAndCountsTheLoopsUntilStopped) {
  const Wave wave = Ready(MonoWave(16000), 8000);  // two seconds: TailMs 2001
  mod().LoopPlayON = true;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 2);
  w.loop.RunFor(4300);
  EXPECT_EQ(reports, (Reports{"Playing Loop", "Playing Loop", "Playing Loop 1", "Playing Loop", "Playing Loop 2"}));
  EXPECT_EQ(mod().RunningState, 2);

  // A U-turn carries the count on; up to it sounded two passes and the start of a third.
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(reports.back(), "Playing Loop 2");
  const std::vector<int16_t> pass = Concat({FramesOf(wave, 1, 16000), Tail(16, 800)});
  const std::vector<int16_t> played = w.output.Samples();
  ASSERT_GT(played.size(), 2 * pass.size());
  EXPECT_EQ(played, Concat({pass, pass, FramesOf(wave, 1, static_cast<int32_t>(played.size() - 2 * pass.size()))}));

  // Stopped, nothing more sounds and nothing more is reported.
  w.loop.RunFor(100);
  ASSERT_TRUE(engine->StopPlay());
  EXPECT_EQ(mod().RunningState, 0);
  const int64_t frames = w.output.FramesPlayed();
  w.loop.RunFor(3000);
  EXPECT_EQ(w.output.FramesPlayed(), frames);
  EXPECT_EQ(reports.size(), 7u);
  EXPECT_EQ(reports.back(), "Stopped");
}

TEST_P(AllEnginesTest, TempoSetsTheDeviceRateOnDirectSoundAndWaveOutIgnoresIt) {
  // PlayTempoFor 2: the same frames in half the time.
  mod().PlayTempoFor = 2.0f;
  const Wave wave = Ready(MonoWave(70000), 8000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), ByEngine(8000, 16000, 16000));
  PlayOut(Concat({FramesOf(wave, 1, 70000), Tail(16, 400)}), 9'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  ASSERT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, ByEngine(8000, 16000, 16000));
  EXPECT_EQ(w.output.LastFrameEndUs(), ByEngine<int64_t>(8'750'000, 4'376'000, 4'400'000));

  // Reverse takes PlayTempoRev.
  Forget();
  mod().PlayTempoRev = 0.5f;
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->CreateSoundBuffer());
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 70000 - ByEngine(8000, 4000, 4000) + 1);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 70000, 70001 - ByEngine(8000, 4000, 4000), -1));
  EXPECT_EQ(w.output.Segments()[0].rate, ByEngine(8000, 4000, 4000));
}

// Stereo at 44100 (44.1 frames a millisecond), four whole chunks read in
// place from one Orgfile: the run ends on a half boundary.
TEST_P(AllEnginesTest, StereoAt44100EndingOnAHalfBoundaryPlaysFrameExact) {
  const int32_t nos = 4 * 176400;
  Wave wave = MonoWave(nos, 3);
  wave.channels = 2;
  wave.R = MonoWave(nos, 4).L;
  const std::string name = w.tmp.File("stereo.wav");
  WriteSamples(name, FramesOf(wave, 1, nos));
  const HostList right = HostList().Org(name, nos, 1, 3, 2, 16);
  ASSERT_TRUE(HandOver(*engine, 2, 44100, nos, HostList().Org(name, nos, 1, 1, 2, 16), &right));
  ASSERT_TRUE(engine->PlayMe());
  // DirectSound 7's 2 ms stop lets the first 88 frames of half 1 (chunk 3) through.
  const std::vector<int16_t> trailing = ByEngine(std::vector<int16_t>{}, FramesOf(wave, 352801, 352888), {});
  PlayOut(Concat({FramesOf(wave, 1, nos), trailing}), 17'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

}  // namespace
