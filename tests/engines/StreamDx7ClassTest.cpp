#include "engines/StreamDx7Class.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "buffers/BlockCarrBuffClass.h"
#include "tests/support/TestWorld.h"

namespace {

using testing_support::HostList;
using testing_support::SimWorld;

// At 8000 frames per second a chunk is 32000 frames (four seconds) and one
// millisecond is exactly 8 frames.
constexpr int32_t kRate = 8000;
constexpr int32_t kChunk = 32000;

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

std::vector<int16_t> Silence(size_t samples) { return std::vector<int16_t>(samples, 0); }

std::vector<int16_t> Concat(std::vector<int16_t> a, const std::vector<int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

int16_t Sample(int64_t i, int64_t salt) {
  return static_cast<int16_t>((i * 7919 + salt * 104729 + 1) % 65536 - 32768);
}

class StreamDx7ClassTest : public ::testing::Test {
 protected:
  explicit StreamDx7ClassTest(platform::AudioOffer offer = {}) : w(offer) {
    mod().MemorySizeToUse = 1 << 22;
    mod().PlayTempoFor = 1.0f;
    mod().PlayTempoRev = 1.0f;
    // The stop timer's mark is a time of day; start the day one second in.
    w.loop.RunFor(1000);
    t0 = w.loop.NowUs();
    engine = std::make_unique<StreamDx7Class>(w.ctx);
    engine->ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
      EXPECT_EQ(Msg, "S2");
      reports.push_back(Ttl);
      reportUs.push_back(w.loop.NowUs() - t0);
    });
  }

  PlayDllMod& mod() { return w.ctx.Mod; }

  bool Attach() {
    int32_t hwnd = 77;
    return engine->PutONDx7Ds(hwnd);
  }

  // Hands a 16-bit wave over as the facade does, through the real block
  // chain: one Orgfile entry per channel and `pieces` entries along it.
  void Load(const Wave& wave, int32_t rate, int pieces = 1) {
    const std::string name = w.tmp.File("wave" + std::to_string(++files) + ".raw");
    {
      std::ofstream f(name, std::ios::binary);
      for (int32_t i = 0; i < wave.Nos(); ++i) {
        f.write(reinterpret_cast<const char*>(&wave.L[static_cast<size_t>(i)]), 2);
        if (wave.channels == 2) f.write(reinterpret_cast<const char*>(&wave.R[static_cast<size_t>(i)]), 2);
      }
    }
    auto ingest = [&](int32_t firstByte, const char* listName) {
      HostList list;
      const int32_t piece = wave.Nos() / pieces;
      for (int k = 0; k < pieces; ++k) {
        const int32_t start = k * piece + 1;
        const int32_t len = k + 1 == pieces ? wave.Nos() - k * piece : piece;
        list.Org(name, len, start, firstByte + (start - 1) * 2 * wave.channels, wave.channels, 16);
      }
      const platform::VbArray<int32_t> host = list.Build();
      VodoRaraZodorUze::ValidateBlockList(host, listName);
      platform::VbArray<int32_t> idx;
      w.ctx.Blocks.BlockListIngest(host, idx);
      auto buff = std::make_unique<BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
      buff->BuffBlocksPutFresh(idx);
      return buff;
    };
    mod().ChanBuffL.reset();
    mod().ChanBuffR.reset();
    mod().ChanBuffL = ingest(1, "BlkInLstL");
    mod().ChanBuffR = wave.channels == 2 ? ingest(3, "BlkInLstR")
                                         : std::make_unique<BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
    mod().FmtBits = 16;
    mod().FmtChannal = wave.channels;
    mod().FmtFriq = rate;
    mod().WaveNos = wave.Nos();
    mod().PlayDirection = 1;
    mod().PlayProgress = 1;
    ASSERT_TRUE(engine->CreateSoundBuffer());
    mod().ChanBuffL->SetQuickBufferLength(mod().ChunkSamples);
    mod().ChanBuffR->SetQuickBufferLength(mod().ChunkSamples);
  }

  Wave MakeMono(int32_t nos, int64_t salt = 1) {
    Wave wave;
    for (int32_t i = 0; i < nos; ++i) wave.L.push_back(Sample(i, salt));
    return wave;
  }

