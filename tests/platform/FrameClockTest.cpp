#include "platform/FrameClock.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameClock, CountsAtItsRateHoldsWhenStoppedAndMeetsTimeOfFrame) {
  platform::ManualClock clock;
  platform::FrameClock fc(clock);
  EXPECT_EQ(fc.Frames(), 0);
  fc.Start(44100);
  clock.AdvanceTo(1'000);  // 1 ms: 44.1 frames
  EXPECT_EQ(fc.Frames(), 44);
  const int64_t t = fc.TimeOfFrameUs(100);
  clock.AdvanceTo(t - 1);
  EXPECT_EQ(fc.Frames(), 99);
  clock.AdvanceTo(t);
  EXPECT_EQ(fc.Frames(), 100);
  clock.AdvanceTo(t + 50'000);
  EXPECT_EQ(fc.TimeOfFrameUs(100), t) << "a past frame keeps the time it sounded at";
  EXPECT_EQ(fc.Frames(), 100 + 2205);
  fc.Stop();
  clock.AdvanceTo(10'000'000);
  EXPECT_EQ(fc.Frames(), 2305);
  fc.Start(88200);
  clock.AdvanceTo(11'000'000);
  EXPECT_EQ(fc.Frames(), 2305 + 88200);
  fc.SetRate(100);
  clock.AdvanceTo(12'000'000);
  EXPECT_EQ(fc.Frames(), 2305 + 88200 + 100);
  fc.Reset();
  EXPECT_EQ(fc.Frames(), 0);
  EXPECT_FALSE(fc.Running());
}

}  // namespace
