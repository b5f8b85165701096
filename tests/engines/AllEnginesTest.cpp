// What the three engines do alike, each driven directly on the simulated
// world. They differ only in what sounds after a run's last frame: waveOut
// nothing ("Play Done" 80 to 120 ms later); DirectSound 7 stops
// CLng(TailMs / tempo + 1) ms after the final chunk began, so 1-2 ms of the
// other half sound too; DirectSound 9 plays silence up to the end mark
// (100-ms steps). 8-bit scaling is the chunk builder's suite's and playctl's.

#include <memory>
#include <string>
#include <vector>

#include "engines/PlayApiClass.h"
#include "engines/StreamDx7Class.h"
#include "engines/StreamDx9Class.h"
#include "tests/engines/EngineFixture.h"

namespace engine_tests {
namespace {

enum class EngineKind { WaveOut, Dx7, Dx9 };
const char* const kEngineNames[] = {"WaveOut", "DirectSound7", "DirectSound9"};

class AllEnginesTest : public EngineFixture, public ::testing::WithParamInterface<EngineKind> {
 protected:
  AllEnginesTest() {
    int32_t hwnd = 77;
    if (GetParam() == EngineKind::WaveOut) {
      engine = std::make_unique<engines::PlayApiClass>(w.ctx);
    } else if (GetParam() == EngineKind::Dx7) {
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
    return GetParam() == EngineKind::WaveOut ? waveOut : GetParam() == EngineKind::Dx7 ? dx7 : dx9;
  }
  Samples Tail(size_t dx7, size_t dx9) const { return Silence(ByEngine<size_t>(0, dx7, dx9)); }

  // Hands over 70000 mono frames at 8000 frames/s (two full chunks and 750
  // ms) from a block file, silence and an Orgfile behind a 44-byte header.
  Wave HandOverMixedSources() {
    const Wave blk = MonoWave(20000, 5), org = MonoWave(35000, 9);
    Wave mono = blk;
    mono.L.resize(35000, 0);
    mono.L.insert(mono.L.end(), org.L.begin(), org.L.end());
    const std::string blkName = w.tmp.File("blk.raw"), orgName = w.tmp.File("org.wav");
    testing_support::WriteSamples(blkName, blk.L);
    testing_support::WriteSamples(orgName, Concat({Silence(22), org.L}));
    const HostList list =
        HostList().Blk(blkName, 20000, 1, 1).Silent(15000, 20001).Org(orgName, 35000, 35001, 45, 1, 16);
    EXPECT_TRUE(HandOver(*engine, 1, 8000, 70000, list));
    return mono;
  }

  // Runs the present run to its end: exactly `expected` played, then "Play
  // Done" when the output stopped (waveOut: 80 to 120 ms after its last
  // frame), and the engine is idle.
  void PlayOut(const Samples& expected, int64_t runMs) {
    w.loop.RunFor(runMs);
    EXPECT_EQ(w.output.Samples(), expected);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "Play Done");
    const int64_t gap = reportUs.back() - w.output.LastFrameEndUs();
    EXPECT_GE(gap, ByEngine<int64_t>(80'000, 0, 0));
    EXPECT_LT(gap, ByEngine<int64_t>(120'000, 1000, 1000));
    EXPECT_EQ(mod().RunningState, state::kRunIdle);
  }

  std::unique_ptr<engines::EngineContract> engine;  // goes first: its release still reports
};

INSTANTIATE_TEST_SUITE_P(Engines, AllEnginesTest,
                         ::testing::Values(EngineKind::WaveOut, EngineKind::Dx7, EngineKind::Dx9),
                         [](const auto& p) { return std::string(kEngineNames[static_cast<int>(p.param)]); });

TEST_P(AllEnginesTest, PlaysEveryFrameOfABlockFileSilenceAndAnOrgfileForward) {
  const Wave wave = HandOverMixedSources();
  ASSERT_TRUE(engine->PlayMe());
  PlayOut(Concat({FramesOf(wave, 1, 70000), Tail(16, 400)}), 10'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

TEST_P(AllEnginesTest, PlaysEveryFrameInReverseAndThePositionCountsDownPastTheBuffersWrap) {
  const Wave wave = HandOverMixedSources();
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(4500);
  EXPECT_EQ(PositionOf(*engine), 70000 - 36000 + 1);
  w.loop.RunFor(4000);  // the device's play cursor has wrapped at 8 s
  EXPECT_EQ(PositionOf(*engine), 70000 - 68000 + 1);
  PlayOut(Concat({FramesOf(wave, 70000, 1, -1), Tail(16, 400)}), 1'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

TEST_P(AllEnginesTest, APauseHoldsSoundAndPositionAndContinuePlaysOnWithoutAReport) {
  const Wave wave = HandOverMixedSources();
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, state::kRunPaused);
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.FramesPlayed(), 8000);
  EXPECT_EQ(PositionOf(*engine), 8000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, state::kRunPlaying);
  PlayOut(Concat({FramesOf(wave, 1, 70000), Tail(16, 400)}), 9'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

TEST_P(AllEnginesTest, PlaysFromAPositionInEitherDirectionClampedToTheWave) {
  const Wave wave = MonoWave(70000);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  struct Case {
    int32_t dir, pos;
    Samples frames;
    size_t tailDx7, tailDx9;  // zeros after the frames
  };
  const std::vector<Case> cases = {
      {1, 50000, FramesOf(wave, 50000, 70000), 15, 799},    // 20001 frames
      {-1, 50000, FramesOf(wave, 50000, 1, -1), 16, 400},   // 50000 frames
      {1, 100000, FramesOf(wave, 70000, 70000), 15, 799},   // clamped: only the last frame
      {-1, 100000, FramesOf(wave, 70000, 1, -1), 16, 400},  // clamped: the whole wave backwards
      {-1, 1, FramesOf(wave, 1, 1), 15, 799},               // one frame
      {1, -5, FramesOf(wave, 1, 70000), 16, 400},           // clamped: the whole wave
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("direction " + std::to_string(c.dir) + " position " + std::to_string(c.pos));
    Forget();
    mod().PlayDirection = c.dir;
    mod().CurrentPos = c.pos;
    ASSERT_TRUE(engine->PlayAtCurrentPosition());
    PlayOut(Concat({c.frames, Tail(c.tailDx7, c.tailDx9)}), 10'000);
    EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  }
}

// Two seconds (TailMs 2001) in loop mode, a pass of the wave and the silence
// after it being `pass`.
class LoopModeTest : public AllEnginesTest {
 protected:
  LoopModeTest() {
    EXPECT_TRUE(Load(*engine, wave, 8000));
    mod().LoopPlayON = true;
    EXPECT_TRUE(engine->PlayMe());
  }
  const Wave wave = MonoWave(16000);
  const Samples pass = Concat({FramesOf(wave, 1, 16000), Tail(16, 800)});
};

INSTANTIATE_TEST_SUITE_P(Engines, LoopModeTest,
                         ::testing::Values(EngineKind::WaveOut, EngineKind::Dx7, EngineKind::Dx9),
                         [](const auto& p) { return std::string(kEngineNames[static_cast<int>(p.param)]); });

TEST_P(LoopModeTest, EachPassRestartsTheWaveAndIsCounted) {
  EXPECT_EQ(mod().RunningState, state::kRunPlayingLoop);
  w.loop.RunFor(4300);
  EXPECT_EQ(reports, (Reports{"Playing Loop", "Playing Loop", "Playing Loop 1", "Playing Loop", "Playing Loop 2"}));
  engine->UpdatePlayPosition();  // the device hands over what sounded when it is called
  const Samples played = w.output.Samples();
  ASSERT_GE(played.size(), 2 * pass.size() + 1);
  EXPECT_EQ(played, Concat({pass, pass, FramesOf(wave, 1, static_cast<int32_t>(played.size() - 2 * pass.size()))}));
}

TEST_P(LoopModeTest, AUTurnKeepsTheCountAndPlaysBackFromWhereTheSoundGotTo) {
  w.loop.RunFor(4300);
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(reports.back(), "Playing Loop 2");
  const Samples played = w.output.Samples();  // up to the turn, in the third pass
  const int32_t turn = static_cast<int32_t>(played.size() - 2 * pass.size());
  w.loop.RunFor(100);
  engine->UpdatePlayPosition();
  EXPECT_EQ(w.output.Samples(), Concat({played, FramesOf(wave, turn, turn - 799, -1)}));
}

TEST_P(LoopModeTest, StopEndsTheRunAndNothingMoreSoundsOrIsReported) {
  w.loop.RunFor(1000);
  ASSERT_TRUE(engine->StopPlay());
  EXPECT_EQ(mod().RunningState, state::kRunIdle);
  const int64_t frames = w.output.FramesPlayed();
  w.loop.RunFor(5000);
  EXPECT_EQ(frames, 8000);
  EXPECT_EQ(w.output.FramesPlayed(), frames);
  EXPECT_EQ(reports, (Reports{"Playing Loop", "Stopped"}));
}

// Forward, the device's rate at tempo 2 shows in when a whole run ends (the
// next test).
TEST_P(AllEnginesTest, InReverseTheDeviceRunsAtTheReverseTempoButWaveOutAtTheWavesRate) {
  const Wave wave = MonoWave(70000);
  mod().PlayTempoFor = 2.0f;  // has no say in reverse
  mod().PlayTempoRev = 0.5f;
  ASSERT_TRUE(Load(*engine, wave, 8000));
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  const int32_t rate = ByEngine(8000, 4000, 4000);
  EXPECT_EQ(PositionOf(*engine), 70000 - rate + 1);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 70000, 70001 - rate, -1));
  ASSERT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, rate);
}

TEST_P(AllEnginesTest, AtDoubleTempoTheWholeWavePlaysInHalfTheTime) {
  mod().PlayTempoFor = 2.0f;
  const Wave wave = MonoWave(70000);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  ASSERT_TRUE(engine->PlayMe());
  PlayOut(Concat({FramesOf(wave, 1, 70000), Tail(16, 400)}), 9'000);
  EXPECT_EQ(w.output.LastFrameEndUs(), ByEngine<int64_t>(8'750'000, 4'376'000, 4'400'000));
}

// Stereo at 44100 (44.1 frames a millisecond), four whole chunks read in
// place from one Orgfile: the run ends on a half boundary.
TEST_P(AllEnginesTest, StereoAt44100EndingOnAHalfBoundaryPlaysFrameExact) {
  const int32_t nos = 4 * 176400;
  Wave wave = MonoWave(nos, 3);
  wave.channels = 2;
  wave.R = MonoWave(nos, 4).L;
  const std::string name = w.tmp.File("stereo.wav");
  testing_support::WriteSamples(name, FramesOf(wave, 1, nos));
  const HostList right = HostList().Org(name, nos, 1, 3, 2, 16);
  ASSERT_TRUE(HandOver(*engine, 2, 44100, nos, HostList().Org(name, nos, 1, 1, 2, 16), &right));
  ASSERT_TRUE(engine->PlayMe());
  // DirectSound 7's 2 ms stop lets the first 88 frames of half 1 (chunk 3) through.
  const Samples trailing = ByEngine(Samples{}, FramesOf(wave, 352801, 352888), {});
  PlayOut(Concat({FramesOf(wave, 1, nos), trailing}), 17'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

// A rate whose four seconds fit 32 bits but whose buffer's bytes do not.
TEST_P(AllEnginesTest, ABufferWhoseBytesOverflowIsRefusedAndTheGeometryKept) {
  ASSERT_TRUE(Load(*engine, MonoWave(100), 8000));
  mod().FmtFriq = 300'000'000;
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports.back(), "Play Buffer - Failed");
  EXPECT_EQ(mod().ChunkSamples, 32000);
  EXPECT_EQ(mod().BufferBytes, 128000);
}

}  // namespace
}  // namespace engine_tests
