// Creating, copying, splitting and releasing blocks.

#include "tests/blocks/BlocksFixture.h"

namespace {

TEST_F(BlocksTest, NewBlockRefusalsLeaveTheSlotFreeForTheNextBlock) {
  EXPECT_EQ(eng.NewBlock(4, BlockFree), 1);
  EXPECT_EQ(eng.NewBlock(4, BlockMemFile), 1);
  EXPECT_EQ(eng.NewBlock(4, BlockOrg), 1);
  EXPECT_EQ(Type(1), BlockFree);
  EXPECT_EQ(box.Shown(), (std::vector<std::string>{
                             "Error - can not make free block",
                             "Error - Can not create buffer block in both (memory and file) or in Orgfile",
                             "Error - Can not create buffer block in both (memory and file) or in Orgfile"}));
  const int32_t silent = eng.NewBlock(6, BlockSilent);
  EXPECT_EQ(silent, 1);
  EXPECT_EQ(eng.Blocks(silent).UseStamp, 0);
  EXPECT_EQ(eng.Blocks(silent).Samples.Count(), 1);
  const int32_t mem = eng.NewBlock(6, BlockMem);
  EXPECT_EQ(mem, 2);
  EXPECT_EQ(Samples(mem), std::vector<int16_t>(6, 0));
  EXPECT_EQ(eng.Blocks(mem).UseStamp, 1);
  EXPECT_EQ(eng.MemoryInUse, 12);
  EXPECT_EQ(eng.BlockCount, 2);
}

TEST_F(BlocksTest, ReleasedRecordsAreReusedLowestSlotFirstWhateverTheReleaseOrder) {
  for (int32_t i = 1; i <= 8; ++i) ASSERT_EQ(eng.NewBlock(1, BlockSilent), i);
  eng.ReleaseBlock(6);
  EXPECT_EQ(eng.NewBlock(1, BlockSilent), 6);
  eng.ReleaseBlock(7);
  eng.ReleaseBlock(3);  // a lower slot freed after a higher one is still found first
  EXPECT_EQ(eng.NewBlock(1, BlockSilent), 3);
  EXPECT_EQ(eng.NewBlock(1, BlockSilent), 7);
  EXPECT_EQ(eng.NewBlock(1, BlockSilent), 9);
  EXPECT_EQ(eng.BlockCount, 9);
}

TEST_F(BlocksTest, CopiesShareFileSlotsAndCountTheirMemory) {
  const std::string raw = WriteSamples("b.raw", {1, 2, 3, 4});
  const std::string org = WriteSamples("o.wav", {5, 6});
  const auto idx = Ingest({{raw, 2, BlockFile, 1, 5}, {org, 2, BlockOrg}, {"", 9}});
  eng.Blocks(idx[2]).UseStamp = 77;

  const int32_t fileCopy = eng.CopyBlock(idx[0]);
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 2);
  EXPECT_EQ(eng.Blocks(fileCopy).FilePos, 5);
  EXPECT_EQ(Whole(fileCopy), (std::vector<int16_t>{3, 4}));
  EXPECT_EQ(eng.OrgFiles(1).RefCount, 1);
  eng.CopyBlock(idx[1]);
  EXPECT_EQ(eng.OrgFiles(1).RefCount, 2);
  const int32_t silentCopy = eng.CopyBlock(idx[2]);
  EXPECT_EQ(eng.Blocks(silentCopy).UseStamp, 77);
  EXPECT_EQ(eng.Blocks(silentCopy).Length, 9);
  EXPECT_EQ(eng.MemoryInUse, 0);

  eng.LoadBlock(idx[0]);
  const int32_t memFileCopy = eng.CopyBlock(idx[0]);
  EXPECT_EQ(Type(memFileCopy), BlockMemFile);
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 3);
  EXPECT_NE(eng.Blocks(memFileCopy).Samples.Ptr(0), eng.Blocks(idx[0]).Samples.Ptr(0));
  EXPECT_EQ(Samples(memFileCopy), (std::vector<int16_t>{3, 4}));
  EXPECT_GT(eng.Blocks(memFileCopy).UseStamp, eng.Blocks(idx[0]).UseStamp);
  eng.CopyBlock(eng.NewBlock(3, BlockMem));
  EXPECT_EQ(eng.MemoryInUse, 2 * (2 + 2 + 3 + 3));

  const int32_t freeSlot = eng.NewBlock(0, BlockFree);
  box.Clear();
  EXPECT_EQ(Type(eng.CopyBlock(freeSlot)), BlockFree);
  EXPECT_EQ(box.Shown(), std::vector<std::string>{"Error - free block can not be copied"});
}

