// The public object driving the real engines in the simulated world: what the
// host hears (the frames the virtual output played) and what it is told (the
// exact MsgBoxOb sequence), for each engine where the behaviour is the same.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "tests/support/TestWorld.h"

using testing_support::HostList;
using testing_support::SimWorld;
using Msg = std::pair<std::string, std::string>;
using ::testing::ElementsAre;

namespace {

struct EngineCase {
  const char* name;
  platform::AudioOffer offer;
  int32_t driverType;
};

const EngineCase kDx9{"Dx9", {true, true, true}, 3};
const EngineCase kDx7{"Dx7", {false, true, true}, 1};
const EngineCase kWaveOut{"WaveOut", {false, false, true}, 2};

int16_t SampleAt(int32_t pos, int32_t channel) { return static_cast<int16_t>(pos * 3 + channel * 1000 - 20000); }

class PlaybackTest : public ::testing::TestWithParam<EngineCase> {
 protected:
  PlaybackTest() : world(GetParam().offer), obj(world.ctx, MakeEngineFactory(world.ctx)) {
    obj.ConnectMsgBoxOb([this](const std::string& m, const std::string& t) { msgs.push_back({m, t}); });
    int32_t hwnd = 100;
    obj.DxObj(hwnd);
  }

  // A stereo 16-bit Orgfile of `frames` frames, handed over as one block per channel.
  void HandOverStereo(int32_t frames, int32_t friq = 8000) {
    path = world.tmp.File("take.wav");
    std::vector<int16_t> s;
    for (int32_t p = 1; p <= frames; ++p) {
      s.push_back(SampleAt(p, 0));
      s.push_back(SampleAt(p, 1));
    }
    testing_support::WriteSamples(path, s);
    auto l = HostList().Org(path, frames, 1, 1, 2, 16).Build();
    auto r = HostList().Org(path, frames, 1, 3, 2, 16).Build();
    int32_t bits = 16, chans = 2, nos = frames;
    obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
    msgs.clear();
    world.output.Clear();
  }

  std::vector<int16_t> Frames(int32_t from, int32_t to) const {  // positions, either direction
    std::vector<int16_t> v;
    const int32_t step = from <= to ? 1 : -1;
    for (int32_t p = from;; p += step) {
      v.push_back(SampleAt(p, 0));
      v.push_back(SampleAt(p, 1));
      if (p == to) break;
    }
    return v;
  }

  // The played samples up to the moment the run ended, without the trailing
  // buffer content a looping device may sound before its stop takes effect.
  std::vector<int16_t> Played(size_t expectedSamples) const {
    auto all = world.output.Samples();
    if (all.size() > expectedSamples) all.resize(expectedSamples);
    return all;
  }

