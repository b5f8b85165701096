// The read of a run of one block into an array, and the one open file of
// each table. Every source kind is read frame for frame through the channel
// buffer (BlockCarrBuffClassTest), which also checks that reads in place
// neither load nor stamp a block.

#include "tests/blocks/BlocksFixture.h"

namespace {

TEST_F(BlocksTest, ReadBlockRangeSizesOutAndLeavesNoOldValueEvenWhenTheReadFails) {
  const std::string raw = WriteSamples("b.raw", {9, 9, 20, 21, 22, 23, 24, 25});
  const auto idx = Ingest({{raw, 6, blocks::BlockFile, 101, 5},
                           {dir + "/gone.raw", 4, blocks::BlockFile, 13, 1},
                           {"", 4, blocks::BlockSilent, 1}});
  EXPECT_EQ(Range(idx[0], 103, 105), (std::vector<int16_t>{22, 23, 24}));
  EXPECT_THROW(Range(idx[0], 100, 101), platform::RangeError);
  EXPECT_THROW(Range(idx[0], 106, 107), platform::RangeError);
  platform::VbArray<int16_t> out(1, 9);
  out(3) = 5;
  eng.ReadBlockRange(idx[2], 2, 3, out);
  EXPECT_EQ(out.LBound(), 0);
  EXPECT_EQ(out.Storage(), std::vector<int16_t>(2, 0));
  out.Storage().assign(5, -99);
  EXPECT_THROW(eng.ReadBlockRange(idx[1], 13, 14, out), platform::FileError);
  EXPECT_EQ(out.Storage(), std::vector<int16_t>(2, 0));
}

TEST_F(BlocksTest, EachTableKeepsOneFileOpenUntilItsSlotIsTakenAgain) {
  const std::string org = WriteSamples("a.wav", {1, 2, 3}), x = WriteSamples("x.raw", {7, 8});
  const std::string y = WriteSamples("y.raw", {5});
  const auto idx = Ingest({{org, 1, blocks::BlockOrg, 1, 1},
                           {org, 2, blocks::BlockOrg, 2, 3},
                           {x, 2, blocks::BlockFile},
                           {y, 1, blocks::BlockFile}});
  eng.LoadBlock(idx[0]);
  eng.LoadBlock(idx[1]);
  EXPECT_EQ(Whole(idx[2]), (std::vector<int16_t>{7, 8}));
  EXPECT_EQ(eng.FileOpens, 2);  // the Orgfile stays open beside the block file
  EXPECT_EQ(eng.OpenOrgSlot, 1);
  EXPECT_EQ(Whole(idx[3]), std::vector<int16_t>{5});
  EXPECT_EQ(eng.OpenBlkSlot, 2);
  // Reusing a free block file slot whose file is the open one closes it first.
  eng.ReleaseBlock(idx[3]);
  EXPECT_EQ(eng.NewBlkFileSlot(), 2);
  EXPECT_EQ(eng.OpenBlkSlot, 0);
  EXPECT_EQ(eng.OpenBlkFileNum, nullptr);
}

}  // namespace
