#include "engines/PlayApiClass.h"

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

// A wave as the output must play it: per-channel samples, position 1 first,
// already scaled to 16 bits.
struct Wave {
  int32_t channels = 1;
  std::vector<int16_t> L, R;
  int32_t Nos() const { return static_cast<int32_t>(L.size()); }
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

std::vector<int16_t> Concat(std::vector<int16_t> a, const std::vector<int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

int16_t Sample(int64_t i, int64_t salt) { return static_cast<int16_t>((i * 7919 + salt * 104729) % 65536 - 32768); }

void AppendLE16(std::vector<uint8_t>& bytes, int16_t s) {
  bytes.push_back(static_cast<uint8_t>(s));
  bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
}

class PlayApiClassTest : public ::testing::Test {
 protected:
  PlayApiClassTest() {
    mod().MemorySizeToUse = 1 << 22;
    mod().PlayTempoFor = 1.0f;
    mod().PlayTempoRev = 1.0f;
    engine = std::make_unique<PlayApiClass>(w.ctx);
    engine->ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
      EXPECT_EQ(Msg, "S2");
      reports.push_back(Ttl);
      reportUs.push_back(w.loop.NowUs());
    });
  }

  PlayDllMod& mod() { return w.ctx.Mod; }

  // Hands the wave over as the facade does, through the real block chain.
  // A mono wave gets an empty right channel, as after ReleaseFiles.
  void Load(int32_t bits, int32_t channels, int32_t rate, int32_t waveNos, const HostList& left,
            const HostList* right = nullptr) {
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
    mod().FmtBits = bits;
    mod().FmtChannal = channels;
    mod().FmtFriq = rate;
    mod().WaveNos = waveNos;
    mod().PlayDirection = 1;
    mod().PlayProgress = 1;
    ASSERT_TRUE(engine->CreateSoundBuffer());
    mod().ChanBuffL->SetQuickBufferLength(mod().ChunkSamples);
    mod().ChanBuffR->SetQuickBufferLength(mod().ChunkSamples);
  }

  // A mono 16-bit Orgfile behind a 44-byte header.
  Wave LoadMono16(int32_t rate, int32_t nos, int64_t salt = 1) {
    Wave wave;
    std::vector<uint8_t> bytes(44, 0xEE);
    for (int32_t i = 0; i < nos; ++i) {
      wave.L.push_back(Sample(i, salt));
      AppendLE16(bytes, wave.L.back());
    }
    const std::string name = w.tmp.File("mono" + std::to_string(salt) + ".wav");
    testing_support::WriteBytes(name, bytes);
    Load(16, 1, rate, nos, HostList().Org(name, nos, 1, 45, 1, 16));
    return wave;
  }

  // Runs the present run to its end; checks that exactly `expected` played and
  // that "Play Done" came 80 to 120 ms after the last frame had sounded.
  void PlayOutAndCheck(const std::vector<int16_t>& expected, int64_t runMs) {
    w.loop.RunFor(runMs);
    EXPECT_EQ(w.output.Samples(), expected);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "Play Done");
    const int64_t gap = reportUs.back() - w.output.LastFrameEndUs();
    EXPECT_GE(gap, 80'000);
    EXPECT_LT(gap, 120'000);
    EXPECT_EQ(mod().RunningState, 0);
  }

  void Forget() {
    w.output.Clear();
    reports.clear();
    reportUs.clear();
  }

  SimWorld w;
  std::unique_ptr<PlayApiClass> engine;
  std::vector<std::string> reports;
  std::vector<int64_t> reportUs;
};

TEST_F(PlayApiClassTest, BuildsTheGeometryAndOpensTheDevice) {
  LoadMono16(44100, 1000);
  EXPECT_EQ(mod().ChunkSamples, 176400);
  EXPECT_EQ(mod().BufferSamples, 352800);
  EXPECT_EQ(mod().HalfOffset, 176400);
  EXPECT_EQ(mod().PlayChunkLen, 352800);
  EXPECT_EQ(mod().HalfBytes, 352800);
  EXPECT_EQ(mod().BufferBytes, 705600);
  EXPECT_TRUE(engine->IsDeviceOpen());

  mod().FmtChannal = 2;
  mod().FmtFriq = 300'000'000;  // four seconds do not fit 32 bits
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports, std::vector<std::string>{"Play Buffer - Failed"});
}

