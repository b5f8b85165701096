// The public object, first against scripted engines (FacadeTest: engine
// selection, the tempo clamp, the play commands' message sequences and error
// handlers, the wave hand-over and what each refusal leaves in place), then
// driving the real engines in the simulated world (PlaybackTest: what the
// host hears and what it is told when a file fails, for each engine). Release
// and its 300 ms are the server tests' business.

#include "facade/PlayDllClass.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <utility>

#include "facade/RealEngines.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Log.h"
#include "tests/facade/FakeEngines.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TestWorld.h"

using testing_support::FakeScript;
using testing_support::HostList;
using testing_support::SimWorld;
using Texts = std::vector<std::string>;

namespace {

class FacadeTest : public ::testing::Test {
 protected:
  FacadeTest() : obj(world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)) {
    // A status report ("S2") is noted by its title, anything else as "message / title".
    obj.ConnectMsgBoxOb(
        [this](const std::string& m, const std::string& t) { msgs.push_back(m == "S2" ? t : m + " / " + t); });
    std::vector<int16_t> s(1000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i * 7 - 3000);
    testing_support::WriteSamples(org, s);
  }
  int32_t Attach(int32_t hwnd = 77) {
    obj.DxObj(hwnd);
    return hwnd;
  }
  void Hand(int32_t bits, int32_t chans, int32_t friq, int32_t nos, const runtime::VbArray<int32_t>& l,
            const runtime::VbArray<int32_t>& r) {
    obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
  }
  // A mono 16-bit Orgfile of 1000 samples, i * 7 - 3000 for sample i + 1.
  runtime::VbArray<int32_t> MonoList(int32_t len = 1000) const { return HostList().Org(org, len, 1, 1, 1, 16).Build(); }
  state::PlayDllMod& mod() { return world.ctx.Mod; }

  SimWorld world;
  FakeScript script;
  Texts msgs;  // outlives obj, whose release still reports
  facade::PlayDllClass obj;
  const std::string org = world.tmp.File("wave.raw");
  runtime::VbArray<int32_t> none;
};

TEST_F(FacadeTest, TempoIsClampedToRatesBetween100And100000OnceTheRateIsKnown) {
  EXPECT_EQ(mod().PlayTempoFor, 1.0f);  // as constructed
  const float lo = static_cast<float>(100.0 / 44100), hi = static_cast<float>(100000.0 / 44100);
  struct Case {
    int32_t friq;
    bool rev;
    float given, stored;
  };
  for (const Case& c : {Case{0, false, -3.0f, -3.0f},  // no wave yet: stored as given
                        Case{44100, false, 0.5f, 0.5f}, Case{44100, false, 0.001f, lo}, Case{44100, false, 5.0f, hi},
                        Case{44100, true, 0.0f, lo}, Case{44100, true, hi, hi}}) {  // a limit itself stays
    mod().FmtFriq = c.friq;
    c.rev ? obj.SetPlayTempoRev(c.given) : obj.SetPlayTempoFor(c.given);
    EXPECT_EQ(c.rev ? mod().PlayTempoRev : mod().PlayTempoFor, c.stored) << c.given << (c.rev ? " reverse" : "");
  }
}

