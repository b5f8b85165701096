// The public object against scripted engines: engine selection, the tempo
// clamp, the play commands' message sequences and error handlers, the wave
// hand-over and what each refusal leaves in place. Release and its 300 ms
// are the server tests' business.

#include "facade/PlayDllClass.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/facade/FakeEngines.h"
#include "tests/support/TestWorld.h"

using testing_support::FakeDx9;
using testing_support::FakeScript;
using testing_support::HostList;
using testing_support::SimWorld;
using Msg = std::pair<std::string, std::string>;
using ::testing::ElementsAre;

namespace {

class FacadeTest : public ::testing::Test {
 protected:
  FacadeTest() : obj(world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)) {
    obj.ConnectMsgBoxOb([this](const std::string& m, const std::string& t) { msgs.push_back({m, t}); });
    std::vector<int16_t> s(1000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i * 7 - 3000);
    testing_support::WriteSamples(org, s);
  }
  int32_t Attach(int32_t hwnd = 77) {
    obj.DxObj(hwnd);
    return hwnd;
  }
  void Hand(int32_t bits, int32_t chans, int32_t friq, int32_t nos, const platform::VbArray<int32_t>& l,
            const platform::VbArray<int32_t>& r) {
    obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
  }
  // A mono 16-bit Orgfile of 1000 samples, i * 7 - 3000 for sample i + 1.
  platform::VbArray<int32_t> MonoList(int32_t len = 1000) const { return HostList().Org(org, len, 1, 1, 1, 16).Build(); }
  state::PlayDllMod& mod() { return world.ctx.Mod; }

  SimWorld world;
  FakeScript script;
  std::vector<Msg> msgs;  // outlives obj, whose release still reports
  facade::PlayDllClass obj;
  const std::string org = world.tmp.File("wave.raw");
  platform::VbArray<int32_t> none;
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

TEST_F(FacadeTest, DxObjTakesTheFirstEngineThatAccepts) {
  EXPECT_EQ(Attach(), 1);
  EXPECT_EQ(obj.DriverType(), 3);
  EXPECT_THAT(script.calls, ElementsAre("Dx9:PutONDx9Ds 77"));

  script.calls.clear();
  script.dx9Accepts = false;
  EXPECT_EQ(Attach(5), 1);
  EXPECT_EQ(obj.DriverType(), 1);
  EXPECT_THAT(script.calls, ElementsAre("Dx9:~", "Dx9:PutONDx9Ds 5", "Dx9:~", "Dx7:PutONDx7Ds 5"));

  script.calls.clear();
  script.dx7Accepts = false;
  EXPECT_EQ(Attach(5), 2);
  EXPECT_EQ(obj.DriverType(), 2);
  EXPECT_THAT(script.calls, ElementsAre("Dx7:~", "Dx9:PutONDx9Ds 5", "Dx9:~", "Dx7:PutONDx7Ds 5", "Dx7:~"));
}

TEST_F(FacadeTest, DxObjErrorYieldsMinusOneAndAHandleBelowOneNoEngine) {
  script.dx9Accepts = false;
  script.throwOp = "PutONDx7Ds 8";
  EXPECT_EQ(Attach(8), -1);
  EXPECT_EQ(obj.DriverType(), 0);
  EXPECT_EQ(obj.Engine(), nullptr);
  EXPECT_THAT(script.calls, ElementsAre("Dx9:PutONDx9Ds 8", "Dx9:~", "Dx7:PutONDx7Ds 8", "Dx7:~"));
  script.throwOp.clear();
  script.dx9Accepts = true;
  EXPECT_EQ(Attach(8), 1);  // a later attach works again
  // Without a positive handle the engine goes and none is taken.
  EXPECT_EQ(Attach(0), 0);
  EXPECT_EQ(Attach(-9), -9);
  EXPECT_EQ(obj.DriverType(), 0);
}

TEST_F(FacadeTest, StartCommandsWithoutAWaveOrEngineReportAndChangeNothing) {
  mod().PlayDirection = -1;
  mod().PlayProgress = 33;
  obj.PlayAgain();
  obj.PlayAgainRev();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Play Again - Failed"}, Msg{"Not ready", "Do \"Play New\" first"},
                                Msg{"S2", "Play Again Rev. - Failed"}, Msg{"Not ready", "Do \"Play New\" first"}));
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
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Driver is Off"}, Msg{"S2", "Driver is Off"}, Msg{"S2", "U-Turn Failed"},
                                Msg{"S2", "Driver is Off"}, Msg{"S2", "Play at.. failed"}, Msg{"S2", "Driver is Off"},
                                Msg{"S2", "Play at.. failed"}, Msg{"S2", "Driver is Off"},
                                Msg{"S2", "Driver is Off"}));
  EXPECT_EQ(mod().PlayDirection, -1);  // PlayAtPosRev set it before finding no engine
  EXPECT_EQ(mod().CurrentPos, 5);
}

