// The public object against scripted engines: engine selection, the tempo
// clamp, the play commands' message sequences and error handlers, the wave
// hand-over and what each refusal leaves in place. With the real engines:
// PlaybackTest. Release and its 300 ms are the server tests' business.

#include "facade/PlayDllClass.h"

#include <gtest/gtest.h>

#include "tests/facade/FakeEngines.h"
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
  void Hand(int32_t bits, int32_t chans, int32_t nos, const runtime::VbArray<int32_t>& l,
            const runtime::VbArray<int32_t>& r) {
    int32_t friq = 8000;
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

// A command of the object, by name, and what the host is told. A plain
// function: GCC 12 at -O3 takes a std::function destroyed in a list's
// initialisation for uninitialised.
struct Command {
  const char* name;
  void (*run)(facade::PlayDllClass&);
  Texts texts;
};

TEST_F(FacadeTest, TempoIsClampedToRatesBetween100And100000OnceTheRateIsKnown) {
  const float lo = static_cast<float>(100.0 / 44100), hi = static_cast<float>(100000.0 / 44100);
  struct Case {
    int32_t friq;
    bool rev;
    float given, stored;
  };
  for (const Case& c : {Case{0, false, -3.0f, -3.0f},  // no wave yet: stored as given
                        Case{44100, false, 0.001f, lo}, Case{44100, false, 5.0f, hi}, Case{44100, true, 0.0f, lo},
                        Case{44100, true, hi, hi}}) {  // a limit itself stays
    mod().FmtFriq = c.friq;
    c.rev ? obj.SetPlayTempoRev(c.given) : obj.SetPlayTempoFor(c.given);
    EXPECT_EQ(c.rev ? mod().PlayTempoRev : mod().PlayTempoFor, c.stored)
        << c.given << (c.rev ? " reverse" : "") << " at " << c.friq << " Hz";
  }
}

TEST_F(FacadeTest, DxObjTakesTheFirstEngineThatAcceptsReleasingTheOneBefore) {
  struct Case {
    const char* what;
    bool dx9, dx7;
    std::string throwOp;
    int32_t hwnd, answer, driverType;
    Texts calls;
  };
  const std::vector<Case> cases{
      {"DirectSound 9 takes it", true, true, "", 77, 1, facade::kDriverDx9, {"Dx9:PutONDx9Ds 77"}},
      {"DirectSound 7 behind it", false, true, "", 5, 1, facade::kDriverDx7,
       {"Dx9:~", "Dx9:PutONDx9Ds 5", "Dx9:~", "Dx7:PutONDx7Ds 5"}},
      {"waveOut last", false, false, "", 5, 2, facade::kDriverWaveOut,
       {"Dx7:~", "Dx9:PutONDx9Ds 5", "Dx9:~", "Dx7:PutONDx7Ds 5", "Dx7:~"}},
      {"an error: -1 and no engine", false, true, "PutONDx7Ds 8", 8, -1, facade::kDriverNone,
       {"WaveOut:~", "Dx9:PutONDx9Ds 8", "Dx9:~", "Dx7:PutONDx7Ds 8", "Dx7:~"}},
      {"attached again after the error", true, true, "", 8, 1, facade::kDriverDx9, {"Dx9:PutONDx9Ds 8"}},
      {"no positive handle: no engine", true, true, "", 0, 0, facade::kDriverNone, {"Dx9:~"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
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

TEST_F(FacadeTest, CommandsWithoutAnEngineSayDriverIsOffAndTheirFailure) {
  mod().WaveNos = 100;
  const std::vector<Command> cases{
      {"PlayAgain", [](auto& o) { o.PlayAgain(); }, {"Driver is Off"}},
      {"PlayAtPos", [](auto& o) { int32_t pos = 5; o.PlayAtPos(pos); }, {"Driver is Off", "Play at.. failed"}},
      {"PlayAtPosRev", [](auto& o) { int32_t pos = 5; o.PlayAtPosRev(pos); }, {"Driver is Off", "Play at.. failed"}},
      {"PlayPause", [](auto& o) { o.PlayPause(); }, {"Driver is Off"}},
      {"PlayContinue", [](auto& o) { o.PlayContinue(); }, {"Driver is Off"}},
      {"UpdatePlayPosition", [](auto& o) { o.UpdatePlayPosition(); }, {}},
  };
  for (const Command& c : cases) {
    msgs.clear();
    c.run(obj);
    EXPECT_EQ(msgs, c.texts) << c.name;
  }
  EXPECT_EQ(mod().PlayDirection, -1);  // PlayAtPosRev set it before finding no engine
  EXPECT_EQ(mod().CurrentPos, 5);
}

TEST_F(FacadeTest, CommandsWithAnErrorHandlerTurnAnEngineErrorIntoTheirFixedOutcome) {
  Attach();
  mod().WaveNos = 5;
  script.throwIn = true;
  struct Case {  // a Command that also leaves CurrentPos
    const char* name;
    void (*run)(facade::PlayDllClass&);
    Texts texts;
    int32_t currentPos;  // from 12
  };
  const std::vector<Case> cases{
      {"StopPlay", [](auto& o) { o.StopPlay(); }, {"Stop Play error / Stop Play error"}, 12},
      {"PlayContinue", [](auto& o) { o.PlayContinue(); }, {"Play Continue error"}, 12},
      {"PlayPause", [](auto& o) { o.PlayPause(); }, {"Play Pause error"}, 12},
      {"UpdatePlayPosition", [](auto& o) { o.UpdatePlayPosition(); }, {}, 0},
      {"PlayCurrentPosition", [](auto& o) { EXPECT_EQ(o.PlayCurrentPosition(), 0); }, {}, 12},
  };
  for (const Case& c : cases) {
    msgs.clear();
    mod().CurrentPos = 12;
    c.run(obj);
    EXPECT_EQ(msgs, c.texts) << c.name;
    EXPECT_EQ(mod().CurrentPos, c.currentPos) << c.name;
  }
}

// What a stored wave is made of, that it plays, and what a hand-over with an
// engine reports are checked end to end.
TEST_F(FacadeTest, AHandOverWithoutAnEngineStoresTheWaveAndSaysDriverIsOff) {
  Hand(16, 1, 1000, MonoList(), none);
  EXPECT_EQ(msgs, (Texts{"Writing to Play Buffer", "Driver is Off", "Driver is Off", "Done"}));
  EXPECT_EQ(mod().WaveNos, 1000);
}

TEST_F(FacadeTest, RefusedHandOversLeaveThePreviousWaveAndEngineAlone) {
  Attach();
  Hand(16, 1, 1000, MonoList(), none);
  buffers::BlockCarrBuffClass* before = mod().ChanBuffL.get();
  runtime::VbArray<int32_t> broken = MonoList();
  broken(2) = 0;                          // K of entry 1
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
    Hand(c.bits, c.chans, c.nos, c.left, c.right);
    EXPECT_EQ(msgs, (Texts{"Writing to Play Buffer", c.error, c.last}));
    EXPECT_TRUE(script.calls.empty());  // the engine was not even stopped
    EXPECT_EQ(mod().ChanBuffL.get(), before);
    EXPECT_EQ(mod().WaveNos, 1000);
    EXPECT_EQ(mod().FmtChannal, 1);
  }
  EXPECT_EQ(mod().ChanBuffL->WaveLR(1000), static_cast<int16_t>(999 * 7 - 3000));
}

}  // namespace
