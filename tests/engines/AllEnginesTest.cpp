// The three engines, each driven directly on the simulated world: waves of
// known samples are written as Orgfiles and handed over through the real
// block chain (ingest, channel buffers, CreateSoundBuffer), and every frame
// the virtual output played is compared with the wave. First what they do
// alike (AllEnginesTest, over the three), then what each does alone (a suite
// per engine). They differ only in what sounds after a run's last frame:
// waveOut nothing ("Play Done" 80 to 120 ms later); DirectSound 7 stops
// CLng(TailMs / tempo + 1) ms after the final chunk began, so 1-2 ms of the
// other half sound too; DirectSound 9 plays silence up to the end mark
// (100-ms steps).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "buffers/BlockCarrBuffClass.h"
#include "engines/PlayApiClass.h"
#include "engines/StreamDx7Class.h"
#include "engines/StreamDx9Class.h"
#include "platform/os/Errors.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TestWorld.h"

namespace {

using namespace testing_support;
using Reports = std::vector<std::string>;

// A wave as the output must play it: per channel, position 1 first, 16 bits.
struct Wave {
  int32_t channels = 1;
  std::vector<int16_t> L, R;
  int32_t Nos() const { return static_cast<int32_t>(L.size()); }
};

// A mono wave of formula samples; `salt` tells waves apart.
Wave MonoWave(int32_t nos, int64_t salt = 1) {
  Wave wave;
  for (int64_t i = 0; i < nos; ++i) wave.L.push_back(static_cast<int16_t>((i * 7919 + salt * 104729) % 65536 - 32768));
  return wave;
}

// Interleaved frames of positions from..to (1-based), stepping by dir (1 or -1).
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

// Base of the engine fixtures: the simulated world, tempo 1.0 both ways, a
// 4 MiB memory limit, and the reports of every engine it listens to. The
// derived fixture declares its engine after this base, so the engine is
// released first (its release still reports here).
class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() {
    mod().MemorySizeToUse = 1 << 22;
    mod().PlayTempoFor = 1.0f;
    mod().PlayTempoRev = 1.0f;
  }

  state::PlayDllMod& mod() { return w.ctx.Mod; }

