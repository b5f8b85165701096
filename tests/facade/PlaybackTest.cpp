// The public object driving the real engines in the simulated world: what the
// host hears (the frames the virtual output played) and what it is told (the
// exact MsgBoxOb sequence), for each engine where the behaviour is the same.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "platform/FileSystem.h"
#include "platform/FaultyFileSystem.h"
#include "tests/support/TestWorld.h"

using testing_support::HostList;
using testing_support::SimWorld;
using Texts = std::vector<std::string>;

namespace {

struct EngineCase {
  const char* name;
  platform::AudioOffer offer;
  int32_t driverType;
};

class PlaybackTest : public ::testing::TestWithParam<EngineCase> {
 protected:
  PlaybackTest() : world(GetParam().offer), obj(world.ctx, facade::MakeEngineFactory(world.ctx)) {
    obj.ConnectMsgBoxOb(
        [this](const std::string& m, const std::string& t) { msgs.push_back(m == "S2" ? t : m + " / " + t); });
    int32_t hwnd = 100;
    obj.DxObj(hwnd);
  }

  // A stereo 16-bit Orgfile of `frames` frames, handed over as one block per channel.
  void HandOverStereo(int32_t frames) {
    path = world.tmp.File("take.wav");
    testing_support::WriteSamples(path, Frames(frames));
    auto l = HostList().Org(path, frames, 1, 1, 2, 16).Build();
    auto r = HostList().Org(path, frames, 1, 3, 2, 16).Build();
    int32_t bits = 16, chans = 2, friq = 8000, nos = frames;
    obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
    msgs.clear();
    world.output.Clear();
  }
  static std::vector<int16_t> Frames(int32_t frames) {  // positions 1 to frames, left and right
    std::vector<int16_t> v;
    for (int32_t p = 1; p <= frames; ++p)
      v.insert(v.end(), {static_cast<int16_t>(p * 3 - 20000), static_cast<int16_t>(p * 3 - 19000)});
    return v;
  }
  SimWorld world;
  Texts msgs;
  facade::PlayDllClass obj;
  std::string path;
};

TEST_P(PlaybackTest, AMissingOrFifoOrgfileFailsTheStartNamingItAndTheServerPlaysOn) {
  for (const bool fifo : {false, true}) {
    HandOverStereo(20000);
    world.box.Clear();
    std::remove(path.c_str());
    if (fifo) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // opening it to read would wait for a writer
    }
    obj.PlayAgain();  // each engine's start catches the read error and says so
    world.loop.RunFor(6000);
    if (GetParam().driverType == 3) {
      EXPECT_EQ(msgs, Texts{"Play Failed"});  // the DirectSound 9 engine's own only
    } else {
      EXPECT_EQ(msgs, (Texts{"Play Failed", "Play Failed"}));
    }
    ASSERT_EQ(world.box.Shown().size(), 1u);
    EXPECT_THAT(world.box.Shown()[0], ::testing::HasSubstr("'" + path + "': " +
                                                          (fifo ? "not a regular file" : "No such file or directory")));
    EXPECT_EQ(world.output.FramesPlayed(), 0) << "nothing may sound from a start that failed";
    std::remove(path.c_str());
    HandOverStereo(8000);
    obj.PlayAgain();
    world.loop.RunFor(2000);
    EXPECT_EQ(msgs, (Texts{"Playing", "Play Done"}));
    const std::vector<int16_t> played = world.output.Samples();  // and what a looping device sounds after
    ASSERT_GE(played.size(), 16000u);
    EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + 16000), Frames(8000));
  }
}

TEST_P(PlaybackTest, ARateNoDeviceTakesFailsTheBufferAndEveryStartBeforeAnythingIsSizedFromIt) {
  const std::string org = world.tmp.File("o.raw");
  testing_support::WriteSamples(org, std::vector<int16_t>(100, 5));
  auto l = HostList().Org(org, 100, 1, 1, 1, 16).Build();
  msgs.clear();
  int32_t bits = 16, chans = 1, friq = 1'000'000, nos = 100;  // DirectSound takes 100..100000 Hz
  obj.WriteWaveMemo(bits, chans, friq, nos, l, l);
  EXPECT_THAT(msgs, ::testing::Contains("Sound Buffer Failed"));
  msgs.clear();
  obj.PlayAgain();
  world.loop.RunFor(1000);
  EXPECT_THAT(msgs, ::testing::Each("Play Failed"));
  EXPECT_FALSE(msgs.empty());
  const auto& chunk = world.ctx.Mod.PlayChunk;
  EXPECT_TRUE(!chunk.Dimensioned() || chunk.UBound() < 100'000) << "a chunk was sized from the refused rate";
  EXPECT_EQ(world.output.FramesPlayed(), 0);
}

TEST_P(PlaybackTest, AFileCutShortOrFailingWhilePlayingEndsTheRunAsBeforeAndTheHostIsToldOnce) {
  for (const bool failing : {false, true}) {
    HandOverStereo(50000);
    world.box.Clear();
    platform::FaultyFileSystem fs;
    platform::FileSystemOverride use(fs);
    fs.Only = path;
    obj.PlayAgain();  // the first chunk is read here
    if (failing) {
      fs.FailReadsFrom = fs.Reads() + 1;  // the disk fails under every later read
    } else {
      std::filesystem::resize_file(path, 10000 * 4);
    }
    world.loop.RunFor(9000);
    EXPECT_EQ(msgs, (Texts{"Playing", "Play Done"}));
    ASSERT_EQ(world.box.Shown().size(), 1u);
    EXPECT_THAT(world.box.Shown()[0], ::testing::AllOf(::testing::HasSubstr(path),
                                                       ::testing::HasSubstr(failing ? "Input/output error" : "short read")));
    obj.ReleaseFiles();
    EXPECT_EQ(world.ctx.Mod.WaveNos, 0);
    EXPECT_EQ(fs.OpenCount(), 0) << "the wave's file is still open after ReleaseFiles";
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, PlaybackTest,
                         ::testing::Values(EngineCase{"Dx9", {true, true, true}, 3},
                                           EngineCase{"Dx7", {false, true, true}, 1},
                                           EngineCase{"WaveOut", {false, false, true}, 2}),
                         [](const ::testing::TestParamInfo<EngineCase>& p) { return std::string(p.param.name); });

}  // namespace
