// The DirectSound 9 engine through the real chain (block files, channel
// buffers, chunk builder, sound service library) on the manual clock: every
// frame the virtual output played is compared with the wave.
//
// After the wave's end the library plays silence until the end mark has
// sounded and the next poll stops it; the expected trailing silence below
// follows from the mark (the last chunk's 100-ms steps) and the poll grid.

#include "engines/StreamDx9Class.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "buffers/BlockCarrBuffClass.h"
#include "tests/support/TestWorld.h"

namespace {

using testing_support::HostList;
using testing_support::SimWorld;
using Reports = std::vector<std::string>;

// A wave as the output must play it: per channel, position 1 first, 16 bits.
struct Wave {
  int32_t channels = 1;
  std::vector<int16_t> L, R;
};

// Interleaved frames of positions from..to, stepping by dir (1 or -1).
std::vector<int16_t> FramesOf(const Wave& w, int32_t from, int32_t to, int dir = 1) {
  std::vector<int16_t> out;
  for (int32_t p = from;; p += dir) {
    out.push_back(w.L[static_cast<size_t>(p - 1)]);
    if (w.channels == 2) out.push_back(w.R[static_cast<size_t>(p - 1)]);
    if (p == to) break;
  }
  return out;
}

std::vector<int16_t> Concat(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<int16_t> Silence(size_t samples) { return std::vector<int16_t>(samples, 0); }

int16_t Sample(int64_t i, int64_t salt) { return static_cast<int16_t>((i * 7919 + salt * 104729) % 65536 - 32768); }

void AppendLE16(std::vector<uint8_t>& bytes, int16_t s) {
  bytes.push_back(static_cast<uint8_t>(s));
  bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
}

class StreamDx9ClassTest : public ::testing::Test {
 protected:
  StreamDx9ClassTest() {
    mod().MemorySizeToUse = 1 << 22;
    mod().PlayTempoFor = 1.0f;
    mod().PlayTempoRev = 1.0f;
    engine = MakeEngine(w.ctx);
  }

  std::unique_ptr<StreamDx9Class> MakeEngine(PlayContext& ctx) {
    auto e = std::make_unique<StreamDx9Class>(ctx);
    e->ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
      EXPECT_EQ(Msg, "S2");
      reports.push_back(Ttl);
      reportUs.push_back(w.loop.NowUs());
    });
    int32_t hwnd = 77;
    EXPECT_TRUE(e->PutONDx9Ds(hwnd));
    return e;
  }

  PlayDllMod& mod() { return w.ctx.Mod; }

  // Hands the wave over as the facade does, through the real block chain.
  void Load(int32_t channels, int32_t rate, int32_t waveNos, const HostList& left, const HostList* right = nullptr) {
    auto ingest = [this](const HostList& list, const char* name) {
      const platform::VbArray<int32_t> host = list.Build();
      VodoRaraZodorUze::ValidateBlockList(host, name);
      platform::VbArray<int32_t> idx;
      w.ctx.Blocks.BlockListIngest(host, idx);
      auto buff = std::make_unique<BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
      buff->BuffBlocksPutFresh(idx);
      return buff;
    };
    mod().ChanBuffL.reset();
    mod().ChanBuffR.reset();
    mod().ChanBuffL = ingest(left, "BlkInLstL");
    mod().ChanBuffR = right != nullptr ? ingest(*right, "BlkInLstR")
                                       : std::make_unique<BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
    mod().FmtBits = 16;
    mod().FmtChannal = channels;
    mod().FmtFriq = rate;
    mod().WaveNos = waveNos;
    ASSERT_TRUE(engine->CreateSoundBuffer());
    mod().ChanBuffL->SetQuickBufferLength(mod().ChunkSamples);
    mod().ChanBuffR->SetQuickBufferLength(mod().ChunkSamples);
  }

