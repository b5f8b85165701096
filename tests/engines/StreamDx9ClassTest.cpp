// The DirectSound 9 engine through the real chain (block files, channel
// buffers, chunk builder, sound service library) on the manual clock: what
// only this engine does (a poll fixed at the hand-over, both halves flagged
// in one poll, a library that cannot be loaded). What the three engines
// share is tested in AllEnginesTest; the sound service library (its halves,
// flags, position and end mark) is checked frame for frame through this
// engine there and here.

#include "engines/StreamDx9Class.h"

#include <gtest/gtest.h>

#include <cstdint>
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

  std::unique_ptr<engines::StreamDx9Class> MakeEngine(state::PlayContext& ctx) {
    auto e = std::make_unique<engines::StreamDx9Class>(ctx);
    Listen(*e);
    int32_t hwnd = 77;
    EXPECT_TRUE(e->PutONDx9Ds(hwnd));
    return e;
  }

  std::unique_ptr<engines::StreamDx9Class> engine;
};

TEST_F(StreamDx9ClassTest, BothHalvesFlaggedInOnePollRefillHalfTwoFirst) {
  // A poll of 10 s, fixed by the tempo at the hand-over, while the run plays at tempo 1.
  mod().PlayTempoFor = 0.01f;
  const Wave wave = MonoWave(320000);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  EXPECT_EQ(engine->PollIntervalMs(), 10000);
  EXPECT_FALSE(engine->PollEnabled());
  mod().PlayTempoFor = 1.0f;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_TRUE(engine->PollEnabled());
  w.loop.RunFor(12'000);
  EXPECT_EQ(PositionOf(*engine), 96000);  // the library hands over what sounded when it is called
  // Half 2 was never written before the first poll (silence), half 1 came
  // round again; at 10 s half 2 took chunk 2 and half 1 chunk 3.
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 32000), Silence(32000), FramesOf(wave, 1, 16000),
                                        FramesOf(wave, 80001, 96000)}));
  w.loop.RunFor(4000);
  EXPECT_EQ(PositionOf(*engine), 128000);
  const std::vector<int16_t> played = w.output.Samples();
  ASSERT_EQ(played.size(), 128000u);
  EXPECT_EQ(std::vector<int16_t>(played.begin() + 96000, played.end()), FramesOf(wave, 32001, 64000));
  EXPECT_EQ(reports, Reports{"Playing"});
}

// A library that is not installed or not a library: the window is taken all
// the same, and the buffer and the start fail. (Not offered, the engine
// refuses the window: the server's --engines test.)
TEST_F(StreamDx9ClassTest, WithoutAUsableLibraryTheBufferAndTheStartFail) {
  WriteBytes(w.tmp.File("junk.so"), {1, 2, 3, 4});
  for (const std::string& path : {std::string(), w.tmp.File("none.so"), w.tmp.File("junk.so")}) {
    SCOPED_TRACE(path);
    reports.clear();
    platform::AudioPlatform missing(w.loop, w.output, platform::AudioOffer{}, path);
    state::PlayContext noLibrary(w.loop, w.box, missing);
    noLibrary.Mod.FmtChannal = 1;
    noLibrary.Mod.FmtFriq = 8000;
    noLibrary.Mod.PlayDirection = 1;
    noLibrary.Mod.PlayTempoFor = 1.0f;
    auto lonely = MakeEngine(noLibrary);
    EXPECT_FALSE(lonely->CreateSoundBuffer());
    EXPECT_EQ(noLibrary.Dx9Mod.ServiceHandle, 0);
    EXPECT_FALSE(lonely->PlayMe());
    EXPECT_EQ(reports, (Reports{"Play Buffer - Failed", "Play Failed"}));
    EXPECT_FALSE(lonely->PollEnabled());
    lonely.reset();
    EXPECT_EQ(reports.back(), "Stopped");
  }
}

}  // namespace
