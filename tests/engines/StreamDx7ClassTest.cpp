// The DirectSound 7 engine on the virtual output: what only this engine does
// (the tail stop timer and its tempo, pause and continue around it, wrap
// counting, the refill guard, "Stopped" from a new buffer and from release,
// a platform without the device). What the three engines share is tested in
// AllEnginesTest.

#include "engines/StreamDx7Class.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/EngineWave.h"

namespace {

using namespace testing_support;

// At 8000 frames per second a chunk is 32000 frames (four seconds) and one
// millisecond is exactly 8 frames.
constexpr int32_t kRate = 8000;

class StreamDx7ClassTest : public EngineFixture {
 protected:
  explicit StreamDx7ClassTest(platform::AudioOffer offer = {}) : EngineFixture(offer) {
    // The stop timer's mark is a time of day; start the day one second in.
    w.loop.RunFor(1000);
    t0 = w.loop.NowUs();
    engine = std::make_unique<StreamDx7Class>(w.ctx);
    Listen(*engine);
  }

  bool Attach() {
    int32_t hwnd = 77;
    return engine->PutONDx7Ds(hwnd);
  }

  // Attaches and hands over a mono wave at kRate in `pieces` Orgfile entries.
  Wave Ready(int32_t nos, int pieces = 1) {
    EXPECT_TRUE(Attach());
    const Wave wave = MonoWave(nos);
    EXPECT_TRUE(Load(*engine, wave, kRate, 0, pieces));
    return wave;
  }

  int32_t Position() { return PositionOf(*engine); }

  std::unique_ptr<StreamDx7Class> engine;  // goes first: its release still reports
};

TEST_F(StreamDx7ClassTest, CreateSoundBufferRefusesARateTheDeviceDoesNotPlay) {
  Ready(100);
  EXPECT_TRUE(reports.empty());
  mod().FmtFriq = 192000;
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports, (std::vector<std::string>{"Play Buffer - Failed"}));
}

TEST_F(StreamDx7ClassTest, TheTailTimerOfAShortWaveFollowsTheTempo) {
  const Wave wave = Ready(10000);  // TailMs = CLng(1250 + 1) = 1251
  mod().PlayTempoFor = 2.0f;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().TailMs, 1251);
  w.loop.RunFor(3000);
  // The interval is CLng(1251 / 2 + 1) = CLng(626.5) = 626 ms (half to even).
  ASSERT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 626'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 10000), Silence(16)}));
  EXPECT_EQ(w.output.Segments().back().rate, 16000);
}

TEST_F(StreamDx7ClassTest, PauseDuringTheFinalChunkReArmsTheFullInterval) {
  const Wave wave = Ready(48000);  // the final chunk is half 2: 2000 ms
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(5000);  // the timer was armed at 4 s for 2002 ms
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, 3);
  EXPECT_EQ(mod().StopTimerMark, 1000) << "milliseconds since the timer was armed";
  const int32_t pausedAt = Position();
  w.loop.RunFor(3000);
  EXPECT_EQ(Position(), pausedAt);
  EXPECT_EQ(w.output.FramesPlayed(), 40000);

  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(3000);
  // The full 2002 ms again from the continue: 7002 ms of sound in all.
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 48000), Silence(8016)}));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
}

TEST_F(StreamDx7ClassTest, PlayContinueAfterAStopPlaysOnFromWhereItStopped) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(3000);
  EXPECT_TRUE(engine->StopPlay());
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 24000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(8000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 80000), Silence(16)}));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 11'002'000);
}

TEST_F(StreamDx7ClassTest, CreateSoundBufferDuringPlaybackStopsAndSaysSo) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(mod().RunningState, 0);
  w.loop.RunFor(12000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped"}));
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 8000));

  Forget();
  ASSERT_TRUE(engine->PlayMe());  // the new buffer plays the wave from its start
  w.loop.RunFor(11000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 80000), Silence(16)}));
}

TEST_F(StreamDx7ClassTest, AUTurnTakesTheTempoOfTheNewDirection) {
  const Wave wave = Ready(80000);
  mod().PlayTempoFor = 2.0f;
  mod().PlayTempoRev = 0.5f;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(500);
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayFriq, 4000);
  EXPECT_EQ(Position(), 8001) << "nothing played yet in reverse: one past the next frame";
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 4001);
  ASSERT_EQ(w.output.Segments().size(), 2u);
  EXPECT_EQ(w.output.Segments()[1].rate, 4000);
  EXPECT_EQ(w.output.Segments()[1].samples, FramesOf(wave, 8000, 4001, -1));
}