  // A mono 16-bit Orgfile behind a 44-byte header; direction 1 at the hand-over.
  Wave LoadMono(int32_t rate, int32_t nos, int64_t salt = 1) {
    Wave wave;
    std::vector<uint8_t> bytes(44, 0xEE);
    for (int32_t i = 0; i < nos; ++i) {
      wave.L.push_back(Sample(i, salt));
      AppendLE16(bytes, wave.L.back());
    }
    const std::string name = w.tmp.File("mono" + std::to_string(salt) + ".wav");
    testing_support::WriteBytes(name, bytes);
    if (mod().PlayDirection == 0) mod().PlayDirection = 1;
    Load(1, rate, nos, HostList().Org(name, nos, 1, 45, 1, 16));
    return wave;
  }

  // An interleaved stereo 16-bit Orgfile without header.
  Wave LoadStereo(int32_t rate, int32_t nos) {
    Wave wave;
    wave.channels = 2;
    std::vector<uint8_t> bytes;
    for (int32_t i = 0; i < nos; ++i) {
      wave.L.push_back(Sample(i, 11));
      wave.R.push_back(Sample(i, 12));
      AppendLE16(bytes, wave.L.back());
      AppendLE16(bytes, wave.R.back());
    }
    const std::string name = w.tmp.File("stereo.wav");
    testing_support::WriteBytes(name, bytes);
    const HostList right = HostList().Org(name, nos, 1, 3, 2, 16);
    if (mod().PlayDirection == 0) mod().PlayDirection = 1;
    Load(2, rate, nos, HostList().Org(name, nos, 1, 1, 2, 16), &right);
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

  int32_t Position() {
    engine->UpdatePlayPosition();
    return mod().CurrentPos;
  }

  void Forget() {
    w.output.Clear();
    reports.clear();
    reportUs.clear();
  }

  SimWorld w;
  Reports reports;
  std::vector<int64_t> reportUs;
  std::unique_ptr<StreamDx9Class> engine;
};

TEST_F(StreamDx9ClassTest, CreateSoundBufferSizesTheHalvesAndSetsThePollFromTheTempoThen) {
  LoadMono(44100, 1000);
  EXPECT_EQ(mod().ChunkSamples, 176400);
  EXPECT_EQ(mod().BufferSamples, 352800);
  EXPECT_EQ(mod().HalfOffset, 176400);
  EXPECT_EQ(mod().PlayChunkLen, 352800);
  EXPECT_EQ(mod().HalfBytes, 352800);
  EXPECT_EQ(mod().BufferBytes, 705600);
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

  mod().FmtChannal = 2;
  mod().FmtFriq = 300'000'000;  // four seconds do not fit 32 bits
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports, Reports{"Play Buffer - Failed"});
}

TEST_F(StreamDx9ClassTest, ForwardPlaysEveryFrameAndEndsWhenTheMarkHasSounded) {
  const Wave wave = LoadMono(8000, 70000);  // two full chunks and 6000 frames
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 1);
  EXPECT_TRUE(engine->PollEnabled());
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 8000);
  // TailMs 751 gives 8 steps of 800 frames: the mark sounds at 64000 + 6400
  // frames, 8.8 s, on a poll.
  PlayOutAndCheck(Concat({FramesOf(wave, 1, 70000), Silence(400)}), 10'000, 400);
  EXPECT_EQ(reportUs.back(), 8'800'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  ASSERT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, 8000);
  EXPECT_EQ(w.output.Segments()[0].firstUs, 0);

  // Idle, the engine goes on polling and nothing more sounds.
  w.loop.RunFor(2000);
  EXPECT_TRUE(engine->PollEnabled());
  EXPECT_EQ(w.output.FramesPlayed(), 70400);
  EXPECT_EQ(reports.size(), 2u);
}