TEST_F(FacadeTest, ErrorHandlersReportTheirFixedMessages) {
  Attach();
  obj.PlayContinue();  // no wave: the engine is not asked
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Nothing to Continue"}));
  EXPECT_THAT(script.calls, ElementsAre("Dx9:PutONDx9Ds 77"));
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
  EXPECT_THAT(msgs, ElementsAre(Msg{"Stop Play error", "Stop Play error"}, Msg{"S2", "Play Continue error"},
                                Msg{"S2", "Play Pause error"}));
  // Commands without a handler let the error through to the host.
  EXPECT_THROW(obj.PlayAgain(), std::runtime_error);
  EXPECT_THROW(obj.PlayUTurn(), std::runtime_error);
  int32_t pos = 3;
  EXPECT_THROW(obj.PlayAtPos(pos), std::runtime_error);
}

TEST_F(FacadeTest, WriteWaveMemoMonoWaveIsStoredAndBufferedOnlyWithAnEngine) {
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Driver is Off"},
                                Msg{"S2", "Driver is Off"}, Msg{"S2", "Done"}));
  EXPECT_EQ(mod().WaveNos, 1000);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 0);

  Attach();
  msgs.clear();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"}, Msg{"S2", "Done"}));
  EXPECT_EQ(mod().FmtFriq, 8000);
  EXPECT_EQ(mod().PlayDirection, 1);
  EXPECT_EQ(mod().PlayProgress, 1);
  EXPECT_EQ(mod().ChanBuffL->WaveINos(), 1000);
  EXPECT_EQ(mod().ChanBuffR->WaveINos(), 0);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 32000);
  EXPECT_EQ(mod().ChanBuffR->QuickBufferLength(), 32000);
  EXPECT_EQ(mod().ChanBuffL->WaveLR(2), -2993);
}

TEST_F(FacadeTest, WriteWaveMemoRefusalsLeaveThePreviousWaveAndEngineAlone) {
  Attach();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  buffers::BlockCarrBuffClass* before = mod().ChanBuffL.get();
  platform::VbArray<int32_t> broken = MonoList();
  broken(2) = 0;                            // K of entry 1
  platform::VbArray<int32_t> empty(1, 1);  // N = 0: well formed, but no block for the channel
  const std::string badFormat = "Format not Known to write wave file";
  struct Case {
    int32_t bits, chans, nos;
    platform::VbArray<int32_t> left, right;
    Msg error, last;
  };
  const std::vector<Case> cases{
      {16, 1, 0, MonoList(), none, {"Zero size wave found", "Play wave error"}, {"S2", "Sound Buffer Failed"}},
      {24, 1, 1000, MonoList(), none, {badFormat, "Play wave error"}, {"S2", "Sound Buffer Failed"}},
      {16, 3, 1000, MonoList(), none, {badFormat, "Play wave error"}, {"S2", "Sound Buffer Failed"}},
      {16, 1, 1000, broken, none,
       {"BlkInLstL, entry 1: element 1 (K) is 0, at least 1 is needed", "Play Wave error"}, {"S2", "Failed to play"}},
      {16, 2, 1000, MonoList(), empty,
       {"BlkInLstR: element 1 (N) is 0, a channel needs at least one entry", "Play Wave error"},
       {"S2", "Failed to play"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error.first);
    msgs.clear();
    script.calls.clear();
    Hand(c.bits, c.chans, 8000, c.nos, c.left, c.right);
    EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, c.error, c.last));
    EXPECT_TRUE(script.calls.empty());  // the engine was not even stopped
    EXPECT_EQ(mod().ChanBuffL.get(), before);
    EXPECT_EQ(mod().WaveNos, 1000);
    EXPECT_EQ(mod().FmtChannal, 1);
  }
  EXPECT_EQ(mod().ChanBuffL->WaveLR(1000), static_cast<int16_t>(999 * 7 - 3000));
  // A mono hand-over does not read the right list at all.
  Hand(16, 1, 8000, 1000, MonoList(), empty);
  EXPECT_EQ(msgs.back(), (Msg{"S2", "Done"}));
}