  // Records the engine's reports (Msg must be "S2") with their loop time since t0.
  void Listen(engines::EngineContract& engine) {
    engine.ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
      EXPECT_EQ(Msg, "S2");
      reports.push_back(Ttl);
      reportUs.push_back(w.loop.NowUs() - t0);
    });
  }

  // Hands a 16-bit wave over as the facade does: the lists ingested into both
  // channel buffers (the right one empty without a list), the format,
  // PlayDirection 1 and PlayProgress 1, CreateSoundBuffer and, when that
  // succeeded, a window of ChunkSamples on both buffers. Returns
  // CreateSoundBuffer's result.
  bool HandOver(engines::EngineContract& engine, int32_t channels, int32_t rate, int32_t nos, const HostList& left,
                const HostList* right = nullptr) {
    auto ingest = [&](const HostList* list) {
      auto buff = std::make_unique<buffers::BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
      if (list == nullptr) return buff;
      runtime::VbArray<int32_t> idx;
      w.ctx.Blocks.BlockListIngest(list->Build(), idx);
      buff->BuffBlocksPutFresh(idx);
      return buff;
    };
    mod().ChanBuffL = ingest(&left);
    mod().ChanBuffR = ingest(right);
    mod().FmtBits = 16;
    mod().FmtChannal = channels;
    mod().FmtFriq = rate;
    mod().WaveNos = nos;
    mod().PlayDirection = 1;
    mod().PlayProgress = 1;
    if (!engine.CreateSoundBuffer()) return false;
    mod().ChanBuffL->SetQuickBufferLength(mod().ChunkSamples);
    mod().ChanBuffR->SetQuickBufferLength(mod().ChunkSamples);
    return true;
  }

  // Writes a mono wave as an Orgfile of two entries (a block each) and hands it over.
  bool Load(engines::EngineContract& engine, const Wave& wave, int32_t rate) {
    const std::string name = w.tmp.File("wave.wav");
    WriteSamples(name, wave.L);
    const int32_t half = wave.Nos() / 2;
    HostList list;
    list.Org(name, half, 1, 1, 1, 16).Org(name, wave.Nos() - half, half + 1, 1 + 2 * half, 1, 16);
    return HandOver(engine, 1, rate, wave.Nos(), list);
  }

  // Hands over a mono wave at 8000 frames/s whose first `head` frames come
  // from one file and the `tail` frames after them from another, and starts
  // it; the second file goes away once the run has begun. Returns the head.
  Wave StartWithAVanishingTail(engines::EngineContract& engine, int32_t head, int32_t tail) {
    const Wave wave = MonoWave(head, 3);
    const std::string nameA = w.tmp.File("a.wav"), nameB = w.tmp.File("b.wav");
    WriteSamples(nameA, wave.L);
    WriteSamples(nameB, MonoWave(tail, 4).L);
    EXPECT_TRUE(HandOver(engine, 1, 8000, head + tail,
                         HostList().Org(nameA, head, 1, 1, 1, 16).Org(nameB, tail, head + 1, 1, 1, 16)));
    EXPECT_TRUE(engine.PlayMe());
    std::filesystem::remove(nameB);
    return wave;
  }

  int32_t PositionOf(engines::EngineContract& engine) {
    engine.UpdatePlayPosition();
    return mod().CurrentPos;
  }

  // Forgets what was played and reported so far.
  void Forget() {
    w.output.Clear();
    reports.clear();
    reportUs.clear();
  }

  SimWorld w;
  int64_t t0 = 0;
  std::vector<std::string> reports;
  std::vector<int64_t> reportUs;  // since t0
};

enum class EngineKind { WaveOut, Dx7, Dx9 };
const char* const kEngineNames[] = {"WaveOut", "DirectSound7", "DirectSound9"};

class AllEnginesTest : public EngineFixture, public ::testing::WithParamInterface<EngineKind> {
 protected:
  AllEnginesTest() {
    int32_t hwnd = 77;
    if (GetParam() == EngineKind::WaveOut) {
      engine = std::make_unique<engines::PlayApiClass>(w.ctx);
    } else if (GetParam() == EngineKind::Dx7) {
      auto dx7 = std::make_unique<engines::StreamDx7Class>(w.ctx);
      EXPECT_TRUE(dx7->PutONDx7Ds(hwnd));
      engine = std::move(dx7);
    } else {
      auto dx9 = std::make_unique<engines::StreamDx9Class>(w.ctx);
      EXPECT_TRUE(dx9->PutONDx9Ds(hwnd));
      engine = std::move(dx9);
    }
    Listen(*engine);
  }

  // The value for the engine under test.
  template <typename T>
  T ByEngine(T waveOut, T dx7, T dx9) const {
    return GetParam() == EngineKind::WaveOut ? waveOut : GetParam() == EngineKind::Dx7 ? dx7 : dx9;
  }
  std::vector<int16_t> Tail(size_t dx7, size_t dx9) const { return Silence(ByEngine<size_t>(0, dx7, dx9)); }

