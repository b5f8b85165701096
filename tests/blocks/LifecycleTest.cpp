// Creating, splitting and releasing blocks, and every refusal of the engine
// with the text it shows. Copies, splits inside a block and writable blocks
// are checked sample for sample by RandomMixTest.

#include "tests/blocks/BlocksFixture.h"

namespace {

TEST_F(BlocksTest, RefusalsShowTheirTextsAndMakeNoRecord) {
  EXPECT_EQ(eng.NewBlock(4, blocks::BlockFree), 1);
  EXPECT_EQ(eng.NewBlock(4, blocks::BlockMemFile), 1);
  EXPECT_EQ(eng.NewBlock(4, blocks::BlockOrg), 1);
  EXPECT_EQ(eng.CopyBlock(1), 1);
  eng.MakeBlockWritable(1);
  eng.WriteBlockToFile(1);
  EXPECT_EQ(Range(1, 1, 2), std::vector<int16_t>(2, 0));
  EXPECT_EQ(Type(1), blocks::BlockFree);
  // The record refused every time is taken by the next block; splits at its borders are refused.
  const int32_t s = eng.NewBlock(50, blocks::BlockSilent);
  EXPECT_EQ(s, 1);
  eng.Blocks(s).StartPos = 100;
  int32_t left = -7, right = -7;
  eng.SplitBlock(s, 100, left, right);
  eng.SplitBlock(s, 150, left, right);
  EXPECT_EQ(std::pair(left, right), std::pair(-7, -7));
  EXPECT_EQ(eng.BlockCount, 1);
  EXPECT_EQ(box.Shown(), (std::vector<std::string>{
                             "Error - can not make free block",
                             "Error - Can not create buffer block in both (memory and file) or in Orgfile",
                             "Error - Can not create buffer block in both (memory and file) or in Orgfile",
                             "Error - free block can not be copied",
                             "Error - Free block can not be copied to buffer",
                             "Error - Block type has a problem in moving to buff",
                             "Error - Free block can not be written to file",
                             "Error - A block can not be read for quick buffer",
                             "Error - Could not brake a block",
                             "Error - Could not brake a block",
                         }));
}

TEST_F(BlocksTest, NewBlockTakesTheLowestFreeRecordAndAFileBlockSplitsWithoutARead) {
  for (int32_t i = 1; i <= 6; ++i) ASSERT_EQ(eng.NewBlock(1, blocks::BlockSilent), i);
  eng.ReleaseBlock(5);
  eng.ReleaseBlock(2);  // a lower record freed after a higher one is still found first
  EXPECT_EQ(eng.NewBlock(1, blocks::BlockSilent), 2);
  EXPECT_EQ(eng.NewBlock(1, blocks::BlockSilent), 5);
  EXPECT_EQ(eng.NewBlock(1, blocks::BlockSilent), 7);

  int32_t left = 0, right = 0;
  eng.SplitBlock(IngestOne({dir + "/absent.raw", 20, blocks::BlockFile, 1, 41}), 11, left, right);
  EXPECT_EQ(eng.FileOpens, 0);
  EXPECT_EQ(Type(right), blocks::BlockFile);
  EXPECT_EQ(eng.Blocks(right).FilePos, 61);
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 3);  // the parts and the whole until it is released
}

TEST_F(BlocksTest, ReleaseOrgFileLoadsItsBlocksAndLoadedOrgfilesAreNotFoundByName) {
  const std::string o1 = WriteSamples("o1.wav", {1, 2}), o2 = WriteSamples("o2.wav", {4, 5, 6});
  const auto idx =
      Ingest({{o1, 2, blocks::BlockOrg}, {o2, 1, blocks::BlockOrg, 1, 1}, {o2, 2, blocks::BlockOrg, 2, 3}});
  eng.ReleaseOrgFile(2);
  EXPECT_EQ(Samples(idx[1]), std::vector<int16_t>{4});
  EXPECT_EQ(Samples(idx[2]), (std::vector<int16_t>{5, 6}));
  EXPECT_EQ(eng.OrgFiles(2).Name, "");
  EXPECT_EQ(eng.OpenOrgSlot, 0);
  // A load leaves its Orgfile's slot named, open and at RefCount 0. A new
  // Orgfile takes the last free slot, whatever names free slots hold, and
  // every free slot's file is closed.
  eng.LoadBlock(idx[0]);
  EXPECT_EQ(eng.Blocks(idx[0]).FileSlot, 0);
  EXPECT_EQ(eng.OrgFiles(1).RefCount, 0);
  EXPECT_EQ(eng.OpenOrgSlot, 1);
  EXPECT_EQ(eng.Blocks(IngestOne({o1, 2, blocks::BlockOrg})).FileSlot, 2);
  EXPECT_EQ(eng.OrgFiles(1).Name, o1);
  EXPECT_EQ(eng.OpenOrgSlot, 0);
  EXPECT_EQ(eng.OpenOrgFileNum, nullptr);
}

}  // namespace