TEST_F(PlayApiClassTest, Mono16OrgfilePlaysForwardExactlyAtTheWaveRateWhateverTheTempo) {
  const Wave wave = LoadMono16(8000, 70000);  // two full chunks and a short one
  mod().PlayTempoFor = 2.0f;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(1000);
  EXPECT_EQ(mod().CurrentPos, 8000);  // the poll at 1 s
  PlayOutAndCheck(FramesOf(wave, 1, 70000), 10'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, 8000);
  EXPECT_EQ(w.output.Segments()[0].firstUs, 0);
}

TEST_F(PlayApiClassTest, Stereo8BitPlaysScaledForwardAndReverse) {
  const int32_t nos = 40000;
  Wave wave;
  wave.channels = 2;
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; i < nos; ++i) {
    const uint8_t l = static_cast<uint8_t>(i % 256), r = static_cast<uint8_t>(255 - (i * 3) % 256);
    bytes.push_back(l);
    bytes.push_back(r);
    wave.L.push_back(static_cast<int16_t>((l - 128) * 256));
    wave.R.push_back(static_cast<int16_t>((r - 128) * 256));
  }
  const std::string name = w.tmp.File("st8.wav");
  testing_support::WriteBytes(name, bytes);
  const HostList right = HostList().Org(name, nos, 1, 2, 2, 8);
  Load(8, 2, 8000, nos, HostList().Org(name, nos, 1, 1, 2, 8), &right);
  ASSERT_EQ(wave.L[0], -32768);
  ASSERT_EQ(wave.R[0], 32512);

  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(FramesOf(wave, 1, nos), 6'000);

  Forget();
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  EXPECT_EQ(mod().CurrentPos, nos - 8000 + 1);
  PlayOutAndCheck(FramesOf(wave, nos, 1, -1), 6'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
}

TEST_F(PlayApiClassTest, BlockFileSilenceAndOrgfilePlayAsOneWave) {
  Wave wave;
  std::vector<int16_t> blk, org;
  for (int32_t i = 0; i < 20000; ++i) blk.push_back(Sample(i, 5));
  for (int32_t i = 0; i < 40000; ++i) org.push_back(Sample(i, 9));
  wave.L = blk;
  wave.L.resize(35000, 0);
  wave.L.insert(wave.L.end(), org.begin(), org.end());
  const std::string blkName = w.tmp.File("blk.raw"), orgName = w.tmp.File("org.wav");
  testing_support::WriteSamples(blkName, blk);
  std::vector<uint8_t> bytes(10, 0x55);  // the samples start at byte 11
  for (int16_t s : org) AppendLE16(bytes, s);
  testing_support::WriteBytes(orgName, bytes);
  Load(16, 1, 8000, 75000,
       HostList().Blk(blkName, 20000, 1, 1).Silent(15000, 20001).Org(orgName, 40000, 35001, 11, 1, 16));

  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(FramesOf(wave, 1, 75000), 12'000);
}

TEST_F(PlayApiClassTest, PlaysFromAPositionInEitherDirectionClampedToTheWave) {
  const Wave wave = LoadMono16(8000, 70000);
  struct Case {
    int32_t dir, pos;
    std::vector<int16_t> expected;
  };
  const std::vector<Case> cases = {
      {1, 50000, FramesOf(wave, 50000, 70000)},
      {-1, 50000, FramesOf(wave, 50000, 1, -1)},
      {1, 100000, FramesOf(wave, 70000, 70000)},     // clamped: only the last frame
      {-1, 100000, FramesOf(wave, 70000, 1, -1)},    // clamped: the whole wave backwards
      {-1, 1, FramesOf(wave, 1, 1)},                 // one frame
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
    PlayOutAndCheck(c.expected, 10'000);
    EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  }
}

TEST_F(PlayApiClassTest, UTurnGoesBackFromWhereThePlayIs) {
  const Wave wave = LoadMono16(40000, 400000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(2500);  // 100000 frames have sounded
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayDirection, -1);
  EXPECT_EQ(mod().PlayBase, 300000);
  EXPECT_EQ(mod().PlayProgress, 400001);  // the first chunk holds the 100000 frames back to the start
  w.loop.RunFor(1000);
  EXPECT_EQ(mod().CurrentPos, 400000 - (300000 + 40000) + 1);
  PlayOutAndCheck(Concat(FramesOf(wave, 1, 100000), FramesOf(wave, 100000, 1, -1)), 3'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Playing", "Play Done"}));
}

TEST_F(PlayApiClassTest, PauseHoldsTheSoundAndContinueGoesOnWithoutReports) {
  const Wave wave = LoadMono16(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, 3);
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.FramesPlayed(), 8000);
  EXPECT_EQ(mod().CurrentPos, 8000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(1000);
  EXPECT_EQ(mod().CurrentPos, 16000);
  EXPECT_EQ(reports, std::vector<std::string>{"Playing"});
  PlayOutAndCheck(FramesOf(wave, 1, 70000), 10'000);
}

TEST_F(PlayApiClassTest, LoopModeRestartsAndCountsTheLoops) {
  const Wave wave = LoadMono16(8000, 3000);
  mod().LoopPlayON = true;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 2);
  w.loop.RunFor(1200);  // each pass: 375 ms of sound, then two polls and the stop timer
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing Loop", "Playing Loop", "Playing Loop 1", "Playing Loop",
                                               "Playing Loop 2"}));
  EXPECT_EQ(engine->Loops(), 2);
  const std::vector<int16_t> once = FramesOf(wave, 1, 3000);
  const std::vector<int16_t> played = w.output.Samples();
  ASSERT_GE(played.size(), 2 * once.size());
  EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + 6000), Concat(once, once));
  EXPECT_EQ(std::vector<int16_t>(played.begin() + 6000, played.end()),
            std::vector<int16_t>(once.begin(), once.begin() + static_cast<long>(played.size() - 6000)));
  ASSERT_TRUE(engine->StopPlay());
  EXPECT_EQ(reports.back(), "Stopped");
  const int64_t frames = w.output.FramesPlayed();
  w.loop.RunFor(2000);
  EXPECT_EQ(w.output.FramesPlayed(), frames);
  EXPECT_EQ(reports.size(), 6u);
  EXPECT_EQ(mod().RunningState, 0);
}

