// The public object driving each real engine in the simulated world: what
// the host hears and what it is told when a file fails while playing or a
// rate is refused, and what the log says of a refused rate. (A file missing
// at the start: PlaysrvTest.)

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "platform/os/FileSystem.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TestWorld.h"

using ::testing::HasSubstr;
using testing_support::HostList;
using Texts = std::vector<std::string>;

namespace {

struct EngineCase {
  const char* name;
  devices::AudioOffer offer;
  int32_t driverType;
  const char* refusalText;  // what the log says when the rate is 1000000
};

class PlaybackTest : public ::testing::TestWithParam<EngineCase> {
 protected:
  PlaybackTest() : world(GetParam().offer), obj(world.ctx, facade::MakeEngineFactory(world.ctx)) {
    obj.ConnectMsgBoxOb(
        [this](const std::string& m, const std::string& t) { msgs.push_back(m == "S2" ? t : m + " / " + t); });
    int32_t hwnd = 100;
    obj.DxObj(hwnd);
  }

  // A stereo 16-bit Orgfile of `frames` frames, handed over as one block per
  // channel; returns what the hand-over told the host.
  Texts HandOverStereo(int32_t frames, int32_t friq = 8000) {
    path = world.tmp.File("take.wav");
    testing_support::WriteSamples(path, Frames(frames));
    auto l = HostList().Org(path, frames, 1, 1, 2, 16).Build();
    auto r = HostList().Org(path, frames, 1, 3, 2, 16).Build();
    int32_t bits = 16, chans = 2, nos = frames;
    obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
    world.output.Clear();
    return std::exchange(msgs, {});
  }
  static std::vector<int16_t> Frames(int32_t frames) {  // positions 1 to frames, left and right
    std::vector<int16_t> v;
    for (int32_t p = 1; p <= frames; ++p)
      v.insert(v.end(), {static_cast<int16_t>(p * 3 - 20000), static_cast<int16_t>(p * 3 - 19000)});
    return v;
  }
  bool Dx9() const { return GetParam().driverType == facade::kDriverDx9; }

  testing_support::SimWorld world;
  Texts msgs;
  facade::PlayDllClass obj;
  std::string path;
};

INSTANTIATE_TEST_SUITE_P(
    Engines, PlaybackTest,
    ::testing::Values(EngineCase{"Dx9", {true, true, true}, facade::kDriverDx9,
                                 "Service02: rate 1000000 frames/s is outside 100 to 100000"},
                      EngineCase{"Dx7", {false, true, true}, facade::kDriverDx7,
                                 "DirectSound CreateSoundBuffer: rate 1000000 out of range"},
                      EngineCase{"WaveOut", {false, false, true}, facade::kDriverWaveOut,
                                 "waveOutOpen failed with result 32"}),
    [](const ::testing::TestParamInfo<EngineCase>& p) { return std::string(p.param.name); });

TEST_P(PlaybackTest, ARateNoDeviceTakesFailsTheBufferWithItsReasonAndEveryStartBeforeAChunkIsSizedFromIt) {
  testing_support::CapturedLog log;
  // DirectSound takes 100 to 100000 Hz.
  EXPECT_THAT(HandOverStereo(100, 1'000'000), ::testing::Contains("Sound Buffer Failed"));
  EXPECT_THAT(log.Text(), HasSubstr(GetParam().refusalText));
  obj.PlayAgain();
  world.loop.RunFor(1000);
  EXPECT_THAT(msgs, ::testing::Each("Play Failed"));
  EXPECT_FALSE(msgs.empty());
  const auto& chunk = world.ctx.Mod.PlayChunk;
  EXPECT_TRUE(!chunk.Dimensioned() || chunk.UBound() < 100'000) << "a chunk was sized from the refused rate";
  EXPECT_EQ(world.output.FramesPlayed(), 0);
}

// A file cut short under a run: the engines' own tests (a vanishing tail) and
// the block layer's (FileFaultsTest).
TEST_P(PlaybackTest, AFileFailingWhilePlayingEndsTheRunAsAtItsEndAndTheHostIsToldOnce) {
  HandOverStereo(50000);
  world.box.Clear();
  testing_support::FaultyFileSystem fs;
  os::FileSystemOverride use(fs);
  fs.Only = path;
  obj.PlayAgain();                    // the first chunk is read here
  fs.FailReadsFrom = fs.Reads() + 1;  // the disk fails under every later read
  world.loop.RunFor(9000);
  EXPECT_EQ(msgs, (Texts{"Playing", "Play Done"}));
  ASSERT_EQ(world.box.Shown().size(), 1u);
  EXPECT_THAT(world.box.Shown()[0], ::testing::AllOf(HasSubstr(path), HasSubstr("Input/output error")));
}

}  // namespace
