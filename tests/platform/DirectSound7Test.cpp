// The DirectSound-7-style buffer's notifications. Its cursors, positions and
// what it plays are checked frame for frame through the DirectSound 7 engine.

#include "platform/DirectSound7.h"

#include <gtest/gtest.h>

#include <numeric>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/EventLoop.h"
#include "platform/VirtualOutput.h"

namespace {

namespace dx7 = platform::dx7;
using dx7::DSBPOSITIONNOTIFY;

// One notification as it reached a handler: which handler, the eventid it
// got, and the loop time.
struct Heard {
  int which;
  int32_t eventid;
  int64_t atUs;
  bool operator==(const Heard&) const = default;
};

class DirectSound7Test : public ::testing::Test {
 protected:
  DirectSound7Test() : loop(clock), audio(loop, output, {}, "") {}

  // A mono buffer of `frames` frames at 1000 frames per second (one frame per
  // millisecond), holding 1, 2, 3, ... and notifications at the given frames,
  // each with a handler of its own.
  std::unique_ptr<dx7::DirectSoundBuffer> MakeBuffer(int32_t frames, const std::vector<int32_t>& notifyFrames) {
    ds = root.DirectSoundCreate("");
    ds->SetCooperativeLevel(7, dx7::DSSCL_PRIORITY);
    dx7::WAVEFORMATEX f;
    f.nFormatTag = 1;
    f.nChannels = 1;
    f.lSamplesPerSec = 1000;
    f.nBlockAlign = 2;
    f.lAvgBytesPerSec = 2000;
    f.nBitsPerSample = 16;
    f.nSize = 24;
    const int32_t caps = dx7::DSBCAPS_GETCURRENTPOSITION2 | dx7::DSBCAPS_GLOBALFOCUS |
                         dx7::DSBCAPS_CTRLPOSITIONNOTIFY | dx7::DSBCAPS_CTRLFREQUENCY | dx7::DSBCAPS_LOCSOFTWARE;
    auto buf = ds->CreateSoundBuffer(dx7::DSBUFFERDESC{caps, frames * 2, 0}, f);
    content.resize(static_cast<size_t>(frames));
    std::iota(content.begin(), content.end(), int16_t{1});
    buf->WriteBuffer(0, frames * 2, content.data(), 0);
    std::vector<DSBPOSITIONNOTIFY> table;
    for (size_t i = 0; i < notifyFrames.size(); ++i) {
      const int which = static_cast<int>(i);
      handles.push_back(root.CreateEvent([this, which](int32_t id) { heard.push_back({which, id, loop.NowUs()}); }));
      table.push_back({notifyFrames[i] * 2, handles.back()});
    }
    if (!table.empty()) buf->SetNotificationPositions(static_cast<int32_t>(table.size()), table.data());
    return buf;
  }

  Heard At(int which, int64_t ms) const { return {which, handles[static_cast<size_t>(which)], ms * 1000}; }

  platform::ManualClock clock;
  platform::EventLoop loop;
  platform::VirtualOutput output;
  platform::AudioPlatform audio;
  dx7::DirectX7 root{audio};
  std::unique_ptr<dx7::DirectSound> ds;
  std::vector<int16_t> content;
  std::vector<int32_t> handles;
  std::vector<Heard> heard;
};

TEST_F(DirectSound7Test, NotificationsReachTheirOwnHandlerWhenTheCursorGetsThere) {
  auto buf = MakeBuffer(1000, {0, 500, 999});
  buf->SetCurrentPosition(0);
  buf->Play(dx7::DSBPLAY_LOOPING);
  EXPECT_TRUE(heard.empty()) << "never delivered inside the call";
  loop.RunFor(2100);
  EXPECT_EQ(heard, (std::vector<Heard>{At(0, 0), At(1, 500), At(2, 999), At(0, 1000), At(1, 1500), At(2, 1999),
                                       At(0, 2000)}));
}

TEST_F(DirectSound7Test, StopHoldsNotificationsDropsUndeliveredOnesAndPlayResumesThem) {
  auto buf = MakeBuffer(1000, {0, 500});
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
  EXPECT_EQ(heard, (std::vector<Heard>{At(0, 100), At(1, 1600), At(0, 1750)}));
  EXPECT_THROW(buf->SetNotificationPositions(0, nullptr), platform::PlayError) << "not while playing";
}

TEST_F(DirectSound7Test, DestroyedEventsAndReleasedBuffersDeliverNothing) {
  auto buf = MakeBuffer(1000, {0, 500});
  buf->Play(dx7::DSBPLAY_LOOPING);
  root.DestroyEvent(handles[0]);  // signalled at the start, not yet delivered
  loop.RunFor(600);
  EXPECT_EQ(heard, (std::vector<Heard>{At(1, 500)}));

  buf->Stop();
  buf->SetCurrentPosition(1000);
  loop.RunFor(30);
  buf->Play(dx7::DSBPLAY_LOOPING);  // the cursor stands on frame 500: signalled, delivery queued
  buf.reset();
  loop.RunFor(1000);
  EXPECT_EQ(heard, (std::vector<Heard>{At(1, 500)}));
  EXPECT_EQ(output.FramesPlayed(), 600);
  EXPECT_EQ(output.Stops(), 2) << "the stop, then the release of the playing buffer";
}

}  // namespace