TEST_F(StreamDx9ClassTest, TempoChangesTheDeviceRateAndReverseTakesItsOwnTempo) {
  mod().PlayTempoFor = 2.0f;
  const Wave wave = LoadMono(8000, 70000);
  EXPECT_EQ(engine->PollIntervalMs(), 50);
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().PlayFriq, 16000);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 16000);
  PlayOutAndCheck(Concat({FramesOf(wave, 1, 70000), Silence(400)}), 5'000, 400);
  EXPECT_EQ(reportUs.back(), 4'400'000);
  EXPECT_EQ(w.output.Segments().back().rate, 16000);

  Forget();
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

TEST_F(StreamDx9ClassTest, StereoReverseAndTheReportedPosition) {
  const Wave wave = LoadStereo(8000, 40000);
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(4500);
  EXPECT_EQ(Position(), 40000 - 36000 + 1);
  // Last chunk 8000 frames: TailMs 1001, 11 steps, the mark at 32000 + 8800.
  PlayOutAndCheck(Concat({FramesOf(wave, 40000, 1, -1), Silence(2 * 800)}), 2'000, 2 * 800);
  EXPECT_EQ(reportUs.back(), 5'100'000);
}

TEST_F(StreamDx9ClassTest, UTurnInTheMiddleGoesBackFromWhereThePlayIs) {
  const Wave wave = LoadMono(40000, 400000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(2500);  // 100000 frames have sounded
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayDirection, -1);
  EXPECT_EQ(mod().PlayBase, 300000);
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 400000 - (300000 + 40000) + 1);
  // 100000 frames back: TailMs 2501, 26 steps of 4000 frames.
  PlayOutAndCheck(Concat({FramesOf(wave, 1, 100000), FramesOf(wave, 100000, 1, -1), Silence(4000)}), 3'000, 4000);
  EXPECT_EQ(reportUs.back(), 5'100'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Playing", "Play Done"}));

  // Turning round beyond either end starts at that end.
  Forget();
  mod().PlayDirection = 1;
  ASSERT_TRUE(engine->PlayMe());
  engine->PlayPause();
  mod().PlayBase = 500000;  // the position reads beyond the wave's end
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayBase, 0);
  PlayOutAndCheck(Concat({FramesOf(wave, 400000, 1, -1)}), 12'000, 4000);
}

TEST_F(StreamDx9ClassTest, PlaysFromAPositionInEitherDirectionClampedToTheWave) {
  const Wave wave = LoadMono(8000, 70000);
  struct Case {
    int32_t dir, pos;
    std::vector<int16_t> expected;
  };
  const std::vector<Case> cases = {
      {1, 50000, FramesOf(wave, 50000, 70000)},
      {-1, 50000, FramesOf(wave, 50000, 1, -1)},
      {1, 100000, FramesOf(wave, 70000, 70000)},
      {-1, 100000, FramesOf(wave, 70000, 1, -1)},
      {-1, 1, FramesOf(wave, 1, 1)},
      {1, -5, FramesOf(wave, 1, 70000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("direction " + std::to_string(c.dir) + " position " + std::to_string(c.pos));
    Forget();
    mod().PlayDirection = c.dir;
    mod().CurrentPos = c.pos;
    ASSERT_TRUE(engine->PlayAtCurrentPosition());
    const int32_t start = c.dir == 1 ? std::max(1, std::min(c.pos, 70000))
                                     : std::max(1, std::min(70000 - c.pos + 1, 70000));
    EXPECT_EQ(mod().PlayBase, start - 1);
    // At most 100 ms up to the mark and one poll after it.
    PlayOutAndCheck(c.expected, 10'000, 1700);
    EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  }
}

TEST_F(StreamDx9ClassTest, LoopModeRestartsWithBothMessagesAtEachEnd) {
  const Wave wave = LoadMono(8000, 3000);  // TailMs 376: the mark at 400 ms
  mod().LoopPlayON = true;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 2);
  w.loop.RunFor(1000);
  EXPECT_EQ(reports, (Reports{"Playing Loop", "Playing Loop", "Playing Loop 1", "Playing Loop", "Playing Loop 2"}));
  EXPECT_EQ(reportUs[2], 400'000);
  EXPECT_EQ(reportUs[4], 800'000);
  const std::vector<int16_t> once = Concat({FramesOf(wave, 1, 3000), Silence(200)});
  EXPECT_EQ(w.output.Samples(), Concat({once, once, std::vector<int16_t>(once.begin(), once.begin() + 1600)}));
  EXPECT_EQ(mod().RunningState, 2);

  ASSERT_TRUE(engine->StopPlay());
  EXPECT_EQ(reports.back(), "Stopped");
  w.loop.RunFor(2000);
  EXPECT_EQ(w.output.FramesPlayed(), 8000);
  EXPECT_EQ(reports.size(), 6u);
  EXPECT_EQ(mod().RunningState, 0);

  // A start from a position reports the loop count it carries on with.
  mod().CurrentPos = 2000;
  ASSERT_TRUE(engine->PlayAtCurrentPosition());
  EXPECT_EQ(reports.back(), "Playing Loop 2");
}

TEST_F(StreamDx9ClassTest, PauseAndStopHoldTheSoundAndContinueGoesOnWhereItWas) {
  const Wave wave = LoadMono(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, 3);
  EXPECT_TRUE(engine->PollEnabled());
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.FramesPlayed(), 8000);
  EXPECT_EQ(Position(), 8000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 16000);

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

TEST_F(StreamDx9ClassTest, AWaveShorterThanAChunkAndOneEndingOnAHalfBoundary) {
  const Wave shortWave = LoadMono(8000, 1234);  // TailMs 155: two steps, 200 ms
  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(Concat({FramesOf(shortWave, 1, 1234), Silence(366)}), 1000, 366);
  EXPECT_EQ(reportUs.back(), 200'000);

  Forget();
  const Wave two = LoadMono(8000, 64000, 2);  // ends on half 2's last frame
  const int64_t startUs = w.loop.NowUs();
  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(FramesOf(two, 1, 64000), 10'000, 0);
  EXPECT_EQ(reportUs.back() - startUs, 8'000'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
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
  Wave wave;
  std::vector<uint8_t> a, b;
  for (int32_t i = 0; i < 32000; ++i) {
    wave.L.push_back(Sample(i, 3));
    AppendLE16(a, wave.L.back());
  }
  for (int32_t i = 0; i < 20000; ++i) AppendLE16(b, Sample(i, 4));
  const std::string nameA = w.tmp.File("a.wav"), nameB = w.tmp.File("b.wav");
  testing_support::WriteBytes(nameA, a);
  testing_support::WriteBytes(nameB, b);
  mod().PlayDirection = 1;
  Load(1, 8000, 52000, HostList().Org(nameA, 32000, 1, 1, 1, 16).Org(nameB, 20000, 32001, 1, 1, 16));
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
  EXPECT_EQ(reports, (Reports{"Play Buffer - Failed", "Play Failed"}));
}

TEST_F(StreamDx9ClassTest, NotOfferedRefusesTheWindowAndDestructionStopsTheSound) {
  platform::AudioPlatform noDx9(w.loop, w.output, platform::AudioOffer{false, true, true},
                                testing_support::SoundServiceLibraryPath());
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

// Ten minutes of stereo sound, played to the end, every frame checked. The
// wave is exactly 150 chunks long, so its end is the end of half 2.
TEST_F(StreamDx9ClassTest, TenMinutesOfStereoPlayToTheEnd) {
  const int32_t rate = 44100, nos = 600 * rate;
  auto left = [](int64_t i) { return static_cast<int16_t>((i * 31) % 65536 - 32768); };
  auto right = [](int64_t i) { return static_cast<int16_t>(32767 - (i * 17) % 65536); };
  const std::string name = w.tmp.File("long.wav");
  {
    std::ofstream f(name, std::ios::binary);
    std::vector<int16_t> block;
    for (int64_t i = 0; i < nos;) {
      block.clear();
      for (int k = 0; k < 65536 && i < nos; ++k, ++i) {
        block.push_back(left(i));
        block.push_back(right(i));
      }
      f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 2));
    }
  }
  const HostList rightList = HostList().Org(name, nos, 1, 3, 2, 16);
  mod().PlayDirection = 1;
  Load(2, rate, nos, HostList().Org(name, nos, 1, 1, 2, 16), &rightList);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(601'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 600'000'000);
  ASSERT_EQ(w.output.FramesPlayed(), nos);
  int64_t frame = 0, mismatches = 0;
  for (const auto& seg : w.output.Segments()) {
    for (size_t k = 0; k + 1 < seg.samples.size(); k += 2, ++frame) {
      if (seg.samples[k] != left(frame) || seg.samples[k + 1] != right(frame)) ++mismatches;
    }
  }
  EXPECT_EQ(frame, nos);
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
