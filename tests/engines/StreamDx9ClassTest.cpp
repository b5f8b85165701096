// The DirectSound 9 engine through the real chain (block files, channel
// buffers, chunk builder, sound service library) on the manual clock: what
// only this engine does (its polling timer, continue after a stop, both
// halves flagged in one poll, a chunk that cannot be built, a missing
// library). What the three engines share is tested in AllEnginesTest.
//
// After the wave's end the library plays silence until the end mark has
// sounded and the next poll stops it; the expected trailing silence below
// follows from the mark (the last chunk's 100-ms steps) and the poll grid.

#include "engines/StreamDx9Class.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/EngineWave.h"

namespace {

using namespace testing_support;
using Reports = std::vector<std::string>;

class StreamDx9ClassTest : public EngineFixture {
 protected:
  StreamDx9ClassTest() { engine = MakeEngine(w.ctx); }

  std::unique_ptr<StreamDx9Class> MakeEngine(PlayContext& ctx) {
    auto e = std::make_unique<StreamDx9Class>(ctx);
    Listen(*e);
    int32_t hwnd = 77;
    EXPECT_TRUE(e->PutONDx9Ds(hwnd));
    return e;
  }

  // A mono 16-bit Orgfile behind a 44-byte header, handed over in direction 1.
  Wave LoadMono(int32_t rate, int32_t nos, int64_t salt = 1) {
    const Wave wave = MonoWave(nos, salt);
    EXPECT_TRUE(Load(*engine, wave, rate, 44));
    return wave;
  }

  // Runs the present run to its end: the output holds `expected`, then only
  // silence, and "Play Done" came when the output stopped.
  void PlayOutAndCheck(const std::vector<int16_t>& expected, int64_t runMs, size_t maxSilentSamples) {
    w.loop.RunFor(runMs);
    const std::vector<int16_t> played = w.output.Samples();
    ASSERT_GE(played.size(), expected.size());
    EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(std::vector<int16_t>(played.begin() + static_cast<long>(expected.size()), played.end()),
              Silence(played.size() - expected.size()));
    EXPECT_LE(played.size() - expected.size(), maxSilentSamples);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "Play Done");
    EXPECT_LE(w.output.LastFrameEndUs(), reportUs.back());
    EXPECT_GT(w.output.LastFrameEndUs() + 1000, reportUs.back());
    EXPECT_EQ(mod().RunningState, 0);
  }

  int32_t Position() { return PositionOf(*engine); }

  std::unique_ptr<StreamDx9Class> engine;
};

TEST_F(StreamDx9ClassTest, CreateSoundBufferSetsThePollFromTheTempoThen) {
  LoadMono(44100, 1000);
  EXPECT_NE(w.ctx.Dx9Mod.ServiceHandle, 0);
  EXPECT_EQ(engine->PollIntervalMs(), 100);
  EXPECT_FALSE(engine->PollEnabled());

  mod().PlayTempoFor = 2.0f;
  EXPECT_EQ(engine->PollIntervalMs(), 100);  // only a new buffer takes the tempo
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(engine->PollIntervalMs(), 50);
  mod().PlayDirection = -1;
  mod().PlayTempoRev = 0.75f;
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(engine->PollIntervalMs(), 133);
  mod().PlayDirection = 0;
  mod().PlayTempoRev = 1.5f;
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(engine->PollIntervalMs(), 133);
  EXPECT_TRUE(reports.empty());
}

TEST_F(StreamDx9ClassTest, AfterTheEndThePollGoesOnAndNothingMoreSounds) {
  const Wave wave = LoadMono(8000, 70000);  // two full chunks and 6000 frames
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_TRUE(engine->PollEnabled());
  // TailMs 751 gives 8 steps of 800 frames: the mark sounds at 64000 + 6400
  // frames, 8.8 s, on a poll.
  PlayOutAndCheck(Concat({FramesOf(wave, 1, 70000), Silence(400)}), 10'000, 400);
  EXPECT_EQ(reportUs.back(), 8'800'000);

  // Idle, the engine goes on polling and nothing more sounds.
  w.loop.RunFor(2000);
  EXPECT_TRUE(engine->PollEnabled());
  EXPECT_EQ(w.output.FramesPlayed(), 70400);
  EXPECT_EQ(reports.size(), 2u);
}

TEST_F(StreamDx9ClassTest, ReverseTakesItsOwnTempo) {
  mod().PlayTempoFor = 2.0f;
  const Wave wave = LoadMono(8000, 70000);
  mod().PlayDirection = -1;
  mod().PlayTempoRev = 0.5f;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().PlayFriq, 4000);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 70000 - 4000 + 1);
  PlayOutAndCheck(Concat({FramesOf(wave, 70000, 1, -1), Silence(400)}), 20'000, 400);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(w.output.Segments().back().rate, 4000);
}

TEST_F(StreamDx9ClassTest, ContinueAfterAStopGoesOnWhereItWas) {
  const Wave wave = LoadMono(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  engine->PlayPause();
  EXPECT_TRUE(engine->PollEnabled()) << "the poll runs on while paused";
  w.loop.RunFor(5000);
  engine->PlayContinue();
  w.loop.RunFor(1000);

  ASSERT_TRUE(engine->StopPlay());
  EXPECT_EQ(mod().RunningState, 0);
  w.loop.RunFor(3000);
  EXPECT_EQ(w.output.FramesPlayed(), 16000);
  mod().LoopPlayON = true;
  engine->PlayContinue();  // after a stop too, with the loop switch as it is now
  EXPECT_EQ(mod().RunningState, 2);
  mod().LoopPlayON = false;
  w.loop.RunFor(6800);
  EXPECT_EQ(reports, (Reports{"Playing", "Stopped", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 16'800'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 70000), Silence(400)}));
}

