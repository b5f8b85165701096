// The device-style APIs on the virtual output where the engines do not go:
// what a stop or a jump does to the DirectSound 7 buffer's notifications, and
// the frame arithmetic the devices count on. What both
// play in a run, in order, their positions, cursors and notifications are
// checked frame for frame through the engines, which never misuse them.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "platform/audio/VirtualOutput.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/devices/DirectSound7.h"
#include "platform/devices/FrameTime.h"
#include "platform/os/Errors.h"
#include "platform/os/EventLoop.h"

namespace {

using namespace os;
using namespace devices;
using audio::VirtualOutput;

// A mono buffer of 2000 frames at one frame a millisecond, with
// notifications at frames 0 and 500, each with a handler of its own that
// notes (which, eventid, loop time).
class DirectSound7Test : public ::testing::Test {
 protected:
  using Heard = std::vector<std::tuple<int, int32_t, int64_t>>;
  DirectSound7Test() {
    ds->SetCooperativeLevel(7, dx7::DSSCL_PRIORITY);
    const dx7::WAVEFORMATEX f{1, 1, 1000, 2000, 2, 16, 24};
    buf = ds->CreateSoundBuffer(dx7::DSBUFFERDESC{dx7::DSBCAPS_CTRLPOSITIONNOTIFY, 2000, 0}, f);
    for (int which : {0, 1}) {
      const int32_t e = root.CreateEvent([this, which](int32_t id) { heard.push_back({which, id, loop.NowUs()}); });
      table.push_back({which * 1000, e});
    }
    buf->SetNotificationPositions(2, table.data());
  }
  ManualClock clock;
  EventLoop loop{clock};
  VirtualOutput output;
  AudioPlatform audio{loop, output, AudioOffer{}, ""};
  dx7::DirectX7 root{audio};
  std::unique_ptr<dx7::DirectSound> ds = root.DirectSoundCreate("");
  std::unique_ptr<dx7::DirectSoundBuffer> buf;
  std::vector<dx7::DSBPOSITIONNOTIFY> table;
  Heard heard;
};

// A stop or a jump drops the notifications signalled but not yet delivered,
// so that no handler refills or ends a run that is over; a play resumes them.
TEST_F(DirectSound7Test, StopAndJumpDropUndeliveredNotificationsAndPlayResumesThem) {
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
  const int32_t e0 = table[0].hEventNotify, e1 = table[1].hEventNotify;
  EXPECT_EQ(heard, (Heard{{0, e0, 100'000}, {1, e1, 1'600'000}, {0, e0, 1'750'000}}));
}

// The arithmetic every device stand-in and the sound service library count
// frames with: the time UsUntilFrames gives is the first at which
// FramesAfterUs reaches the count, also ten days into a span.
TEST(FrameTime, UsUntilFramesIsTheFirstTimeFramesAfterUsReachesTheCount) {
  for (const int32_t rate : {1, 8000, 44100, 100000}) {
    for (const int64_t frames : {int64_t{1}, int64_t{99}, int64_t{44101}, int64_t{rate} * 864000 + 7}) {
      const int64_t t = UsUntilFrames(frames, rate);
      EXPECT_EQ(FramesAfterUs(t, rate), frames) << frames << " frames at " << rate;
      EXPECT_EQ(FramesAfterUs(t - 1, rate), frames - 1) << frames << " frames at " << rate;
    }
  }
}

}  // namespace
