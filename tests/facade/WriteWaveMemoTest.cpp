// The wave hand-over against scripted engines: message sequences, what each
// refusal leaves in place, and the channel buffers it builds.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "facade/PlayDllClass.h"
#include "tests/facade/FakeEngines.h"
#include "tests/support/TestWorld.h"

using testing_support::FakeScript;
using testing_support::HostList;
using testing_support::SimWorld;
using Msg = std::pair<std::string, std::string>;
using ::testing::ElementsAre;

namespace {

class WriteWaveMemoTest : public ::testing::Test {
 protected:
  WriteWaveMemoTest() : obj(world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)) {
    obj.ConnectMsgBoxOb([this](const std::string& m, const std::string& t) { msgs.push_back({m, t}); });
    org = world.tmp.File("wave.raw");
    std::vector<int16_t> s(1000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i * 7 - 3000);
    testing_support::WriteSamples(org, s);
  }
  void Attach() {
    int32_t hwnd = 1;
    obj.DxObj(hwnd);
  }
  void Hand(int32_t bits, int32_t chans, int32_t friq, int32_t nos, const platform::VbArray<int32_t>& l,
            const platform::VbArray<int32_t>& r) {
    obj.WriteWaveMemo(bits, chans, friq, nos, l, r);
  }
  platform::VbArray<int32_t> MonoList(int32_t len = 1000) const { return HostList().Org(org, len, 1, 1, 1, 16).Build(); }
  PlayDllMod& mod() { return world.ctx.Mod; }

  SimWorld world;
  FakeScript script;
  std::vector<Msg> msgs;  // outlives obj, whose release still reports
  PlayDllClass obj;
  std::string org;
  platform::VbArray<int32_t> none;
};

TEST_F(WriteWaveMemoTest, MonoWaveIsStoredAndBufferedOnlyWithAnEngine) {
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

TEST_F(WriteWaveMemoTest, RefusalsLeaveThePreviousWaveAndEngineAlone) {
  Attach();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  BlockCarrBuffClass* before = mod().ChanBuffL.get();
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

TEST_F(WriteWaveMemoTest, EngineRefusingOrFailingInItsBufferKeepsTheStoredWave) {
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

TEST_F(WriteWaveMemoTest, ReleaseFilesDropsTheWaveAndLetsGoOfItsFiles) {
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

TEST_F(WriteWaveMemoTest, StopPlayWithoutAnEngineStillClosesTheOpenFilesOfBothTables) {
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