  // Runs the present run to its end: exactly `expected` played, then "Play
  // Done" when the output stopped (waveOut: 80 to 120 ms after its last
  // frame), and the engine is idle.
  void PlayOut(const std::vector<int16_t>& expected, int64_t runMs) {
    w.loop.RunFor(runMs);
    EXPECT_EQ(w.output.Samples(), expected);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "Play Done");
    const int64_t gap = reportUs.back() - w.output.LastFrameEndUs();
    EXPECT_GE(gap, ByEngine<int64_t>(80'000, 0, 0));
    EXPECT_LT(gap, ByEngine<int64_t>(120'000, 1000, 1000));
    EXPECT_EQ(mod().RunningState, state::kRunIdle);
  }

  std::unique_ptr<engines::EngineContract> engine;  // goes first: its release still reports
};

INSTANTIATE_TEST_SUITE_P(Engines, AllEnginesTest, ::testing::Values(EngineKind::WaveOut, EngineKind::Dx7, EngineKind::Dx9),
                         [](const auto& p) { return std::string(kEngineNames[static_cast<int>(p.param)]); });

// 8-bit scaling is checked by the chunk builder's tests and by playctl end to end.
TEST_P(AllEnginesTest, PlaysEveryFrameOfMixedBlocksForwardWithAPauseAndReverse) {
  // Mono 16-bit: a block file, silence, and an Orgfile behind a 44-byte
  // header; two full chunks and 6000 frames (750 ms).
  const Wave blk = MonoWave(20000, 5), org = MonoWave(35000, 9);
  Wave mono = blk;
  mono.L.resize(35000, 0);
  mono.L.insert(mono.L.end(), org.L.begin(), org.L.end());
  const std::string blkName = w.tmp.File("blk.raw"), orgName = w.tmp.File("org.wav");
  WriteSamples(blkName, blk.L);
  WriteSamples(orgName, Concat({Silence(22), org.L}));
  ASSERT_TRUE(HandOver(*engine, 1, 8000, 70000,
                       HostList().Blk(blkName, 20000, 1, 1).Silent(15000, 20001)
                           .Org(orgName, 35000, 35001, 45, 1, 16)));
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, state::kRunPlaying);
  w.loop.RunFor(1000);
  EXPECT_EQ(PositionOf(*engine), 8000);
  // A pause holds the sound; continuing goes on without a report.
  engine->PlayPause();
  EXPECT_EQ(mod().RunningState, state::kRunPaused);
  w.loop.RunFor(5000);
  EXPECT_EQ(w.output.FramesPlayed(), 8000);
  EXPECT_EQ(PositionOf(*engine), 8000);
  engine->PlayContinue();
  EXPECT_EQ(mod().RunningState, state::kRunPlaying);
  PlayOut(Concat({FramesOf(mono, 1, 70000), Tail(16, 400)}), 9'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));

  Forget();
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(4500);
  EXPECT_EQ(PositionOf(*engine), 70000 - 36000 + 1);
  w.loop.RunFor(4000);  // the device's play cursor has wrapped at 8 s
  EXPECT_EQ(PositionOf(*engine), 70000 - 68000 + 1);
  PlayOut(Concat({FramesOf(mono, 70000, 1, -1), Tail(16, 400)}), 1'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
}

TEST_P(AllEnginesTest, PlaysFromAPositionInEitherDirectionClampedToTheWave) {
  const Wave wave = MonoWave(70000);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  struct Case {
    int32_t dir, pos;
    std::vector<int16_t> frames;
    size_t tailDx7, tailDx9;  // zeros after the frames
  };
  const std::vector<Case> cases = {
      {1, 50000, FramesOf(wave, 50000, 70000), 15, 799},    // 20001 frames
      {-1, 50000, FramesOf(wave, 50000, 1, -1), 16, 400},   // 50000 frames
      {1, 100000, FramesOf(wave, 70000, 70000), 15, 799},   // clamped: only the last frame
      {-1, 100000, FramesOf(wave, 70000, 1, -1), 16, 400},  // clamped: the whole wave backwards
      {-1, 1, FramesOf(wave, 1, 1), 15, 799},               // one frame
      {1, -5, FramesOf(wave, 1, 70000), 16, 400},           // clamped: the whole wave
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("direction " + std::to_string(c.dir) + " position " + std::to_string(c.pos));
    Forget();
    mod().PlayDirection = c.dir;
    mod().CurrentPos = c.pos;
    ASSERT_TRUE(engine->PlayAtCurrentPosition());
    PlayOut(Concat({c.frames, Tail(c.tailDx7, c.tailDx9)}), 10'000);
    EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  }
}

TEST_P(AllEnginesTest, LoopModeRepeatsTheWaveCountsTheLoopsAndTurnsRoundUntilStopped) {
  const Wave wave = MonoWave(16000);  // two seconds: TailMs 2001
  ASSERT_TRUE(Load(*engine, wave, 8000));
  mod().LoopPlayON = true;
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_EQ(mod().RunningState, state::kRunPlayingLoop);
  w.loop.RunFor(4300);
  EXPECT_EQ(reports, (Reports{"Playing Loop", "Playing Loop", "Playing Loop 1", "Playing Loop", "Playing Loop 2"}));

  // A U-turn carries the count on; up to it sounded two passes and the start
  // of a third, and the play goes back from where it is until stopped.
  ASSERT_TRUE(engine->UTurn());
  EXPECT_EQ(reports.back(), "Playing Loop 2");
  const std::vector<int16_t> pass = Concat({FramesOf(wave, 1, 16000), Tail(16, 800)});
  const std::vector<int16_t> played = w.output.Samples();
  ASSERT_GE(played.size(), 2 * pass.size() + 800);
  const int32_t turn = static_cast<int32_t>(played.size() - 2 * pass.size());
  EXPECT_EQ(played, Concat({pass, pass, FramesOf(wave, 1, turn)}));
  w.loop.RunFor(100);
  ASSERT_TRUE(engine->StopPlay());
  EXPECT_EQ(w.output.Samples(), Concat({played, FramesOf(wave, turn, turn - 799, -1)}));
  EXPECT_EQ(mod().RunningState, state::kRunIdle);

  // Stopped, nothing more sounds and nothing more is reported.
  const int64_t frames = w.output.FramesPlayed();
  w.loop.RunFor(3000);
  EXPECT_EQ(w.output.FramesPlayed(), frames);
  EXPECT_EQ(reports.size(), 7u);
  EXPECT_EQ(reports.back(), "Stopped");
}

TEST_P(AllEnginesTest, TempoSetsTheDeviceRateOnDirectSoundAndWaveOutIgnoresIt) {
  // PlayTempoFor 2: the same frames in half the time.
  mod().PlayTempoFor = 2.0f;
  const Wave wave = MonoWave(70000);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  EXPECT_EQ(PositionOf(*engine), ByEngine(8000, 16000, 16000));
  PlayOut(Concat({FramesOf(wave, 1, 70000), Tail(16, 400)}), 9'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  ASSERT_EQ(w.output.Segments().size(), 1u);
  EXPECT_EQ(w.output.Segments()[0].rate, ByEngine(8000, 16000, 16000));
  EXPECT_EQ(w.output.LastFrameEndUs(), ByEngine<int64_t>(8'750'000, 4'376'000, 4'400'000));

  // Reverse takes PlayTempoRev.
  Forget();
  mod().PlayTempoRev = 0.5f;
  mod().PlayDirection = -1;
  ASSERT_TRUE(engine->CreateSoundBuffer());
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  EXPECT_EQ(PositionOf(*engine), 70000 - ByEngine(8000, 4000, 4000) + 1);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 70000, 70001 - ByEngine(8000, 4000, 4000), -1));
  EXPECT_EQ(w.output.Segments()[0].rate, ByEngine(8000, 4000, 4000));
}

// Stereo at 44100 (44.1 frames a millisecond), four whole chunks read in
// place from one Orgfile: the run ends on a half boundary.
TEST_P(AllEnginesTest, StereoAt44100EndingOnAHalfBoundaryPlaysFrameExactAndABufferThatOverflowsIsRefused) {
  const int32_t nos = 4 * 176400;
  Wave wave = MonoWave(nos, 3);
  wave.channels = 2;
  wave.R = MonoWave(nos, 4).L;
  const std::string name = w.tmp.File("stereo.wav");
  WriteSamples(name, FramesOf(wave, 1, nos));
  const HostList right = HostList().Org(name, nos, 1, 3, 2, 16);
  ASSERT_TRUE(HandOver(*engine, 2, 44100, nos, HostList().Org(name, nos, 1, 1, 2, 16), &right));
  ASSERT_TRUE(engine->PlayMe());
  // DirectSound 7's 2 ms stop lets the first 88 frames of half 1 (chunk 3) through.
  const std::vector<int16_t> trailing = ByEngine(std::vector<int16_t>{}, FramesOf(wave, 352801, 352888), {});
  PlayOut(Concat({FramesOf(wave, 1, nos), trailing}), 17'000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));

  // A rate whose four seconds fit 32 bits but whose buffer's bytes do not: the
  // buffer is refused and the geometry that overflows is not stored.
  const int32_t chunkSamples = mod().ChunkSamples, bufferBytes = mod().BufferBytes;
  mod().FmtFriq = 300'000'000;
  EXPECT_FALSE(engine->CreateSoundBuffer());
  EXPECT_EQ(reports.back(), "Play Buffer - Failed");
  EXPECT_EQ(mod().ChunkSamples, chunkSamples);
  EXPECT_EQ(mod().BufferBytes, bufferBytes);
}

// The fixture of a suite of one engine: that engine, listened to.
template <typename E>
class OneEngineTest : public EngineFixture {
 protected:
  OneEngineTest() { Listen(*engine); }

  std::unique_ptr<E> engine = std::make_unique<E>(w.ctx);  // goes first: its release still reports
};

// The waveOut engine alone: its device polls and the stop timer they arm.
using PlayApiClassTest = OneEngineTest<engines::PlayApiClass>;

TEST_F(PlayApiClassTest, ThePollsArmTheStopTimerAndANewStartCancelsIt) {
  // 1234 frames sound by 154.25 ms; the polls at 160 and 200 ms find the
  // device standing at the end, and the second arms the 40 ms stop timer.
  const Wave wave = MonoWave(1234);
  ASSERT_TRUE(Load(*engine, wave, 8000));
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(199);
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled());
  w.loop.RunFor(11);
  ASSERT_TRUE(w.ctx.Timers.Timer0.Enabled());
  ASSERT_TRUE(engine->PlayMe());
  EXPECT_FALSE(w.ctx.Timers.Timer0.Enabled()) << "the ended run's stop would end the new one";
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 1234), FramesOf(wave, 1, 1234)}));
  EXPECT_EQ(reports, (Reports{"Playing", "Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 450'000);
}

// The DirectSound 7 engine alone: the refill guard, a continue after a stop,
// "Stopped" from a new buffer, a stop mark that must not end a later run, and
// a final chunk whose file went away.
// At 8000 frames per second a chunk is 32000 frames (four seconds) and one
// millisecond is exactly 8 frames.
class StreamDx7ClassTest : public OneEngineTest<engines::StreamDx7Class> {
 protected:
  StreamDx7ClassTest() {
    // The stop timer's mark is a time of day; start the day one second in.
    w.loop.RunFor(1000);
    t0 = w.loop.NowUs();
  }

  // Attaches and hands over a mono wave at 8000 frames/s.
  Wave Ready(int32_t nos) {
    int32_t hwnd = 77;
    EXPECT_TRUE(engine->PutONDx7Ds(hwnd));
    const Wave wave = MonoWave(nos);
    EXPECT_TRUE(Load(*engine, wave, 8000));
    return wave;
  }
};

TEST_F(StreamDx7ClassTest, PlayContinueAfterAStopPlaysOnAndANewBufferStopsTheRun) {
  const Wave wave = Ready(80000);
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(3000);
  EXPECT_TRUE(engine->StopPlay());
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 24000);
  engine->PlayContinue();
  w.loop.RunFor(8000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 80000), Silence(16)}));
  EXPECT_EQ(reports, (Reports{"Playing", "Stopped", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 11'002'000);

  // A new buffer during a run stops it and says so.
  Forget();
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  ASSERT_TRUE(engine->CreateSoundBuffer());
  EXPECT_EQ(mod().RunningState, state::kRunIdle);
  w.loop.RunFor(12000);
  EXPECT_EQ(reports, (Reports{"Playing", "Stopped"}));
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 8000));
}