  // Attaches and loads a mono wave at kRate.
  Wave Ready(int32_t nos, int pieces = 1) {
    EXPECT_TRUE(Attach());
    Wave wave = MakeMono(nos);
    Load(wave, kRate, pieces);
    return wave;
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
  int64_t t0 = 0;
  int files = 0;
  std::vector<std::string> reports;
  std::vector<int64_t> reportUs;  // since t0
  std::unique_ptr<StreamDx7Class> engine;  // goes first: its release still reports
};

TEST_F(StreamDx7ClassTest, BuildsTheGeometryAndTheBuffer) {
  ASSERT_TRUE(Attach());
  Wave wave = MakeMono(100);
  wave.channels = 2;
  wave.R = wave.L;
  Load(wave, 44100);
  EXPECT_EQ(mod().ChunkSamples, 176400);
  EXPECT_EQ(mod().BufferSamples, 352800);
  EXPECT_EQ(mod().HalfOffset, 352800);
  EXPECT_EQ(mod().PlayChunkLen, 705600);
  EXPECT_EQ(mod().HalfBytes, 705600);
  EXPECT_EQ(mod().BufferBytes, 1411200);
  EXPECT_EQ(mod().RunningState, 0);
  EXPECT_TRUE(reports.empty());

  mod().FmtFriq = 600'000'000;  // four seconds of it overflow 32 bits
  EXPECT_FALSE(engine->CreateSoundBuffer());
  mod().FmtFriq = 192000;  // beyond what the device plays
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports, (std::vector<std::string>{"Play Buffer - Failed", "Play Buffer - Failed"}));
}

TEST_F(StreamDx7ClassTest, ForwardAndReversePlayEveryFrameThenTheStopTimerEndsTheRun) {
  const Wave wave = Ready(80000);  // two and a half chunks
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(11000);
  // The final chunk (2000 ms) arms the timer for CLng(2001 + 1) ms when half 1
  // has been played, at 8 s: 2 ms of the zeros behind it sound as well.
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 80000), Silence(16)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
  EXPECT_EQ(mod().RunningState, 0);
  EXPECT_EQ(engine->Wraps(), 0) << "no position was asked for";

  Forget();
  mod().PlayDirection = -1;
  const int64_t start = w.loop.NowUs() - t0;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(11000);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 80000, 1, -1), Silence(16)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back() - start, 10'002'000);
}

TEST_F(StreamDx7ClassTest, AWaveShorterThanAChunkEndsAfterItsTailAtAnyTempo) {
  const Wave wave = Ready(10000);  // TailMs = CLng(1250 + 1) = 1251
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().TailMs, 1251);
  w.loop.RunFor(3000);
  EXPECT_EQ(reportUs, (std::vector<int64_t>{0, 1'252'000}));
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 10000), Silence(16)));

  // At tempo 2 the interval is CLng(1251 / 2 + 1) = CLng(626.5) = 626 ms.
  Forget();
  mod().PlayTempoFor = 2.0f;
  const int64_t start = w.loop.NowUs() - t0;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(3000);
  ASSERT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back() - start, 626'000);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 10000), Silence(16)));
  EXPECT_EQ(w.output.Segments().back().rate, 16000);
}

TEST_F(StreamDx7ClassTest, AWaveEndingOnAHalfBoundaryLetsTwoMillisecondsOfHalfOneThrough) {
  const Wave wave = Ready(2 * kChunk);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(9000);
  // At 4 s nothing is left: EndOfData, half 1 keeps chunk 1. At 8 s the timer
  // is armed with TailMs = 1: CLng(1 + 1) = 2 ms of chunk 1 sound again.
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 2 * kChunk), FramesOf(wave, 1, 16)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 8'002'000);
  EXPECT_TRUE(mod().EndOfData);
}

TEST_F(StreamDx7ClassTest, UTurnInTheMiddlePlaysBackFromTheSamePosition) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(5000);
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayDirection, -1);
  EXPECT_EQ(mod().PlayBase, 40000);
  w.loop.RunFor(6000);
  // 40000 down to 8001 fill half 1, the last 8000 frames (1001 ms + 1) half 2.
  EXPECT_EQ(w.output.Samples(),
            Concat(Concat(FramesOf(wave, 1, 40000), FramesOf(wave, 40000, 1, -1)), Silence(16)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 5'000'000 + 5'002'000);
}

TEST_F(StreamDx7ClassTest, PlayAtCurrentPositionStartsThereAndClampsToTheWave) {
  const Wave wave = Ready(80000);
  mod().CurrentPos = 50001;
  ASSERT_TRUE(engine->PlayAtCurrentPosition());
  EXPECT_EQ(mod().PlayBase, 50000);
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 50001, 80000), Silence(16)));
  EXPECT_EQ(reportUs.back(), 3'752'000);

  Forget();
  mod().PlayDirection = -1;
  mod().CurrentPos = 30000;
  ASSERT_TRUE(engine->PlayAtCurrentPosition());
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 30000, 1, -1), Silence(16)));

  // Beyond the end, forward: only the last frame is left; TailMs = CLng(1.125) = 1.
  Forget();
  mod().PlayDirection = 1;
  mod().CurrentPos = 90000;
  ASSERT_TRUE(engine->PlayAtCurrentPosition());
  EXPECT_EQ(mod().PlayProgress, 80001);
  w.loop.RunFor(100);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 80000, 80000), Silence(15)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
}

