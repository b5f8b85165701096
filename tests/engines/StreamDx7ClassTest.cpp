// The DirectSound 7 engine alone: the refill guard, a stop mark that must
// not end a later run, and a final chunk whose file went away. At 8000
// frames per second a chunk is 32000 frames (four seconds) and one
// millisecond is exactly 8 frames.

#include "engines/StreamDx7Class.h"

#include <string>

#include "tests/engines/EngineFixture.h"

namespace engine_tests {
namespace {

class StreamDx7ClassTest : public OneEngineTest<engines::StreamDx7Class> {
 protected:
  StreamDx7ClassTest() {
    // The stop timer's mark is a time of day; start the day one second in.
    w.loop.RunFor(1000);
    t0 = w.loop.NowUs();
  }

  // Attaches and hands over a mono wave at 8000 frames/s.
  Wave Ready(int32_t nos) {
    int32_t hwnd = 77;
    EXPECT_TRUE(engine->PutONDx7Ds(hwnd));
    const Wave wave = MonoWave(nos);
    EXPECT_TRUE(Load(*engine, wave, 8000));
    return wave;
  }
};

TEST_F(StreamDx7ClassTest, ASecondRefillNotificationDuringARefillIsDropped) {
  // The second half of the wave is a block that cannot be read: each refill
  // that reaches it shows a message box, and while it is up another
  // notification arrives.
  const Wave wave = Ready(80000);
  const int32_t freeBlock = w.ctx.Blocks.BlockCount;
  ASSERT_EQ(w.ctx.Blocks.Blocks(freeBlock).StartPos, 40001);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = blocks::BlockFree;
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
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = blocks::BlockOrg;  // the buffer releases it as it came
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
  EXPECT_EQ(reports, Reports{"Playing"}) << "the new run ended early";
  w.loop.RunFor(3000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 11'502'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 48000), Silence(16)}));
}

TEST_F(StreamDx7ClassTest, AFinalChunkThatCannotBeBuiltEndsTheRunAsAtAHalfBoundary) {
  int32_t hwnd = 77;
  ASSERT_TRUE(engine->PutONDx7Ds(hwnd));
  const Wave wave = StartWithAVanishingTail(*engine, 64000, 8000);
  w.loop.RunFor(11000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 8'002'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 64000), FramesOf(wave, 1, 16)}));
}

}  // namespace
}  // namespace engine_tests
