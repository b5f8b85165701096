// Every refusal of the engine with the text it shows, and a file left open
// in a free slot. Copies, splits, writable blocks and releases are checked
// sample for sample by RandomMixTest.

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
  // The record refused every time is taken by the next block; splits at its borders are refused.
  ASSERT_EQ(eng.NewBlock(50, blocks::BlockSilent), 1);
  eng.Blocks(1).StartPos = 100;
  int32_t left = -7, right = -7;
  eng.SplitBlock(1, 100, left, right);
  eng.SplitBlock(1, 150, left, right);
  EXPECT_EQ(std::pair(left, right), std::pair(-7, -7));
  EXPECT_EQ(eng.BlockCount, 1);
  EXPECT_EQ(box.Shown(),
            (std::vector<std::string>{
                "Error - can not make free block",
                "Error - Can not create buffer block in both (memory and file) or in Orgfile",
                "Error - Can not create buffer block in both (memory and file) or in Orgfile",
                "Error - free block can not be copied", "Error - Free block can not be copied to buffer",
                "Error - Block type has a problem in moving to buff", "Error - Free block can not be written to file",
                "Error - A block can not be read for quick buffer", "Error - Could not brake a block",
                "Error - Could not brake a block"}));
}

// Block files left open in free slots are caught by RandomMixTest, which
// also checks which slot a file gets against a scan of the tables.
TEST_F(BlocksTest, AnOrgfileSlotTakenAgainClosesTheFileLeftOpenInIt) {
  const std::string org = WriteSamples("o.wav", {1, 2, 3}), y = WriteSamples("y.wav", {5});
  const auto idx = Ingest({{org, 1, blocks::BlockOrg, 1, 1}, {org, 2, blocks::BlockOrg, 2, 3}});
  eng.LoadBlock(idx[0]);
  eng.LoadBlock(idx[1]);  // the Orgfile's slot is free now, its file still open
  EXPECT_EQ(eng.OpenOrgSlot, 1);
  const int32_t b = Ingest({{y, 1, blocks::BlockOrg}}).at(0);
  EXPECT_EQ(eng.Blocks(b).FileSlot, 1);
  EXPECT_EQ(Range(b, 1, 1), std::vector<int16_t>{5});
}

}  // namespace
