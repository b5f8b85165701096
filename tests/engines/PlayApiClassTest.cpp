// The waveOut engine on the virtual output: what only this engine does (its
// chunk queue over a wave of mixed blocks, a chunk that cannot be built, its
// own failure reports, a stop on a new buffer and on destruction). What the
// three engines share is tested in AllEnginesTest.

#include "engines/PlayApiClass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/EngineWave.h"

namespace {

using namespace testing_support;

class PlayApiClassTest : public EngineFixture {
 protected:
  PlayApiClassTest() {
    engine = std::make_unique<PlayApiClass>(w.ctx);
    Listen(*engine);
  }

  // Hands the wave over through the real block chain.
  void Load(int32_t bits, int32_t channels, int32_t rate, int32_t waveNos, const HostList& left) {
    ASSERT_TRUE(HandOver(w.ctx, *engine, WaveFormat{bits, channels, rate, waveNos}, left));
  }

  // A mono 16-bit Orgfile behind a 44-byte header.
  Wave LoadMono16(int32_t rate, int32_t nos, int64_t salt = 1) {
    const Wave wave = MonoWave(nos, salt);
    EXPECT_TRUE(EngineFixture::Load(*engine, wave, rate, 44));
    return wave;
  }

  // Runs the present run to its end; checks that exactly `expected` played and
  // that "Play Done" came 80 to 120 ms after the last frame had sounded.
  void PlayOutAndCheck(const std::vector<int16_t>& expected, int64_t runMs) {
    w.loop.RunFor(runMs);
    EXPECT_EQ(w.output.Samples(), expected);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "Play Done");
    const int64_t gap = reportUs.back() - w.output.LastFrameEndUs();
    EXPECT_GE(gap, 80'000);
    EXPECT_LT(gap, 120'000);
    EXPECT_EQ(mod().RunningState, 0);
  }

  std::unique_ptr<PlayApiClass> engine;
};

TEST_F(PlayApiClassTest, BlockFileSilenceAndOrgfilePlayAsOneWave) {
  const Wave blk = MonoWave(20000, 5), org = MonoWave(40000, 9);
  Wave wave = blk;
  wave.L.resize(35000, 0);
  wave.L.insert(wave.L.end(), org.L.begin(), org.L.end());
  const std::string blkName = w.tmp.File("blk.raw"), orgName = w.tmp.File("org.wav");
  WriteSamples(blkName, blk.L);
  WriteOrgfile16(orgName, org, 10);  // the samples start at byte 11
  Load(16, 1, 8000, 75000,
       HostList().Blk(blkName, 20000, 1, 1).Silent(15000, 20001).Org(orgName, 40000, 35001, 11, 1, 16));

  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(FramesOf(wave, 1, 75000), 12'000);
}

TEST_F(PlayApiClassTest, AMissingOrgfileEndsTheRunAfterWhatWasQueued) {
  // Chunk 1 comes from one Orgfile, the rest from another that goes away.
  const Wave wave = MonoWave(32000, 3);
  const std::string nameA = w.tmp.File("a.wav"), nameB = w.tmp.File("b.wav");
  WriteOrgfile16(nameA, wave);
  WriteOrgfile16(nameB, MonoWave(20000, 4));
  Load(16, 1, 8000, 52000, HostList().Org(nameA, 32000, 1, 1, 1, 16).Org(nameB, 20000, 32001, 1, 1, 16));
  ASSERT_TRUE(engine->PlayMe());
  std::filesystem::remove(nameB);
  PlayOutAndCheck(FramesOf(wave, 1, 32000), 8'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));

  // Nothing of the wave can be built at the start: the start fails.
  Forget();
  mod().PlayDirection = -1;
  EXPECT_FALSE(engine->PlayMe());
  EXPECT_EQ(reports, std::vector<std::string>{"Play Failed"});
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 0);
}

TEST_F(PlayApiClassTest, ANewStartCancelsTheStopTimerOfTheRunItEnds) {
  // 1234 frames sound by 154.25 ms; the polls at 160 and 200 ms find the
  // device standing at the end, and the second arms the 40 ms stop timer.
  const Wave wave = LoadMono16(8000, 1234);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(210);
  ASSERT_TRUE(w.ctx.Timers.Timer0.Enabled());
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled()) << "the ended run's stop would end the new one";
  PlayOutAndCheck(Concat({FramesOf(wave, 1, 1234), FramesOf(wave, 1, 1234)}), 1000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 450'000);
}

TEST_F(PlayApiClassTest, StopsNewBuffersWithoutADeviceAndOnDestruction) {
  const Wave wave = LoadMono16(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(500);
  ASSERT_TRUE(engine->CreateSoundBuffer());  // a new wave during the run ends it
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped"}));
  EXPECT_EQ(mod().RunningState, 0);
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 4000));

  w.output.SetAvailable(false);
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_FALSE(engine->PlayMe());
  mod().CurrentPos = 10;
  EXPECT_FALSE(engine->PlayAtCurrentPosition());
  EXPECT_FALSE(engine->UTurn());
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped", "Play Failed", "Play at.. failed",
                                               "UTurn failed"}));
  w.output.SetAvailable(true);

  Forget();
  ASSERT_TRUE(engine->CreateSoundBuffer());
  mod().PlayDirection = 1;  // the failed U-turn has turned it
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(250);
  engine.reset();  // the device stops with the engine
  w.loop.RunFor(10'000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 2000));
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled());
  EXPECT_FALSE(w.ctx.Timers.Timer2.Enabled());
}

}  // namespace