TEST_F(StreamDx7ClassTest, LoopModeRestartsAndCountsTheLoops) {
  const Wave wave = Ready(16000);  // two seconds: the timer runs 2002 ms
  mod().LoopPlayON = true;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, 2);
  w.loop.RunFor(4100);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing Loop", "Playing Loop", "Playing Loop 1", "Playing Loop",
                                               "Playing Loop 2"}));
  EXPECT_EQ(reportUs, (std::vector<int64_t>{0, 2'002'000, 2'002'000, 4'004'000, 4'004'000}));
  EXPECT_EQ(engine->Loops(), 2);

  ASSERT_TRUE(engine->UTurn());  // 96 ms into the third pass
  EXPECT_EQ(reports.back(), "Playing Loop 2") << "a U-turn keeps the count";
  const std::vector<int16_t> pass = Concat(FramesOf(wave, 1, 16000), Silence(16));
  EXPECT_EQ(w.output.Samples(), Concat(Concat(pass, pass), FramesOf(wave, 1, 96 * 8)));
  EXPECT_TRUE(engine->StopPlay());
  EXPECT_EQ(reports.back(), "Stopped");
  EXPECT_EQ(mod().RunningState, 0);
}

TEST_F(StreamDx7ClassTest, PauseDuringTheFinalChunkReArmsTheFullInterval) {
  const Wave wave = Ready(48000);  // the final chunk is half 2: 2000 ms
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(5000);  // the timer was armed at 4 s for 2002 ms
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, 3);
  EXPECT_EQ(mod().StopTimerMark, 1000) << "milliseconds since the timer was armed";
  const int32_t pausedAt = Position();
  w.loop.RunFor(3000);
  EXPECT_EQ(Position(), pausedAt);
  EXPECT_EQ(w.output.FramesPlayed(), 40000);

  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(3000);
  // The full 2002 ms again from the continue: 7002 ms of sound in all.
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 48000), Silence(8016)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
}

TEST_F(StreamDx7ClassTest, PlayContinueAfterAStopPlaysOnFromWhereItStopped) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(3000);
  EXPECT_TRUE(engine->StopPlay());
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 24000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, 1);
  w.loop.RunFor(8000);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 80000), Silence(16)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 11'002'000);
}

TEST_F(StreamDx7ClassTest, CreateSoundBufferDuringPlaybackStopsAndSaysSo) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(mod().RunningState, 0);
  w.loop.RunFor(12000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped"}));
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 8000));

  Forget();
  ASSERT_TRUE(engine->PlayMe());  // the new buffer plays the wave from its start
  w.loop.RunFor(11000);
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 80000), Silence(16)));
}

TEST_F(StreamDx7ClassTest, TempoChangesTheDeviceRateAndThePositionSpeed) {
  const Wave wave = Ready(80000);
  mod().PlayTempoFor = 2.0f;
  mod().PlayTempoRev = 0.5f;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().PlayFriq, 16000);
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 16000);
  w.loop.RunFor(5000);
  // Notifications every 2 s; the final chunk arms CLng(2001 / 2 + 1) = 1002 ms at 4 s.
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 80000), Silence(32)));
  EXPECT_EQ(reportUs.back(), 5'002'000);
  ASSERT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, 16000);

  // Reverse takes PlayTempoRev, also across a U-turn.
  Forget();
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(500);
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(mod().PlayFriq, 4000);
  EXPECT_EQ(Position(), 8001) << "nothing played yet in reverse: one past the next frame";
  w.loop.RunFor(1000);
  EXPECT_EQ(Position(), 4001);
  ASSERT_EQ(w.output.Segments().size(), 2u);
  EXPECT_EQ(w.output.Segments()[1].rate, 4000);
  EXPECT_EQ(w.output.Segments()[1].samples, FramesOf(wave, 8000, 4001, -1));
}

TEST_F(StreamDx7ClassTest, ThePositionInReverseCountsDownAcrossBufferWraps) {
  Ready(80000);
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  std::vector<int32_t> seen;
  for (int i = 0; i < 19; ++i) {  // the host asks every half second
    w.loop.RunFor(500);
    seen.push_back(Position());
  }
  std::vector<int32_t> expected;
  for (int i = 1; i <= 19; ++i) expected.push_back(80000 - 4000 * i + 1);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(engine->Wraps(), 1);
}