TEST_F(StreamDx7ClassTest, ThePositionInReverseCountsDownAcrossBufferWraps) {
  Ready(80000);
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  std::vector<int32_t> seen;
  for (int i = 0; i < 19; ++i) {  // the host asks every half second
    w.loop.RunFor(500);
    seen.push_back(Position());
  }
  std::vector<int32_t> expected;
  for (int i = 1; i <= 19; ++i) expected.push_back(80000 - 4000 * i + 1);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(engine->Wraps(), 1);
}

TEST_F(StreamDx7ClassTest, ASecondRefillNotificationDuringARefillIsDropped) {
  // The second half of the wave is a block that cannot be read: each refill
  // that reaches it shows a message box, and while it is up another
  // notification arrives.
  const Wave wave = Ready(80000, 2);
  const int32_t freeBlock = w.ctx.Blocks.BlockCount;
  ASSERT_EQ(w.ctx.Blocks.Blocks(freeBlock).StartPos, 40001);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = BlockFree;
  int nested = 0;
  w.box.SetSink([&](const std::string&) {
    if (nested > 0) return;
    ++nested;
    engine->DxEventFrm1_DxEventForward(0);
    engine->DxEventFrm0_DxEventForward(0);
    --nested;
  });
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(11000);
  EXPECT_EQ(w.box.Shown().size(), 2u) << "the refills of half 2 and of half 1 reached the block";
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 40000), Silence(40000 + 16)}));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = BlockOrg;  // the buffer releases it as it came
}

TEST_F(StreamDx7ClassTest, AFinalChunkThatCannotBeBuiltEndsTheRunAsAtAHalfBoundary) {
  // Chunks 1 and 2 come from one Orgfile; the final, short chunk (1000 ms)
  // from another that goes away. Half 1 still holds chunk 1 when the refill
  // for chunk 3 fails: the run ends after chunk 2 as if the wave ended there,
  // and no more of the old chunk sounds than at a half boundary.
  ASSERT_TRUE(Attach());
  const Wave wave = MonoWave(64000, 3);
  const std::string nameA = w.tmp.File("a.wav"), nameB = w.tmp.File("b.wav");
  WriteOrgfile16(nameA, wave);
  WriteOrgfile16(nameB, MonoWave(8000, 4));
  ASSERT_TRUE(HandOver(w.ctx, *engine, WaveFormat{16, 1, kRate, 72000},
                       HostList().Org(nameA, 64000, 1, 1, 1, 16).Org(nameB, 8000, 64001, 1, 1, 16)));
  ASSERT_TRUE(engine->PlayMe());
  std::filesystem::remove(nameB);
  w.loop.RunFor(11000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 8'002'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 64000), FramesOf(wave, 1, 16)}));
  EXPECT_EQ(mod().RunningState, 0);
}

TEST_F(StreamDx7ClassTest, APauseInALaterRunIsNotEndedByTheMarkOfAStoppedOne) {
  const Wave wave = Ready(48000);  // the final chunk is half 2: 2000 ms
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(5000);  // the stop timer was armed at 4 s
  ASSERT_TRUE(engine->StopPlay());
  Forget();
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  engine->PlayPause();
  w.loop.RunFor(500);
  engine->PlayContinue();
  w.loop.RunFor(3000);
  EXPECT_EQ(reports, std::vector<std::string>{"Playing"}) << "the new run ended early";
  w.loop.RunFor(3000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 11'502'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 48000), Silence(16)}));
}

TEST_F(StreamDx7ClassTest, ReleasingTheEngineStopsTheSoundAndSaysStopped) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1500);
  engine.reset();
  w.loop.RunFor(10000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped"}));
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 12000));
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled());
}

class StreamDx7WithoutDeviceTest : public StreamDx7ClassTest {
 protected:
  StreamDx7WithoutDeviceTest() : StreamDx7ClassTest(platform::AudioOffer{true, false, true}) {}
};

TEST_F(StreamDx7WithoutDeviceTest, PutONDx7DsIsRefusedAndNothingPlays) {
  EXPECT_FALSE(Attach());
  EXPECT_EQ(reports, (std::vector<std::string>{"Stopped"})) << "the release inside the refusal";
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_FALSE(engine->PlayMe());
  EXPECT_THROW(engine->PlayContinue(), platform::PlayError);
  // The U-turn and the start from a position report nothing themselves: the
  // failure goes to the caller.
  EXPECT_THROW(engine->UTurn(), platform::PlayError);
  EXPECT_THROW(engine->PlayAtCurrentPosition(), platform::PlayError);
  EXPECT_EQ(reports, (std::vector<std::string>{"Stopped", "Play Buffer - Failed", "Play Failed"}));

  w.audio.SetOffer({});
  w.output.SetAvailable(false);
  EXPECT_FALSE(Attach()) << "no output is no device either";
  w.output.SetAvailable(true);
  EXPECT_TRUE(Attach());
}

}  // namespace