TEST_F(StreamDx7ClassTest, ASecondRefillNotificationDuringARefillIsDropped) {
  // The second half of the wave is a block that cannot be read: each refill
  // that reaches it shows a message box, and while it is up another
  // notification arrives.
  const Wave wave = Ready(80000);
  const int32_t freeBlock = w.ctx.Blocks.BlockCount;
  ASSERT_EQ(w.ctx.Blocks.Blocks(freeBlock).StartPos, 40001);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = blocks::BlockFree;
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
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 40000), Silence(40000 + 16)}));
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 10'002'000);
  w.ctx.Blocks.Blocks(freeBlock).BlockType = blocks::BlockOrg;  // the buffer releases it as it came
}

TEST_F(StreamDx7ClassTest, APauseInALaterRunIsNotEndedByTheMarkOfAStoppedOne) {
  const Wave wave = Ready(48000);  // the final chunk is half 2: 2000 ms
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(5000);  // the stop timer was armed at 4 s
  ASSERT_TRUE(engine->StopPlay());
  Forget();
  ASSERT_TRUE(engine->PlayMe());
  w.loop.RunFor(1000);
  engine->PlayPause();
  w.loop.RunFor(500);
  engine->PlayContinue();
  w.loop.RunFor(3000);
  EXPECT_EQ(reports, Reports{"Playing"}) << "the new run ended early";
  w.loop.RunFor(3000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 11'502'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 48000), Silence(16)}));
}

