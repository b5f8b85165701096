// The device-style APIs on the virtual output where the engines do not go:
// what a stop or a jump does to the DirectSound 7 buffer's notifications, and
// the frame clock that it and the waveOut-style device count on. What both
// play in a run, in order, their positions, cursors and notifications are
// checked frame for frame through the engines, which never misuse them.

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/audio/VirtualOutput.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/devices/DirectSound7.h"
#include "platform/devices/FrameClock.h"
#include "platform/os/Errors.h"
#include "platform/os/EventLoop.h"

namespace {

using namespace os;
using namespace devices;
using audio::VirtualOutput;

// A stop or a jump drops the notifications signalled but not yet delivered,
// so that no handler refills or ends a run that is over; a play resumes them.
TEST(DirectSound7, StopAndJumpDropUndeliveredNotificationsAndPlayResumesThem) {
  ManualClock clock;
  EventLoop loop(clock);
  VirtualOutput output;
  AudioPlatform audio(loop, output, AudioOffer{}, "");
  dx7::DirectX7 root{audio};
  auto ds = root.DirectSoundCreate("");
  ds->SetCooperativeLevel(7, dx7::DSSCL_PRIORITY);
  const dx7::WAVEFORMATEX f{1, 1, 1000, 2000, 2, 16, 24};  // mono, one frame a millisecond
  auto buf = ds->CreateSoundBuffer(dx7::DSBUFFERDESC{dx7::DSBCAPS_CTRLPOSITIONNOTIFY, 2000, 0}, f);
  // Frames 0 and 500, each with a handler of its own: (which, eventid, loop time).
  using Heard = std::vector<std::tuple<int, int32_t, int64_t>>;
  Heard heard;
  std::vector<dx7::DSBPOSITIONNOTIFY> table;
  for (int which : {0, 1}) {
    const int32_t e = root.CreateEvent([&, which](int32_t id) { heard.push_back({which, id, loop.NowUs()}); });
    table.push_back({which * 1000, e});
  }
  buf->SetNotificationPositions(2, table.data());
  const int32_t e0 = table[0].hEventNotify, e1 = table[1].hEventNotify;

  buf->Play(dx7::DSBPLAY_LOOPING);  // signals the entry at 0, delivered after this call
  buf->Stop();
  loop.RunFor(100);
  EXPECT_TRUE(heard.empty()) << "a stopped play's notification reached its handler";
  buf->Play(dx7::DSBPLAY_LOOPING);
  buf->SetCurrentPosition(0);  // a jump drops them too; the new position signals again
  loop.RunFor(300);
  buf->Stop();
  loop.RunFor(1000);
  buf->Play(dx7::DSBPLAY_LOOPING);  // resumes at frame 300: nothing there
  loop.RunFor(300);
  buf->Stop();
  buf->SetCurrentPosition(0);
  loop.RunFor(50);
  buf->Play(dx7::DSBPLAY_LOOPING);  // from position 0: the entry at 0 again
  loop.RunFor(10);
  EXPECT_EQ(heard, (Heard{{0, e0, 100'000}, {1, e1, 1'600'000}, {0, e0, 1'750'000}}));
  EXPECT_THROW(buf->SetNotificationPositions(0, nullptr), os::PlayError) << "not while playing";
}

// Both APIs count the frames their device played on a FrameClock.
TEST(FrameClock, CountsAtItsRateHoldsWhenStoppedAndAPastFrameKeepsItsTime) {
  ManualClock clock;
  FrameClock fc(clock);
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
}

}  // namespace