TEST_F(PlayApiClassTest, ExactlyTwoChunksAndShorterThanOneChunk) {
  const Wave two = LoadMono16(8000, 64000);
  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(FramesOf(two, 1, 64000), 10'000);

  Forget();
  const Wave shortWave = LoadMono16(8000, 1234, 2);
  ASSERT_TRUE(engine->PlayMe());
  PlayOutAndCheck(FramesOf(shortWave, 1, 1234), 1'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
}

TEST_F(PlayApiClassTest, AMissingOrgfileEndsTheRunAfterWhatWasQueued) {
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
  Load(16, 1, 8000, 52000, HostList().Org(nameA, 32000, 1, 1, 1, 16).Org(nameB, 20000, 32001, 1, 1, 16));
  ASSERT_TRUE(engine->PlayMe());
  std::filesystem::remove(nameB);
  PlayOutAndCheck(FramesOf(wave, 1, 32000), 8'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));

  // Nothing of the wave can be built at the start: the start fails.
  Forget();
  mod().PlayDirection = -1;
  EXPECT_FALSE(engine->PlayMe());
  EXPECT_EQ(reports, std::vector<std::string>{"Play Failed"});
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 0);
}

TEST_F(PlayApiClassTest, StopsNewBuffersWithoutADeviceAndOnDestruction) {
  const Wave wave = LoadMono16(8000, 70000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(500);
  ASSERT_TRUE(engine->CreateSoundBuffer());  // a new wave during the run ends it
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped"}));
  EXPECT_EQ(mod().RunningState, 0);
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 4000));

  w.output.SetAvailable(false);
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_FALSE(engine->PlayMe());
  mod().CurrentPos = 10;
  EXPECT_FALSE(engine->PlayAtCurrentPosition());
  EXPECT_FALSE(engine->UTurn());
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped", "Play Failed", "Play at.. failed",
                                               "UTurn failed"}));
  w.output.SetAvailable(true);

  Forget();
  ASSERT_TRUE(engine->CreateSoundBuffer());
  mod().PlayDirection = 1;  // the failed U-turn has turned it
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(250);
  engine.reset();  // the device stops with the engine
  w.loop.RunFor(10'000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 2000));
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled());
  EXPECT_FALSE(w.ctx.Timers.Timer2.Enabled());
}

// Ten minutes of stereo sound, played to the end, every frame checked.
TEST_F(PlayApiClassTest, TenMinutesOfStereoPlayToTheEnd) {
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
  Load(16, 2, rate, nos, HostList().Org(name, nos, 1, 1, 2, 16), &rightList);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(601'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  ASSERT_EQ(w.output.FramesPlayed(), nos);
  int64_t frame = 0, mismatches = 0;
  for (const auto& seg : w.output.Segments()) {
    for (size_t k = 0; k + 1 < seg.samples.size(); k += 2, ++frame) {
      if (seg.samples[k] != left(frame) || seg.samples[k + 1] != right(frame)) ++mismatches;
    }
  }
  EXPECT_EQ(frame, nos);
  EXPECT_EQ(mismatches, 0);
  const int64_t gap = reportUs.back() - w.output.LastFrameEndUs();
  EXPECT_GE(gap, 80'000);
  EXPECT_LT(gap, 120'000);
}

}  // namespace
