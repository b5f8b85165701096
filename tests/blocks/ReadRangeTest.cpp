// The window read: every block type, read in place, one open file per table.

#include "tests/blocks/BlocksFixture.h"

namespace {

TEST_F(BlocksTest, ReadBlockRangeReadsInPlaceWithoutLoadingOrStamping) {
  const std::string raw = WriteSamples("b.raw", {9, 9, 20, 21, 22, 23, 24, 25});
  const std::string stereo16 = WriteSamples("s16.wav", {40, -40, 41, -41, 42, -42, 43, -43});
  // Each Orgfile layout is read as its load converts it (LoadingTest).
  const auto idx = Ingest({{raw, 6, blocks::BlockFile, 101, 5}, {stereo16, 4, blocks::BlockOrg, 1, 3, 2, 16},
                           {dir + "/gone.raw", 4, blocks::BlockFile, 13, 1}, {"", 4, blocks::BlockSilent, 1}});
  const int32_t mem = eng.NewBlock(4, blocks::BlockMem);
  eng.Blocks(mem).StartPos = 11;
  eng.Blocks(mem).Samples.Storage() = {50, 51, 52, 53};
  const int32_t stamps = eng.UseCounter;

  EXPECT_EQ(Range(idx[0], 103, 105), (std::vector<int16_t>{22, 23, 24}));
  EXPECT_EQ(Range(idx[1], 2, 3), (std::vector<int16_t>{-41, -42}));
  EXPECT_EQ(Range(mem, 12, 13), (std::vector<int16_t>{51, 52}));
  // A reused out is resized and leaves no old value, even when the read fails.
  platform::VbArray<int16_t> out(1, 9);
  out(3) = 5;
  eng.ReadBlockRange(idx[3], 2, 3, out);
  EXPECT_EQ(out.LBound(), 0);
  EXPECT_EQ(out.Storage(), std::vector<int16_t>(2, 0));
  out.Storage().assign(5, -99);
  EXPECT_THROW(eng.ReadBlockRange(idx[2], 13, 14, out), platform::FileError);
  EXPECT_EQ(out.Storage(), std::vector<int16_t>(2, 0));

  EXPECT_EQ(eng.UseCounter, stamps);
  EXPECT_EQ(eng.MemoryInUse, 8);
  EXPECT_EQ(Type(idx[0]), blocks::BlockFile);
  EXPECT_EQ(Type(idx[1]), blocks::BlockOrg);
  EXPECT_THROW(Range(idx[1], 3, 5), platform::RangeError);
  EXPECT_THROW(Range(mem, 10, 11), platform::RangeError);
  EXPECT_TRUE(box.Shown().empty());
  eng.ReleaseBlock(idx[3]);
  EXPECT_EQ(Range(idx[3], 1, 2), std::vector<int16_t>(2, 0));
  EXPECT_EQ(box.Shown(), std::vector<std::string>{"Error - A block can not be read for quick buffer"});
}

TEST_F(BlocksTest, EachTableKeepsOneFileOpen) {
  const std::string a = WriteSamples("a.wav", {1, 2, 3}), x = WriteSamples("x.raw", {7, 8, 9});
  const std::string y = WriteSamples("y.raw", {1});
  const auto idx = Ingest({{a, 1, blocks::BlockOrg, 1, 1}, {a, 1, blocks::BlockOrg, 2, 3}, {a, 1, blocks::BlockOrg, 3, 5},
                           {x, 1, blocks::BlockFile, 5, 1}, {x, 2, blocks::BlockFile, 6, 3}, {y, 1, blocks::BlockFile, 8, 1}});
  for (int32_t i = 0; i < 3; ++i) eng.LoadBlock(idx[static_cast<size_t>(i)]);
  EXPECT_EQ(eng.FileOpens, 1);
  EXPECT_EQ(Samples(idx[2]), (std::vector<int16_t>{3}));
  // Block files have their own open file: the Orgfile stays open.
  EXPECT_EQ(Whole(idx[3]), (std::vector<int16_t>{7}));
  EXPECT_EQ(Whole(idx[4]), (std::vector<int16_t>{8, 9}));
  EXPECT_EQ(eng.FileOpens, 2);
  EXPECT_EQ(eng.OpenOrgSlot, 1);
  EXPECT_EQ(eng.OpenBlkSlot, 1);
  // Alternating between two files reopens on every read.
  for (int k = 0; k < 2; ++k) {
    Whole(idx[5]);
    Whole(idx[3]);
  }
  EXPECT_EQ(eng.FileOpens, 6);
  EXPECT_EQ(eng.OpenBlkFileNum->Path(), x);

  // Reusing a free block file slot that is the open file closes it first.
  Whole(idx[5]);
  EXPECT_EQ(eng.OpenBlkSlot, 2);
  eng.ReleaseBlock(idx[5]);
  EXPECT_EQ(eng.NewBlkFileSlot(), 2);
  EXPECT_EQ(eng.OpenBlkSlot, 0);
  EXPECT_EQ(eng.OpenBlkFileNum, nullptr);
}

}  // namespace