TEST_F(FacadeTest, DxObjTakesTheFirstEngineThatAcceptsReleasingTheOneBefore) {
  struct Case {
    bool dx9, dx7;
    std::string throwOp;
    int32_t hwnd, answer, driverType;
    Texts calls;
  };
  const std::vector<Case> cases{
      {true, true, "", 77, 1, facade::kDriverDx9, {"Dx9:PutONDx9Ds 77"}},
      {false, true, "", 5, 1, facade::kDriverDx7, {"Dx9:~", "Dx9:PutONDx9Ds 5", "Dx9:~", "Dx7:PutONDx7Ds 5"}},
      {false, false, "", 5, 2, facade::kDriverWaveOut,
       {"Dx7:~", "Dx9:PutONDx9Ds 5", "Dx9:~", "Dx7:PutONDx7Ds 5", "Dx7:~"}},
      // An error yields -1 and no engine; a later attach works again.
      {false, true, "PutONDx7Ds 8", 8, -1, facade::kDriverNone,
       {"WaveOut:~", "Dx9:PutONDx9Ds 8", "Dx9:~", "Dx7:PutONDx7Ds 8", "Dx7:~"}},
      {true, true, "", 8, 1, facade::kDriverDx9, {"Dx9:PutONDx9Ds 8"}},
      // Without a positive handle the engine goes and none is taken.
      {true, true, "", 0, 0, facade::kDriverNone, {"Dx9:~"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hwnd);
    script.calls.clear();
    script.dx9Accepts = c.dx9;
    script.dx7Accepts = c.dx7;
    script.throwOp = c.throwOp;
    EXPECT_EQ(Attach(c.hwnd), c.answer);
    EXPECT_EQ(obj.DriverType(), c.driverType);
    EXPECT_EQ(obj.EngineInUse() == nullptr, c.driverType == facade::kDriverNone);
    EXPECT_EQ(script.calls, c.calls);
  }
}

TEST_F(FacadeTest, StartCommandsWithoutAWaveOrEngineReportAndChangeNothing) {
  mod().PlayDirection = -1;
  mod().PlayProgress = 33;
  obj.PlayAgain();
  obj.PlayAgainRev();
  EXPECT_EQ(msgs, (Texts{"Play Again - Failed", "Not ready / Do \"Play New\" first", "Play Again Rev. - Failed",
                         "Not ready / Do \"Play New\" first"}));
  EXPECT_EQ(mod().PlayDirection, -1);
  EXPECT_EQ(mod().PlayProgress, 33);

  msgs.clear();
  mod().WaveNos = 100;
  obj.PlayAgain();
  int32_t pos = 5;
  obj.PlayUTurn();
  obj.PlayAtPos(pos);
  obj.PlayAtPosRev(pos);
  obj.PlayPause();
  obj.PlayContinue();
  obj.UpdatePlayPosition();
  EXPECT_EQ(msgs, (Texts{"Driver is Off", "Driver is Off", "U-Turn Failed", "Driver is Off", "Play at.. failed",
                         "Driver is Off", "Play at.. failed", "Driver is Off", "Driver is Off"}));
  EXPECT_EQ(mod().PlayDirection, -1);  // PlayAtPosRev set it before finding no engine
  EXPECT_EQ(mod().CurrentPos, 5);
}

TEST_F(FacadeTest, ErrorHandlersReportTheirFixedMessages) {
  Attach();
  obj.PlayContinue();  // no wave: the engine is not asked
  EXPECT_EQ(msgs, Texts{"Nothing to Continue"});
  EXPECT_EQ(script.calls, Texts{"Dx9:PutONDx9Ds 77"});
  msgs.clear();
  mod().WaveNos = 5;
  mod().CurrentPos = 12;
  script.throwIn = true;
  obj.StopPlay();
  obj.PlayContinue();
  obj.PlayPause();
  obj.UpdatePlayPosition();
  EXPECT_EQ(mod().CurrentPos, 0);
  mod().CurrentPos = 12;
  EXPECT_EQ(obj.PlayCurrentPosition(), 0);
  EXPECT_EQ(msgs, (Texts{"Stop Play error / Stop Play error", "Play Continue error", "Play Pause error"}));
  // Commands without a handler let the error through to the host.
  EXPECT_THROW(obj.PlayAgain(), std::runtime_error);
  EXPECT_THROW(obj.PlayUTurn(), std::runtime_error);
  int32_t pos = 3;
  EXPECT_THROW(obj.PlayAtPos(pos), std::runtime_error);
}

// What a stored wave is made of, that it plays, and what a hand-over with an
// engine reports are checked end to end.
TEST_F(FacadeTest, WriteWaveMemoBuffersOnlyWithAnEngineAndRefusalsLeaveThePreviousWaveAlone) {
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_EQ(msgs, (Texts{"Writing to Play Buffer", "Driver is Off", "Driver is Off", "Done"}));
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 0);
  Attach();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 32000);

  buffers::BlockCarrBuffClass* before = mod().ChanBuffL.get();
  runtime::VbArray<int32_t> broken = MonoList();
  broken(2) = 0;                            // K of entry 1
  runtime::VbArray<int32_t> empty(1, 1);  // N = 0: well formed, but no block for the channel
  const std::string badFormat = "Format not Known to write wave file / Play wave error";
  struct Case {
    int32_t bits, chans, nos;
    runtime::VbArray<int32_t> left, right;
    std::string error, last;
  };
  const std::vector<Case> cases{
      {16, 1, 0, MonoList(), none, "Zero size wave found / Play wave error", "Sound Buffer Failed"},
      {24, 1, 1000, MonoList(), none, badFormat, "Sound Buffer Failed"},
      {16, 3, 1000, MonoList(), none, badFormat, "Sound Buffer Failed"},
      {16, 1, 1000, broken, none, "BlkInLstL, entry 1: element 1 (K) is 0, at least 1 is needed / Play Wave error",
       "Failed to play"},
      {16, 2, 1000, MonoList(), empty,
       "BlkInLstR: element 1 (N) is 0, a channel needs at least one entry / Play Wave error", "Failed to play"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    msgs.clear();
    script.calls.clear();
    Hand(c.bits, c.chans, 8000, c.nos, c.left, c.right);
    EXPECT_EQ(msgs, (Texts{"Writing to Play Buffer", c.error, c.last}));
    EXPECT_TRUE(script.calls.empty());  // the engine was not even stopped
    EXPECT_EQ(mod().ChanBuffL.get(), before);
    EXPECT_EQ(mod().WaveNos, 1000);
    EXPECT_EQ(mod().FmtChannal, 1);
  }
  EXPECT_EQ(mod().ChanBuffL->WaveLR(1000), static_cast<int16_t>(999 * 7 - 3000));
  // A mono hand-over does not read the right list at all.
  Hand(16, 1, 8000, 1000, MonoList(), empty);
  EXPECT_EQ(msgs.back(), "Done");
}