TEST_F(StreamDx7ClassTest, AFinalChunkThatCannotBeBuiltEndsTheRunAsAtAHalfBoundary) {
  int32_t hwnd = 77;
  ASSERT_TRUE(engine->PutONDx7Ds(hwnd));
  const Wave wave = StartWithAVanishingTail(*engine, 64000, 8000);
  w.loop.RunFor(11000);
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 8'002'000);
  EXPECT_EQ(w.output.Samples(), Concat({FramesOf(wave, 1, 64000), FramesOf(wave, 1, 16)}));
}

// The DirectSound 9 engine alone: a poll fixed at the hand-over, both halves
// flagged in one poll, a library that cannot be loaded. The sound service
// library (its halves, flags, position and end mark) is checked frame for
// frame through this engine.
class StreamDx9ClassTest : public OneEngineTest<engines::StreamDx9Class> {
 protected:
  StreamDx9ClassTest() {
    int32_t hwnd = 77;
    EXPECT_TRUE(engine->PutONDx9Ds(hwnd));
  }
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
  const std::vector<int16_t> played = w.output.Samples();
  ASSERT_EQ(played.size(), 128000u);
  EXPECT_EQ(std::vector<int16_t>(played.begin() + 96000, played.end()), FramesOf(wave, 32001, 64000));
  EXPECT_EQ(reports, Reports{"Playing"});
}

