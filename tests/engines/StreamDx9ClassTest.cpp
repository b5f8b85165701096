// The DirectSound 9 engine alone: a poll fixed at the hand-over, both halves
// flagged in one poll, a chunk that cannot be built mid-run, and an output
// that cannot start (the reason in the log). A rate the library refuses and
// a first chunk that cannot be read are PlaybackTest's, for every engine.
// The sound service library (its halves, flags, position and end mark) is
// checked frame for frame through this engine.

#include "engines/StreamDx9Class.h"

#include <gmock/gmock.h>

#include <memory>
#include <string>

#include "platform/os/Errors.h"
#include "tests/engines/EngineFixture.h"
#include "tests/support/CapturedLog.h"

namespace engine_tests {
namespace {

using ::testing::HasSubstr;

class StreamDx9ClassTest : public OneEngineTest<engines::StreamDx9Class> {
 protected:
  StreamDx9ClassTest() {
    int32_t hwnd = 77;
    EXPECT_TRUE(engine->PutONDx9Ds(hwnd));
  }
};

// An attached engine on a platform with an output of its own, with a mono
// format at 8000 frames/s and two empty channels.
struct OwnPlatform {
  OwnPlatform(testing_support::SimWorld& w, audio::AudioOutput& output)
      : audio(w.loop, output, devices::AudioOffer{}, testing_support::SoundServiceLibraryPath()),
        ctx(w.loop, w.box, audio) {
    ctx.Mod.FmtChannal = 1;
    ctx.Mod.FmtFriq = 8000;
    ctx.Mod.WaveNos = 8000;
    ctx.Mod.PlayDirection = 1;
    ctx.Mod.PlayTempoFor = 1.0f;
    ctx.Mod.ChanBuffL = std::make_unique<buffers::BlockCarrBuffClass>(ctx.Blocks, 0);
    ctx.Mod.ChanBuffR = std::make_unique<buffers::BlockCarrBuffClass>(ctx.Blocks, 0);
    int32_t hwnd = 77;
    EXPECT_TRUE(engine->PutONDx9Ds(hwnd));
  }
  devices::AudioPlatform audio;
  state::PlayContext ctx;
  std::unique_ptr<engines::StreamDx9Class> engine = std::make_unique<engines::StreamDx9Class>(ctx);
};

TEST_F(StreamDx9ClassTest, BothHalvesFlaggedInOnePollRefillHalfTwoFirst) {
  // A poll of 10 s, fixed by the tempo at the hand-over, while the run plays at tempo 1.
  mod().PlayTempoFor = 0.01f;
  const Wave wave = MonoWave(320000);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  EXPECT_EQ(engine->PollIntervalMs(), 10000);
  mod().PlayTempoFor = 1.0f;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(12'000);
  EXPECT_EQ(PositionOf(*engine), 96000);  // the library hands over what sounded when it is called
  // Half 2 was never written before the first poll (silence), half 1 came
  // round again; at 10 s half 2 took chunk 2 and half 1 chunk 3.
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 32000), Silence(32000), FramesOf(wave, 1, 16000),
                                        FramesOf(wave, 80001, 96000)}));
  w.loop.RunFor(4000);
  EXPECT_EQ(PositionOf(*engine), 128000);
  const Samples played = w.output.Samples();
  ASSERT_EQ(played.size(), 128000u);
  EXPECT_EQ(Samples(played.begin() + 96000, played.end()), FramesOf(wave, 32001, 64000));
  EXPECT_EQ(reports, Reports{"Playing"});
}

TEST_F(StreamDx9ClassTest, AChunkThatCannotBeBuiltEndsTheRunAfterWhatTheLibraryHolds) {
  const Wave wave = StartWithAVanishingTail(*engine, 32000, 20000);
  w.loop.RunFor(6000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 32000));
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 4'000'000);
  EXPECT_TRUE(engine->PollEnabled());
}

// An output whose start fails, as a sound card that another program holds.
class OutputThatWillNotStart final : public audio::AudioOutput {
 public:
  void Start(int32_t, int32_t, audio::OutputPump) override { throw os::PlayError("the card is busy"); }
  void Play(const int16_t*, size_t frameCount, int64_t) override { played += static_cast<int64_t>(frameCount); }
  void Stop() override {}
  int64_t played = 0;
};

TEST_F(StreamDx9ClassTest, AnOutputThatCannotStartFailsTheStartAndTheLogSaysWhy) {
  OutputThatWillNotStart busy;
  OwnPlatform own(w, busy);
  Listen(*own.engine);
  testing_support::CapturedLog log;
  ASSERT_TRUE(own.engine->CreateSoundBuffer());
  EXPECT_FALSE(own.engine->PlayMe());
  EXPECT_EQ(reports, Reports{"Play Failed"});
  EXPECT_EQ(own.ctx.Mod.RunningState, state::kRunIdle);
  w.loop.RunFor(1000);
  EXPECT_EQ(busy.played, 0) << "a buffer whose output did not start played on";
  EXPECT_THAT(log.Text(), ::testing::AllOf(HasSubstr("sound service output, start: the card is busy"),
                                           HasSubstr("Service04: the output did not start")));
}

}  // namespace
}  // namespace engine_tests