TEST_F(StreamDx7ClassTest, ASecondRefillNotificationDuringARefillIsDropped) {
  // The second half of the wave is a block that cannot be read: each refill
  // that reaches it shows a message box, and while it is up another
  // notification arrives.
  const Wave wave = Ready(80000, 2);
  const int32_t freeBlock = w.ctx.Blocks.BlockCount;
  ASSERT_EQ(w.ctx.Blocks.Blocks(freeBlock).StartPos, 40001);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = BlockFree;
  int nested = 0;
  w.box.SetSink([&](const std::string&) {
    if (nested > 0) return;
    ++nested;
    engine->DxEventFrm1_DxEventForward(0);
    engine->DxEventFrm0_DxEventForward(0);
    --nested;
  });
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(11000);
  EXPECT_EQ(w.box.Shown().size(), 2u) << "the refills of half 2 and of half 1 reached the block";
  EXPECT_EQ(w.output.Samples(), Concat(FramesOf(wave, 1, 40000), Silence(40000 + 16)));
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = BlockOrg;  // the buffer releases it as it came
}

TEST_F(StreamDx7ClassTest, ReleasingTheEngineStopsTheSoundAndSaysStopped) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1500);
  engine.reset();
  w.loop.RunFor(10000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Stopped"}));
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 12000));
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled());
}

class StreamDx7WithoutDeviceTest : public StreamDx7ClassTest {
 protected:
  StreamDx7WithoutDeviceTest() : StreamDx7ClassTest(platform::AudioOffer{true, false, true}) {}
};

TEST_F(StreamDx7WithoutDeviceTest, PutONDx7DsIsRefusedAndNothingPlays) {
  EXPECT_FALSE(Attach());
  EXPECT_EQ(reports, (std::vector<std::string>{"Stopped"})) << "the release inside the refusal";
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_FALSE(engine->PlayMe());
  EXPECT_THROW(engine->PlayContinue(), platform::PlayError);
  EXPECT_EQ(reports, (std::vector<std::string>{"Stopped", "Play Buffer - Failed", "Play Failed"}));

  w.audio.SetOffer({});
  w.output.SetAvailable(false);
  EXPECT_FALSE(Attach()) << "no output is no device either";
  w.output.SetAvailable(true);
  EXPECT_TRUE(Attach());
}

// Ten minutes of stereo at 44100: 150 full chunks, so the wave ends on a half
// boundary and the 2 ms stop lets the first 88 frames of half 1 (chunk 149)
// through after it.
TEST_F(StreamDx7ClassTest, TenMinutesOfStereoPlayToTheEndFrameExact) {
  const int32_t rate = 44100, nos = 600 * rate, chunk = 4 * rate;
  auto left = [](int64_t i) { return static_cast<int16_t>((i * 31) % 65536 - 32768); };
  auto right = [](int64_t i) { return static_cast<int16_t>(32767 - (i * 17) % 65536); };
  ASSERT_TRUE(Attach());
  const std::string name = w.tmp.File("long.raw");
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
  auto ingest = [&](int32_t filePos) {
    const platform::VbArray<int32_t> host = HostList().Org(name, nos, 1, filePos, 2, 16).Build();
    platform::VbArray<int32_t> idx;
    w.ctx.Blocks.BlockListIngest(host, idx);
    auto buff = std::make_unique<BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
    buff->BuffBlocksPutFresh(idx);
    return buff;
  };
  mod().ChanBuffL = ingest(1);
  mod().ChanBuffR = ingest(3);
  mod().FmtBits = 16;
  mod().FmtChannal = 2;
  mod().FmtFriq = rate;
  mod().WaveNos = nos;
  mod().PlayDirection = 1;
  ASSERT_TRUE(engine->CreateSoundBuffer());
  mod().ChanBuffL->SetQuickBufferLength(mod().ChunkSamples);
  mod().ChanBuffR->SetQuickBufferLength(mod().ChunkSamples);

  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(601'000);
  EXPECT_EQ(reports, (std::vector<std::string>{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 600'002'000);
  ASSERT_EQ(w.output.FramesPlayed(), int64_t{nos} + 88);
  int64_t frame = 0, mismatches = 0;
  for (const auto& seg : w.output.Segments()) {
    for (size_t k = 0; k + 1 < seg.samples.size(); k += 2, ++frame) {
      const int64_t src = frame < nos ? frame : int64_t{148} * chunk + (frame - nos);
      if (seg.samples[k] != left(src) || seg.samples[k + 1] != right(src)) ++mismatches;
    }
  }
  EXPECT_EQ(frame, int64_t{nos} + 88);
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
