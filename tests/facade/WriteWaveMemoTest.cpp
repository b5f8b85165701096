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

TEST_F(WriteWaveMemoTest, MonoWaveWithAnEngineIsStoredAndBuffered) {
  Attach();
  msgs.clear();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"}, Msg{"S2", "Done"}));
  EXPECT_EQ(mod().WaveNos, 1000);
  EXPECT_EQ(mod().FmtBits, 16);
  EXPECT_EQ(mod().FmtChannal, 1);
  EXPECT_EQ(mod().FmtFriq, 8000);
  EXPECT_EQ(mod().PlayDirection, 1);
  EXPECT_EQ(mod().PlayProgress, 1);
  EXPECT_EQ(mod().ChanBuffL->WaveINos(), 1000);
  EXPECT_EQ(mod().ChanBuffR->WaveINos(), 0);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 32000);
  EXPECT_EQ(mod().ChanBuffR->QuickBufferLength(), 32000);
  EXPECT_EQ(mod().ChanBuffL->WaveLR(2), -2993);
}

TEST_F(WriteWaveMemoTest, WithoutAnEngineTheWaveIsStoredAfterTwoDriverIsOff) {
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Driver is Off"},
                                Msg{"S2", "Driver is Off"}, Msg{"S2", "Done"}));
  EXPECT_EQ(mod().WaveNos, 1000);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 0);
}

TEST_F(WriteWaveMemoTest, RefusalsLeaveThePreviousWaveInPlace) {
  Attach();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  BlockCarrBuffClass* before = mod().ChanBuffL.get();

  msgs.clear();
  Hand(16, 1, 8000, 0, MonoList(), none);
  Hand(24, 1, 8000, 1000, MonoList(), none);
  Hand(16, 3, 8000, 1000, MonoList(), none);
  platform::VbArray<int32_t> broken = MonoList();
  broken(2) = 0;  // K of entry 1
  Hand(16, 1, 8000, 1000, broken, none);
  ASSERT_EQ(msgs.size(), 12u);
  EXPECT_THAT(std::vector<Msg>(msgs.begin(), msgs.begin() + 9),
              ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"Zero size wave found", "Play wave error"},
                          Msg{"S2", "Sound Buffer Failed"}, Msg{"S2", "Writing to Play Buffer"},
                          Msg{"Format not Known to write wave file", "Play wave error"},
                          Msg{"S2", "Sound Buffer Failed"}, Msg{"S2", "Writing to Play Buffer"},
                          Msg{"Format not Known to write wave file", "Play wave error"},
                          Msg{"S2", "Sound Buffer Failed"}));
  EXPECT_EQ(msgs[9], (Msg{"S2", "Writing to Play Buffer"}));
  EXPECT_THAT(msgs[10].first, ::testing::HasSubstr("BlkInLstL"));
  EXPECT_THAT(msgs[10].first, ::testing::HasSubstr("entry 1"));
  EXPECT_EQ(msgs[10].second, "Play Wave error");
  EXPECT_EQ(msgs[11], (Msg{"S2", "Failed to play"}));

  EXPECT_EQ(mod().ChanBuffL.get(), before);
  EXPECT_EQ(mod().WaveNos, 1000);
  EXPECT_EQ(mod().ChanBuffL->WaveLR(1000), static_cast<int16_t>(999 * 7 - 3000));
}

TEST_F(WriteWaveMemoTest, AListWithoutEntriesIsRefusedBeforeAnythingChanges) {
  Attach();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  BlockCarrBuffClass* before = mod().ChanBuffL.get();
  script.calls.clear();
  msgs.clear();
  platform::VbArray<int32_t> empty(1, 1);  // N = 0: well formed, but no block for the channel
  Hand(16, 2, 8000, 1000, MonoList(), empty);
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0], (Msg{"S2", "Writing to Play Buffer"}));
  EXPECT_EQ(msgs[1], (Msg{"BlkInLstR: element 1 (N) is 0, a channel needs at least one entry", "Play Wave error"}));
  EXPECT_EQ(msgs[2], (Msg{"S2", "Failed to play"}));
  EXPECT_TRUE(script.calls.empty());  // the engine was not even stopped
  EXPECT_EQ(mod().ChanBuffL.get(), before);
  EXPECT_EQ(mod().WaveNos, 1000);
  EXPECT_EQ(mod().FmtChannal, 1);
  // A mono hand-over does not read the right list at all.
  msgs.clear();
  Hand(16, 1, 8000, 1000, MonoList(), empty);
  EXPECT_EQ(msgs.back(), (Msg{"S2", "Done"}));
}

TEST_F(WriteWaveMemoTest, EngineRefusingItsBufferLeavesQuickBufferLengthAlone) {
  Attach();
  script.createOk = false;
  msgs.clear();
  Hand(16, 2, 8000, 1000, MonoList(), MonoList());
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"},
                                Msg{"S2", "Sound Buffer Failed"}));
  EXPECT_EQ(mod().WaveNos, 1000);
  EXPECT_EQ(mod().ChanBuffR->WaveINos(), 1000);
  EXPECT_EQ(mod().ChanBuffL->QuickBufferLength(), 0);
}

TEST_F(WriteWaveMemoTest, ErrorInsideIsReportedWithItsDescription) {
  Attach();
  script.throwOp = "CreateSoundBuffer";
  msgs.clear();
  Hand(16, 1, 8000, 1000, MonoList(), none);
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Writing to Play Buffer"}, Msg{"S2", "Stopped"},
                                Msg{"Dx9 failed in CreateSoundBuffer", "Play Wave error"},
                                Msg{"S2", "Failed to play"}));
  EXPECT_EQ(mod().WaveNos, 1000);  // no rollback
}

TEST_F(WriteWaveMemoTest, ReleaseFilesDropsTheWaveAndLetsGoOfItsFiles) {
  Attach();
  Hand(16, 2, 8000, 1000, MonoList(), MonoList());
  ASSERT_EQ(world.ctx.Blocks.OrgFiles(1).RefCount, 2);
  msgs.clear();
  obj.ReleaseFiles();
  EXPECT_THAT(msgs, ElementsAre(Msg{"S2", "Stopped"}));
  EXPECT_EQ(mod().WaveNos, 0);
  EXPECT_EQ(mod().ChanBuffL->WaveINos(), 0);
  EXPECT_EQ(mod().ChanBuffR->WaveINos(), 0);
  EXPECT_EQ(world.ctx.Blocks.OrgFiles(1).RefCount, 0);
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
  EXPECT_EQ(world.ctx.Blocks.OpenOrgSlot, 0);
  EXPECT_EQ(world.ctx.Blocks.OpenOrgFileNum, nullptr);
  EXPECT_EQ(world.ctx.Blocks.OpenBlkSlot, 0);
  EXPECT_EQ(world.ctx.Blocks.OpenBlkFileNum, nullptr);
}

}  // namespace
