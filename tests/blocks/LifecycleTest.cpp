// Creating, copying, splitting and releasing blocks.

#include "tests/blocks/BlocksFixture.h"

namespace {

TEST_F(BlocksTest, NewBlockRefusesFreeAndFileTypesAndReusesTheLowestFreeRecord) {
  EXPECT_EQ(eng.NewBlock(4, blocks::BlockFree), 1);
  EXPECT_EQ(eng.NewBlock(4, blocks::BlockMemFile), 1);
  EXPECT_EQ(eng.NewBlock(4, blocks::BlockOrg), 1);
  EXPECT_EQ(Type(1), blocks::BlockFree);
  EXPECT_EQ(box.Shown(), (std::vector<std::string>{
                             "Error - can not make free block",
                             "Error - Can not create buffer block in both (memory and file) or in Orgfile",
                             "Error - Can not create buffer block in both (memory and file) or in Orgfile"}));
  EXPECT_EQ(eng.NewBlock(6, blocks::BlockSilent), 1);  // the refused slot is taken by the next block
  EXPECT_EQ(eng.Blocks(1).UseStamp, 0);
  EXPECT_EQ(eng.NewBlock(6, blocks::BlockMem), 2);
  EXPECT_EQ(Samples(2), std::vector<int16_t>(6, 0));
  EXPECT_EQ(eng.Blocks(2).UseStamp, 1);
  EXPECT_EQ(eng.MemoryInUse, 12);

  for (int32_t i = 3; i <= 8; ++i) ASSERT_EQ(eng.NewBlock(1, blocks::BlockSilent), i);
  eng.ReleaseBlock(7);
  eng.ReleaseBlock(3);  // a lower slot freed after a higher one is still found first
  EXPECT_EQ(eng.NewBlock(1, blocks::BlockSilent), 3);
  EXPECT_EQ(eng.NewBlock(1, blocks::BlockSilent), 7);
  EXPECT_EQ(eng.NewBlock(1, blocks::BlockSilent), 9);
  EXPECT_EQ(eng.MemoryInUse, 12);
  // Copies of loaded blocks are checked sample for sample by RandomMixTest.
  box.Clear();
  EXPECT_EQ(Type(eng.CopyBlock(eng.NewBlock(0, blocks::BlockFree))), blocks::BlockFree);
  EXPECT_EQ(box.Shown(),
            (std::vector<std::string>{"Error - can not make free block", "Error - free block can not be copied"}));
}

// Splits inside a block are checked sample for sample by RandomMixTest.
TEST_F(BlocksTest, SplitIsRefusedAtTheBordersAndSplitsAFileBlockWithoutARead) {
  const int32_t s = eng.NewBlock(50, blocks::BlockSilent);
  eng.Blocks(s).StartPos = 100;
  int32_t left = -7, right = -7;
  eng.SplitBlock(s, 100, left, right);
  eng.SplitBlock(s, 150, left, right);
  EXPECT_EQ(box.Shown(), std::vector<std::string>(2, "Error - Could not brake a block"));
  EXPECT_EQ(left, -7);
  EXPECT_EQ(right, -7);
  const int32_t f = IngestOne({dir + "/absent.raw", 20, blocks::BlockFile, 1, 41});
  eng.SplitBlock(f, 11, left, right);
  EXPECT_EQ(eng.FileOpens, 0);
  EXPECT_EQ(Type(right), blocks::BlockFile);
  EXPECT_EQ(eng.Blocks(right).FilePos, 61);
}

TEST_F(BlocksTest, ReleasingClearsOrgSlotsAndBlockFileNamesOnlyWhenUnused) {
  const std::string org = WriteSamples("o.wav", {4, 5, 6});
  const auto idx = Ingest({{org, 1, blocks::BlockOrg, 1, 1}, {org, 2, blocks::BlockOrg, 2, 3},
                           {dir + "/kept.raw", 2, blocks::BlockFile}, {dir + "/gone.raw", 2, blocks::BlockFile}});
  EXPECT_EQ(Range(idx[0], 1, 1), (std::vector<int16_t>{4}));
  EXPECT_EQ(eng.OpenOrgSlot, 1);
  // Forgetting an Orgfile first loads every block still in it.
  eng.ReleaseOrgFile(1);
  EXPECT_EQ(Samples(idx[0]), (std::vector<int16_t>{4}));
  EXPECT_EQ(Samples(idx[1]), (std::vector<int16_t>{5, 6}));
  EXPECT_EQ(eng.OrgFiles(1).Name, "");
  EXPECT_EQ(eng.OpenOrgSlot, 0);

  eng.ReleaseBlock(idx[0]);
  EXPECT_EQ(eng.MemoryInUse, 4);
  EXPECT_EQ(Type(idx[0]), blocks::BlockFree);
  EXPECT_EQ(eng.Blocks(idx[0]).Samples.Count(), 1);
  eng.ReleaseBlock(idx[3]);
  EXPECT_EQ(eng.BlkFiles(2).RefCount, 0);
  EXPECT_EQ(eng.BlkFiles(2).Name, dir + "/gone.raw");  // kept until ReleaseUnusedFiles
  eng.ReleaseUnusedFiles();
  EXPECT_EQ(eng.BlkFiles(1).Name, dir + "/kept.raw");
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 1);
  EXPECT_EQ(eng.BlkFiles(2).Name, "");

  // The last block of an Orgfile clears its slot.
  const int32_t o = IngestOne({org, 3, blocks::BlockOrg});
  ASSERT_EQ(eng.OrgFiles(1).Name, org);
  eng.ReleaseBlock(o);
  EXPECT_EQ(eng.OrgFiles(1).Name, "");
}

}  // namespace