// An engine refusing its buffer: PlaybackTest, with a rate no device takes.
TEST_F(FacadeTest, WriteWaveMemoEngineFailingInItsBufferKeepsTheStoredWave) {
  Attach();
  script.throwOp = "CreateSoundBuffer";
  Hand(16, 1, 8000, 500, MonoList(500), none);
  EXPECT_EQ(msgs, (Texts{"Writing to Play Buffer", "Stopped", "Dx9 failed in CreateSoundBuffer / Play Wave error",
                         "Failed to play"}));
  EXPECT_EQ(mod().WaveNos, 500);  // no rollback
}

// That ReleaseFiles lets go of the files is checked with each engine in PlaybackTest.
TEST_F(FacadeTest, StopPlayWithoutAnEngineStillClosesTheOpenFilesOfBothTables) {
  // The same samples as an Orgfile block and, behind it, as a block-file block.
  Hand(16, 1, 8000, 1000, HostList().Org(org, 500, 1, 1, 1, 16).Blk(org, 500, 501, 1001).Build(), none);
  runtime::VbArray<int16_t> q(0, 1000);
  mod().ChanBuffL->QuickBuffGet(1, q);
  EXPECT_EQ(q(1000), static_cast<int16_t>(999 * 7 - 3000));
  ASSERT_NE(world.ctx.Blocks.OpenOrgSlot, 0);
  ASSERT_NE(world.ctx.Blocks.OpenBlkSlot, 0);
  msgs.clear();
  obj.StopPlay();
  EXPECT_EQ(msgs, Texts{"Driver is Off"});
  EXPECT_EQ(world.ctx.Blocks.OpenOrgFileNum, nullptr);
  EXPECT_EQ(world.ctx.Blocks.OpenBlkFileNum, nullptr);
  EXPECT_EQ(world.ctx.Blocks.OpenOrgSlot + world.ctx.Blocks.OpenBlkSlot, 0);
}