TEST_F(StreamDx9ClassTest, BothHalvesFlaggedInOnePollRefillHalfTwoFirst) {
  // A poll of 10 s, fixed at the hand-over, while the run plays at tempo 1.
  mod().PlayTempoFor = 0.01f;
  const Wave wave = LoadMono(8000, 320000);
  ASSERT_EQ(engine->PollIntervalMs(), 10000);
  mod().PlayTempoFor = 1.0f;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(12'000);
  EXPECT_EQ(Position(), 96000);  // the library hands over what sounded when it is called
  // Half 2 was never written before the first poll (silence), half 1 came
  // round again; at 10 s half 2 took chunk 2 and half 1 chunk 3.
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 32000), Silence(32000), FramesOf(wave, 1, 16000),
                                        FramesOf(wave, 80001, 96000)}));
  w.loop.RunFor(4000);
  EXPECT_EQ(Position(), 128000);
  const std::vector<int16_t> played = w.output.Samples();
  ASSERT_EQ(played.size(), 128000u);
  EXPECT_EQ(std::vector<int16_t>(played.begin() + 96000, played.end()), FramesOf(wave, 32001, 64000));
}

TEST_F(StreamDx9ClassTest, AChunkThatCannotBeBuiltEndsTheRunAfterWhatWasWritten) {
  // Chunk 1 comes from one Orgfile, the rest from another that goes away.
  const Wave wave = MonoWave(32000, 3);
  const std::string nameA = w.tmp.File("a.wav"), nameB = w.tmp.File("b.wav");
  WriteOrgfile16(nameA, wave);
  WriteOrgfile16(nameB, MonoWave(20000, 4));
  ASSERT_TRUE(HandOver(w.ctx, *engine, WaveFormat{16, 1, 8000, 52000},
                       HostList().Org(nameA, 32000, 1, 1, 1, 16).Org(nameB, 20000, 32001, 1, 1, 16)));
  ASSERT_TRUE(engine->PlayMe());
  std::filesystem::remove(nameB);
  PlayOutAndCheck(FramesOf(wave, 1, 32000), 6'000, 0);
  EXPECT_EQ(reportUs.back(), 4'000'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_TRUE(engine->PollEnabled());

  // Nothing of the wave can be built at the start: the start fails.
  Forget();
  mod().PlayDirection = -1;
  EXPECT_FALSE(engine->PlayMe());
  EXPECT_EQ(reports, Reports{"Play Failed"});
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 0);
}

TEST_F(StreamDx9ClassTest, WithoutTheLibraryOrAnOutputTheBufferFails) {
  platform::AudioPlatform missing(w.loop, w.output, platform::AudioOffer{}, w.tmp.File("none.so"));
  PlayContext noLibrary(w.loop, w.box, missing);
  noLibrary.Mod.FmtChannal = 1;
  noLibrary.Mod.FmtFriq = 8000;
  noLibrary.Mod.PlayDirection = 1;
  noLibrary.Mod.PlayTempoFor = 1.0f;
  auto lonely = MakeEngine(noLibrary);  // the window is taken all the same
  EXPECT_FALSE(lonely->CreateSoundBuffer());
  EXPECT_EQ(noLibrary.Dx9Mod.ServiceHandle, 0);
  EXPECT_FALSE(lonely->PlayMe());
  EXPECT_EQ(reports, (Reports{"Play Buffer - Failed", "Play Failed"}));
  lonely.reset();
  EXPECT_EQ(reports.back(), "Stopped");

  // The library is there, but there is no output to play on.
  Forget();
  w.output.SetAvailable(false);
  mod().FmtChannal = 1;
  mod().FmtFriq = 8000;
  mod().PlayDirection = 1;
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(w.ctx.Dx9Mod.ServiceHandle, 0);
  EXPECT_FALSE(engine->PlayMe());
  // The other starts report the library's refusal the same way and return
  // False; the facade adds its own failure text.
  EXPECT_FALSE(engine->UTurn());
  mod().CurrentPos = 1;
  EXPECT_FALSE(engine->PlayAtCurrentPosition());
  EXPECT_EQ(reports, (Reports{"Play Buffer - Failed", "Play Failed", "Play Failed", "Play Failed"}));
  EXPECT_EQ(mod().RunningState, 0);
  EXPECT_FALSE(engine->PollEnabled());
}

TEST_F(StreamDx9ClassTest, ANewBufferDuringARunStopsItWithoutAReport) {
  const Wave wave = LoadMono(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(500);
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(mod().RunningState, 0);
  w.loop.RunFor(10'000);
  EXPECT_EQ(reports, Reports{"Playing"});
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 4000));
}

TEST_F(StreamDx9ClassTest, NotOfferedRefusesTheWindowAndDestructionStopsTheSound) {
  platform::AudioPlatform noDx9(w.loop, w.output, platform::AudioOffer{false, true, true},
                                SoundServiceLibraryPath());
  PlayContext other(w.loop, w.box, noDx9);
  StreamDx9Class refused(other);
  int32_t hwnd = 5;
  EXPECT_FALSE(refused.PutONDx9Ds(hwnd));

  const Wave wave = LoadMono(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(250);
  engine.reset();
  w.loop.RunFor(10'000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 2000));
  EXPECT_EQ(reports, (Reports{"Playing", "Stopped"}));
}

}  // namespace
