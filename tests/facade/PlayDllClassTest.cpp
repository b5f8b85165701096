// The public object against scripted engines: engine selection, the tempo
// clamp, report forwarding, the play commands' message sequences and error
// handlers, and destruction.

#include "facade/PlayDllClass.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/facade/FakeEngines.h"
#include "tests/support/TestWorld.h"

using testing_support::FakeDx9;
using testing_support::FakeScript;
using testing_support::SimWorld;
using Msg = std::pair<std::string, std::string>;
using ::testing::ElementsAre;

namespace {

class FacadeTest : public ::testing::Test {
 protected:
  FacadeTest() : obj(world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)) {
    obj.ConnectMsgBoxOb([this](const std::string& m, const std::string& t) { msgs.push_back({m, t}); });
  }
  int32_t Attach(int32_t hwnd = 77) {
    obj.DxObj(hwnd);
    return hwnd;
  }
  PlayDllMod& mod() { return world.ctx.Mod; }

  SimWorld world;
  FakeScript script;
  std::vector<Msg> msgs;  // outlives obj, whose release still reports
  PlayDllClass obj;
};

TEST_F(FacadeTest, TempoIsClampedToRatesBetween100And100000OnceTheRateIsKnown) {
  EXPECT_EQ(mod().PlayTempoFor, 1.0f);  // as constructed
  obj.SetPlayTempoFor(-3.0f);            // no wave yet: stored as given
  EXPECT_EQ(mod().PlayTempoFor, -3.0f);

  mod().FmtFriq = 44100;
  obj.SetPlayTempoFor(0.5f);
  EXPECT_EQ(mod().PlayTempoFor, 0.5f);
  obj.SetPlayTempoFor(0.001f);
  EXPECT_EQ(mod().PlayTempoFor, static_cast<float>(100.0 / 44100));
  obj.SetPlayTempoFor(5.0f);
  EXPECT_EQ(mod().PlayTempoFor, static_cast<float>(100000.0 / 44100));
  obj.SetPlayTempoRev(0.0f);
  EXPECT_EQ(mod().PlayTempoRev, static_cast<float>(100.0 / 44100));
  // Exactly on the limits stays as it is.
  obj.SetPlayTempoRev(static_cast<float>(100000.0 / 44100));
  EXPECT_EQ(mod().PlayTempoRev, static_cast<float>(100000.0 / 44100));
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

TEST_F(FacadeTest, DxObjReleasesTheOldEngineFirstAndWithoutAPositiveHandleKeepsNone) {
  Attach();
  mod().WaveNos = 10;
  obj.PlayAgain();
  EXPECT_EQ(obj.PlayRunningDx7State(), 1);
  script.calls.clear();
  Attach();  // while playing
  EXPECT_EQ(obj.PlayRunningDx7State(), 0);
  EXPECT_EQ(Attach(0), 0);
  EXPECT_EQ(Attach(-9), -9);
  EXPECT_EQ(obj.DriverType(), 0);
  EXPECT_THAT(script.calls, ElementsAre("Dx9:~", "Dx9:PutONDx9Ds 77", "Dx9:~"));
}

TEST_F(FacadeTest, DxObjErrorYieldsMinusOneAndNoEngine) {
  script.dx9Accepts = false;
  script.throwOp = "PutONDx7Ds 8";
  EXPECT_EQ(Attach(8), -1);
  EXPECT_EQ(obj.DriverType(), 0);
  EXPECT_EQ(obj.Engine(), nullptr);
  EXPECT_THAT(script.calls, ElementsAre("Dx9:PutONDx9Ds 8", "Dx9:~", "Dx7:PutONDx7Ds 8", "Dx7:~"));
  script.throwOp.clear();
  script.dx9Accepts = true;
  EXPECT_EQ(Attach(8), 1);  // a later attach works again
}

TEST_F(FacadeTest, EngineReportsReachTheHostUnchangedInOrderAndSynchronously) {
  Attach();
  int32_t stateSeenByHost = -1;
  obj.ConnectMsgBoxOb([&](const std::string& m, const std::string& t) {
    msgs.push_back({m, t});
    stateSeenByHost = mod().RunningState;
  });
  auto* engine = static_cast<FakeDx9*>(obj.Engine());
  mod().RunningState = 2;
  engine->Raise("S2", "Playing Loop 3");
  mod().RunningState = 0;
  engine->Raise("weird", "");
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Playing Loop 3"}, Msg{"weird", ""}));
  EXPECT_EQ(stateSeenByHost, 0);
  obj.ConnectMsgBoxOb(nullptr);  // the sink above dies with this test body
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

TEST_F(FacadeTest, StartFailuresAreReportedAgainExceptByTheDx9Engine) {
  mod().WaveNos = 100;
  script.playOk = false;
  script.reportsOnPlay = {{"S2", "Play Failed"}};
  Attach();  // DirectSound 9: its own report only
  obj.PlayAgain();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Play Failed"}));
  msgs.clear();
  script.dx9Accepts = false;
  Attach();  // DirectSound 7: reported twice
  msgs.clear();
  obj.PlayAgainRev();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Play Failed"}, Msg{"S2", "Play Failed"}));
  EXPECT_EQ(mod().PlayDirection, -1);
  EXPECT_EQ(mod().PlayProgress, 1);

  // The position commands report their own failure once, whatever the engine.
  msgs.clear();
  int32_t pos = 999999;
  obj.PlayAtPos(pos);
  obj.PlayUTurn();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Play at.. failed"}, Msg{"S2", "U-Turn Failed"}));
  EXPECT_EQ(mod().CurrentPos, 999999);
  EXPECT_EQ(obj.PlayCurrentPosition(), 4242);  // DirectSound engines update first
  EXPECT_EQ(script.calls.back(), "Dx7:UpdatePlayPosition");
  // waveOut's position is the last polled value, asked of no engine.
  script.dx9Accepts = script.dx7Accepts = false;
  Attach();
  mod().CurrentPos = 17;
  script.calls.clear();
  EXPECT_EQ(obj.PlayCurrentPosition(), 17);
  EXPECT_TRUE(script.calls.empty());
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

TEST_F(FacadeTest, TerminateReleasesEverythingAndEndsThe300msLater) {
  Attach();
  bool ended = false;
  obj.SetEndOfProcessHook([&] { ended = true; });
  obj.Terminate();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Stopped"}, Msg{"S2", "Driver is Off"}));
  EXPECT_EQ(obj.DriverType(), 0);
  world.loop.RunFor(299);
  EXPECT_FALSE(ended);
  world.loop.RunFor(1);
  EXPECT_TRUE(ended);
  obj.Terminate();  // once only
  EXPECT_EQ(msgs.size(), 2u);
}

}  // namespace