// A chunk that cannot be built (its file went away) ends the wave after what
// the library already holds; at a start it fails the start.
TEST_F(StreamDx9ClassTest, AChunkThatCannotBeBuiltEndsTheRunAfterWhatWasWritten) {
  const Wave wave = StartWithAVanishingTail(*engine, 32000, 20000);
  w.loop.RunFor(6000);
  EXPECT_EQ(w.output.Samples(), FramesOf(wave, 1, 32000));
  EXPECT_EQ(reports, (Reports{"Playing", "Play Done"}));
  EXPECT_EQ(reportUs.back(), 4'000'000);
  EXPECT_TRUE(engine->PollEnabled());

  Forget();
  mod().PlayDirection = -1;
  EXPECT_FALSE(engine->PlayMe());
  EXPECT_EQ(reports, Reports{"Play Failed"});
  w.loop.RunFor(1000);
  EXPECT_EQ(w.output.FramesPlayed(), 0);
}

// A library that cannot be loaded: the window is taken all the same, and the
// buffer and the start fail. (Not offered, the engine refuses the window: the
// server's --engines test.)
TEST_F(StreamDx9ClassTest, WithoutTheLibraryTheBufferAndTheStartFail) {
  devices::AudioPlatform missing(w.loop, w.output, devices::AudioOffer{}, w.tmp.File("none.so"));
  state::PlayContext noLibrary(w.loop, w.box, missing);
  noLibrary.Mod.FmtChannal = 1;
  noLibrary.Mod.FmtFriq = 8000;
  noLibrary.Mod.PlayDirection = 1;
  noLibrary.Mod.PlayTempoFor = 1.0f;
  auto lonely = std::make_unique<engines::StreamDx9Class>(noLibrary);
  Listen(*lonely);
  int32_t hwnd = 77;
  EXPECT_TRUE(lonely->PutONDx9Ds(hwnd));
  EXPECT_FALSE(lonely->CreateSoundBuffer());
  EXPECT_EQ(noLibrary.Dx9Mod.ServiceHandle, 0);
  EXPECT_FALSE(lonely->PlayMe());
  EXPECT_EQ(reports, (Reports{"Play Buffer - Failed", "Play Failed"}));
  EXPECT_FALSE(lonely->PollEnabled());
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
  devices::AudioPlatform audio(w.loop, busy, devices::AudioOffer{}, testing_support::SoundServiceLibraryPath());
  state::PlayContext ctx(w.loop, w.box, audio);
  auto dx9 = std::make_unique<engines::StreamDx9Class>(ctx);
  Listen(*dx9);
  int32_t hwnd = 77;
  ASSERT_TRUE(dx9->PutONDx9Ds(hwnd));
  testing_support::CapturedLog log;
  ctx.Mod.FmtChannal = 1;
  ctx.Mod.FmtFriq = 8000;
  ctx.Mod.WaveNos = 8000;
  ctx.Mod.PlayDirection = 1;
  ctx.Mod.PlayTempoFor = 1.0f;
  ctx.Mod.ChanBuffL = std::make_unique<buffers::BlockCarrBuffClass>(ctx.Blocks, 0);
  ctx.Mod.ChanBuffR = std::make_unique<buffers::BlockCarrBuffClass>(ctx.Blocks, 0);
  ASSERT_TRUE(dx9->CreateSoundBuffer());
  EXPECT_FALSE(dx9->PlayMe());
  EXPECT_EQ(reports, Reports{"Play Failed"});
  EXPECT_EQ(ctx.Mod.RunningState, state::kRunIdle);
  w.loop.RunFor(1000);
  EXPECT_EQ(busy.played, 0) << "a buffer whose output did not start played on";
  EXPECT_THAT(log.Text(), ::testing::AllOf(::testing::HasSubstr("sound service output, start: the card is busy"),
                                           ::testing::HasSubstr("Service04: the output did not start")));
}

TEST_F(StreamDx9ClassTest, ABufferTheLibraryRefusesFailsAndTheLogSaysWhy) {
  testing_support::CapturedLog log;
  const Wave wave = MonoWave(100);
  EXPECT_FALSE(Load(*engine, wave, 100'001));
  EXPECT_EQ(reports, Reports{"Play Buffer - Failed"});
  EXPECT_THAT(log.Text(), ::testing::HasSubstr("Service02: rate 100001 frames/s is outside 100 to 100000"));
}

}  // namespace