TEST_F(FacadeTest, WriteWaveMemoEngineRefusingOrFailingInItsBufferKeepsTheStoredWave) {
  Attach();
  script.createOk = false;
  msgs.clear();
  Hand(16, 2, 8000, 1000, MonoList(), MonoList());
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"},
                                Msg{"S2", "Sound Buffer Failed"}));
  EXPECT_EQ(mod().ChanBuffR->WaveINos(), 1000);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 0);  // left alone

  script.throwOp = "CreateSoundBuffer";
  msgs.clear();
  Hand(16, 1, 8000, 500, MonoList(500), none);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"},
                                Msg{"Dx9 failed in CreateSoundBuffer", "Play Wave error"},
                                Msg{"S2", "Failed to play"}));
  EXPECT_EQ(mod().WaveNos, 500);  // no rollback
}

TEST_F(FacadeTest, WriteWaveMemoReleaseFilesDropsTheWaveAndLetsGoOfItsFiles) {
  Attach();
  Hand(16, 2, 8000, 1000, MonoList(), MonoList());
  ASSERT_EQ(world.ctx.Blocks.OrgFiles(1).RefCount, 2);
  msgs.clear();
  obj.ReleaseFiles();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Stopped"}));
  EXPECT_EQ(mod().WaveNos, 0);
  EXPECT_EQ(mod().ChanBuffR->WaveINos(), 0);
  EXPECT_EQ(world.ctx.Blocks.OrgFiles(1).Name, "");
  EXPECT_EQ(world.ctx.Blocks.OpenOrgSlot, 0);
}

TEST_F(FacadeTest, WriteWaveMemoStopPlayWithoutAnEngineStillClosesTheOpenFilesOfBothTables) {
  // The same samples as an Orgfile block and, behind it, as a block-file block.
  const platform::VbArray<int32_t> list = HostList().Org(org, 500, 1, 1, 1, 16).Blk(org, 500, 501, 1001).Build();
  Hand(16, 1, 8000, 1000, list, none);
  platform::VbArray<int16_t> q(0, 1000);
  mod().ChanBuffL->QuickBuffGet(1, q);
  EXPECT_EQ(q(1000), static_cast<int16_t>(999 * 7 - 3000));
  ASSERT_NE(world.ctx.Blocks.OpenOrgSlot, 0);
  ASSERT_NE(world.ctx.Blocks.OpenBlkSlot, 0);
  msgs.clear();
  obj.StopPlay();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Driver is Off"}));
  EXPECT_EQ(world.ctx.Blocks.OpenOrgFileNum, nullptr);
  EXPECT_EQ(world.ctx.Blocks.OpenBlkFileNum, nullptr);
  EXPECT_EQ(world.ctx.Blocks.OpenOrgSlot + world.ctx.Blocks.OpenBlkSlot, 0);
}

}  // namespace
