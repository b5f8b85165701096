// The waveOut engine on the virtual output: what only this engine does (its
// device polls and the stop timer they arm). What the three engines share,
// "Play Done" 80 to 120 ms after the last frame included, is tested in
// AllEnginesTest.

#include "engines/PlayApiClass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/EngineWave.h"

namespace {

using namespace testing_support;

class PlayApiClassTest : public EngineFixture {
 protected:
  PlayApiClassTest() {
    engine = std::make_unique<engines::PlayApiClass>(w.ctx);
    Listen(*engine);
  }

  std::unique_ptr<engines::PlayApiClass> engine;
};

TEST_F(PlayApiClassTest, ThePollsArmTheStopTimerAndANewStartCancelsIt) {
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
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 450'000);
  EXPECT_EQ(mod().RunningState, 0);
}

}  // namespace