TEST_F(BlocksTest, SplitIsRefusedAtTheBordersAndKeepsPositionsInside) {
  const int32_t s = eng.NewBlock(50, BlockSilent);
  eng.Blocks(s).StartPos = 100;
  int32_t left = -7, right = -7;
  eng.SplitBlock(s, 100, left, right);
  eng.SplitBlock(s, 150, left, right);
  EXPECT_EQ(box.Shown(), std::vector<std::string>(2, "Error - Could not brake a block"));
  EXPECT_EQ(left, -7);
  EXPECT_EQ(right, -7);
  EXPECT_EQ(Type(s), BlockSilent);

  eng.SplitBlock(s, 101, left, right);
  EXPECT_EQ(Type(s), BlockMem);  // the source was loaded on the way
  EXPECT_EQ(eng.Blocks(left).Length, 1);
  EXPECT_EQ(eng.Blocks(right).Length, 49);
  EXPECT_EQ(eng.Blocks(left).StartPos, 100);
  EXPECT_EQ(eng.Blocks(right).StartPos, 101);
  EXPECT_EQ(Type(right), BlockMem);
  EXPECT_EQ(eng.MemoryInUse, 200);
}

TEST_F(BlocksTest, SplittingAFileBlockReadsNothingAndSharesTheSlot) {
  const int32_t s = IngestOne({dir + "/absent.raw", 20, BlockFile, 1, 41});
  int32_t left = 0, right = 0;
  eng.SplitBlock(s, 11, left, right);
  EXPECT_EQ(eng.FileOpens, 0);
  EXPECT_EQ(Type(left), BlockFile);
  EXPECT_EQ(Type(right), BlockFile);
  EXPECT_EQ(eng.Blocks(left).FilePos, 41);
  EXPECT_EQ(eng.Blocks(right).FilePos, 61);
  EXPECT_EQ(eng.Blocks(right).Length, 10);
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 3);
  eng.ReleaseBlock(s);
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 2);
}

TEST_F(BlocksTest, SplittingLoadedBlocksMovesTheirSamples) {
  const std::vector<int16_t> data{0, 0, 10, 11, 12, 13, 14};
  const std::string raw = WriteSamples("b.raw", data);
  const std::string org = WriteBytes("o.wav", {0x00, 1, 0x80, 2, 0xFF, 3, 0x81});
  const auto idx = Ingest({{raw, 5, BlockFile, 1, 5}, {org, 4, BlockOrg, 6, 1, 2, 8}});
  eng.LoadBlock(idx[0]);
  int32_t left = 0, right = 0;
  eng.SplitBlock(idx[0], 3, left, right);
  EXPECT_EQ(Type(left), BlockMemFile);
  EXPECT_EQ(Type(right), BlockMemFile);
  EXPECT_EQ(Samples(left), (std::vector<int16_t>{10, 11}));
  EXPECT_EQ(Samples(right), (std::vector<int16_t>{12, 13, 14}));
  // Each part's file region holds its samples.
  EXPECT_EQ(eng.Blocks(right).FilePos, 9);
  EXPECT_EQ(FileSamples(raw)[(9 - 1) / 2], 12);
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 3);
  EXPECT_EQ(eng.MemoryInUse, 2 * 2 * 5);

  eng.SplitBlock(idx[1], 7, left, right);  // stereo 8-bit Orgfile
  EXPECT_EQ(Type(idx[1]), BlockMem);
  EXPECT_EQ(Samples(left), (std::vector<int16_t>{-128}));
  EXPECT_EQ(Samples(right), (std::vector<int16_t>{0, 127, 1}));
  EXPECT_EQ(eng.Blocks(right).StartPos, 7);
  EXPECT_EQ(eng.Blocks(right).FileSlot, 0);

  // A three-channel Orgfile has no samples to share: no parts.
  WriteSamples("three.wav", {1, 2, 3});
  const int32_t odd = IngestOne({dir + "/three.wav", 2, BlockOrg, 1, 1, 3, 16});
  left = right = -1;
  eng.SplitBlock(odd, 2, left, right);
  EXPECT_EQ(left, -1);
  EXPECT_EQ(box.Shown(), std::vector<std::string>{"Error - Could not brake a block"});
}

TEST_F(BlocksTest, ReleasingClearsOrgSlotsAndLeavesUsedSlotsUntouched) {
  const std::string org = WriteSamples("o.wav", {4, 5, 6});
  const auto idx = Ingest({{org, 1, BlockOrg, 1, 1}, {org, 2, BlockOrg, 2, 3},
                           {dir + "/kept.raw", 2, BlockFile}, {dir + "/gone.raw", 2, BlockFile}});
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
  eng.ReleaseBlock(idx[3]);
  eng.ReleaseUnusedFiles();
  EXPECT_EQ(eng.BlkFiles(1).Name, dir + "/kept.raw");
  EXPECT_EQ(eng.BlkFiles(1).RefCount, 1);
  EXPECT_EQ(eng.BlkFiles(2).Name, "");
  const BlockRec& freed = eng.Blocks(idx[0]);
  EXPECT_EQ(freed.BlockType, BlockFree);
  EXPECT_EQ(freed.Length, 0);
  EXPECT_EQ(freed.StartPos, 1);  // kept
  EXPECT_EQ(freed.Samples.Count(), 1);
}

}  // namespace