struct EngineCase {
  const char* name;
  devices::AudioOffer offer;
  int32_t driverType;
  const char* engineText;  // DxObj's debug line names it
  const char* deviceText;  // the debug line of its device starting a run of two channels at 8000 frames/s
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
  SimWorld world;
  Texts msgs;
  facade::PlayDllClass obj;
  std::string path;
};

// A FIFO in its place is refused by the file layer as a missing file is
// (FilesAndOutputsTest), through the same start.
TEST_P(PlaybackTest, AMissingOrgfileFailsTheStartNamingItAndTheServerPlaysOn) {
  HandOverStereo(20000);
  world.box.Clear();
  std::remove(path.c_str());
  obj.PlayAgain();  // each engine's start catches the read error and says so
  world.loop.RunFor(6000);
  if (GetParam().driverType == facade::kDriverDx9) {
    EXPECT_EQ(msgs, Texts{"Play Failed"});  // the DirectSound 9 engine's own only
  } else {
    EXPECT_EQ(msgs, (Texts{"Play Failed", "Play Failed"}));
  }
  ASSERT_EQ(world.box.Shown().size(), 1u);
  EXPECT_THAT(world.box.Shown()[0], ::testing::HasSubstr("'" + path + "': No such file or directory"));
  EXPECT_EQ(world.output.FramesPlayed(), 0) << "nothing may sound from a start that failed";
  HandOverStereo(8000);
  obj.PlayAgain();
  world.loop.RunFor(2000);
  EXPECT_EQ(msgs, (Texts{"Playing", "Play Done"}));
  const std::vector<int16_t> played = world.output.Samples();  // and what a looping device sounds after
  ASSERT_GE(played.size(), 16000u);
  EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + 16000), Frames(8000));
}

TEST_P(PlaybackTest, ARateNoDeviceTakesFailsTheBufferAndEveryStartBeforeAnythingIsSizedFromIt) {
  // DirectSound takes 100 to 100000 Hz.
  EXPECT_THAT(HandOverStereo(100, 1'000'000), ::testing::Contains("Sound Buffer Failed"));
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
    testing_support::FaultyFileSystem fs;
    os::FileSystemOverride use(fs);
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

TEST_P(PlaybackTest, TheDebugLogNamesTheEngineTheWaveTheDeviceTheRunAndEveryReport) {
  testing_support::CapturedLog log(os::LogLevel::Debug);
  int32_t hwnd = 100;
  obj.DxObj(hwnd);
  HandOverStereo(8000);
  obj.PlayAgain();
  EXPECT_THAT(log.Text(), ::testing::AllOf(
                              ::testing::HasSubstr(std::string("DxObj(100): ") + GetParam().engineText),
                              ::testing::HasSubstr("wave handed over: 8000 samples, 2 channel(s) of 16 bits at 8000"),
                              ::testing::HasSubstr(GetParam().deviceText),
                              ::testing::HasSubstr("run started forward from sample 1 of 8000"),
                              ::testing::HasSubstr("MsgBoxOb(\"S2\", \"Playing\")")));
}

INSTANTIATE_TEST_SUITE_P(
    Engines, PlaybackTest,
    ::testing::Values(EngineCase{"Dx9", {true, true, true}, facade::kDriverDx9, "the DirectSound 9 engine",
                                 "sound service output started: 2 channel(s) at 8000 frames/s"},
                      EngineCase{"Dx7", {false, true, true}, facade::kDriverDx7, "the DirectSound 7 engine",
                                 "DirectSound buffer playing: 2 channel(s) at 8000 frames/s"},
                      EngineCase{"WaveOut", {false, false, true}, facade::kDriverWaveOut, "the waveOut engine",
                                 "waveOut device sounding: 2 channel(s) at 8000 frames/s"}),
                         [](const ::testing::TestParamInfo<EngineCase>& p) { return std::string(p.param.name); });

}  // namespace
