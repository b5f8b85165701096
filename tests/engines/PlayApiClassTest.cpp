// The waveOut engine alone: its device polls and the stop timer they arm.

#include "engines/PlayApiClass.h"

#include "tests/engines/EngineFixture.h"

namespace engine_tests {
namespace {

using PlayApiClassTest = OneEngineTest<engines::PlayApiClass>;

TEST_F(PlayApiClassTest, ANewStartCancelsTheStopTimerThePollsArmedForTheRunBefore) {
  // 1234 frames sound by 154.25 ms; the polls at 160 and 200 ms find the
  // device standing at the end, and the second arms the 40 ms stop timer.
  const Wave wave = MonoWave(1234);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(199);
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled());
  w.loop.RunFor(11);
  ASSERT_TRUE(w.ctx.Timers.Timer0.Enabled());
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled()) << "the ended run's stop would end the new one";
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 1234), FramesOf(wave, 1, 1234)}));
  EXPECT_EQ(reports, (Reports{"Playing", "Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 450'000);
}

}  // namespace
}  // namespace engine_tests