  SimWorld world;
  std::vector<Msg> msgs;
  PlayDllClass obj;
  std::string path;
};

TEST_P(PlaybackTest, AttachesTheExpectedEngine) { EXPECT_EQ(obj.DriverType(), GetParam().driverType); }

TEST_P(PlaybackTest, ForwardPlaysEveryFrameThenPlayDone) {
  HandOverStereo(20000);  // 2.5 s at 8000: one chunk
  obj.PlayAgain();
  EXPECT_EQ(obj.PlayRunningDx7State(), 1);
  world.loop.RunFor(4000);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Playing"}, Msg{"S2", "Play Done"}));
  EXPECT_EQ(Played(40000), Frames(1, 20000));
  EXPECT_EQ(obj.PlayRunningDx7State(), 0);
}

TEST_P(PlaybackTest, ReversePlaysFromTheLastFrameDown) {
  HandOverStereo(50000);  // several chunks
  obj.PlayAgainRev();
  world.loop.RunFor(9000);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Playing"}, Msg{"S2", "Play Done"}));
  EXPECT_EQ(Played(100000), Frames(50000, 1));
}

TEST_P(PlaybackTest, PlayAtPosRevOneIsASingleFrame) {
  HandOverStereo(20000);
  int32_t pos = 1;
  obj.PlayAtPosRev(pos);
  world.loop.RunFor(1000);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Playing"}, Msg{"S2", "Play Done"}));
  EXPECT_EQ(Played(2), Frames(1, 1));
}

TEST_P(PlaybackTest, PlayAtPosStartsThereAndPositionFollows) {
  HandOverStereo(40000);
  int32_t pos = 30001;
  obj.PlayAtPos(pos);
  world.loop.RunFor(500);  // 4000 frames
  const int32_t at = obj.PlayCurrentPosition();
  EXPECT_GE(at, 34000 - 400);
  EXPECT_LE(at, 34001);
  world.loop.RunFor(2000);
  EXPECT_EQ(Played(20000), Frames(30001, 40000));
  EXPECT_EQ(msgs.back(), (Msg{"S2", "Play Done"}));
}

TEST_P(PlaybackTest, WriteWaveMemoDuringPlaybackStopsFirst) {
  HandOverStereo(40000);
  obj.PlayAgain();
  world.loop.RunFor(300);
  msgs.clear();
  auto l = HostList().Org(path, 100, 1, 1, 2, 16).Build();
  int32_t bits = 16, chans = 1, friq = 8000, nos = 100;
  obj.WriteWaveMemo(bits, chans, friq, nos, l, l);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"}, Msg{"S2", "Done"}));
  EXPECT_EQ(obj.PlayRunningDx7State(), 0);
}

TEST_P(PlaybackTest, MissingOrgfileEndsTheStartWithoutHarm) {
  HandOverStereo(20000);
  std::remove(path.c_str());
  // The waveOut and DirectSound 9 engines catch the error themselves and
  // report the failed start; DirectSound 7 has no handler in its start, so
  // the error reaches the host's call.
  try {
    obj.PlayAgain();
  } catch (const platform::FileError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("take.wav"));
  }
  world.loop.RunFor(6000);
  EXPECT_EQ(obj.PlayRunningDx7State() == 3, false);
  // The server is still usable: a new wave plays.
  HandOverStereo(8000);
  obj.PlayAgain();
  world.loop.RunFor(2000);
  EXPECT_EQ(msgs.back(), (Msg{"S2", "Play Done"}));
  EXPECT_EQ(Played(16000), Frames(1, 8000));
}

INSTANTIATE_TEST_SUITE_P(Engines, PlaybackTest, ::testing::Values(kDx9, kDx7, kWaveOut),
                         [](const ::testing::TestParamInfo<EngineCase>& p) { return std::string(p.param.name); });

TEST(PlaybackWithoutDevice, NoOutputDeviceFailsTheBufferThenEveryStart) {
  SimWorld world(platform::AudioOffer{false, false, true});
  world.output.SetAvailable(false);
  std::vector<Msg> msgs;
  PlayDllClass obj(world.ctx, MakeEngineFactory(world.ctx));
  obj.ConnectMsgBoxOb([&](const std::string& m, const std::string& t) { msgs.push_back({m, t}); });
  int32_t hwnd = 1;
  obj.DxObj(hwnd);
  ASSERT_EQ(hwnd, 2);
  msgs.clear();  // the refused DirectSound engines said "Stopped" as they went
  const std::string org = world.tmp.File("o.raw");
  testing_support::WriteSamples(org, std::vector<int16_t>(100, 5));
  auto l = HostList().Org(org, 100, 1, 1, 1, 16).Build();
  int32_t bits = 16, chans = 1, friq = 8000, nos = 100;
  obj.WriteWaveMemo(bits, chans, friq, nos, l, l);
  obj.PlayAgain();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"},
                                Msg{"S2", "Sound Buffer Failed"}, Msg{"S2", "Play Failed"}, Msg{"S2", "Play Failed"}));
  obj.ConnectMsgBoxOb(nullptr);
}

}  // namespace
