// Reading a run of a block into an array, writing out to temporary block
// files, and the least-recently-used limit. Every source kind is read and
// loaded frame for frame through the channel buffer (BlockCarrBuffClassTest),
// which also checks that reads in place neither load nor stamp a block;
// loads that fail are in FileFaultsTest.

#include "tests/blocks/BlocksFixture.h"

namespace {

// A block file from byte 5 at positions 101..106, and a block whose file is missing.
class ReadBlockRangeTest : public BlocksTest {
 protected:
  ReadBlockRangeTest()
      : idx(Ingest({{WriteSamples("b.raw", {9, 9, 20, 21, 22, 23, 24, 25}), 6, blocks::BlockFile, 101, 5},
                    {dir + "/gone.raw", 4, blocks::BlockFile, 13, 1}})) {}
  const std::vector<int32_t> idx;
};

TEST_F(ReadBlockRangeTest, ARunBeyondTheBlockIsARangeError) { EXPECT_THROW(Range(idx[0], 106, 107), os::RangeError); }

TEST_F(ReadBlockRangeTest, AFailedReadLeavesZerosNotTheOldValues) {
  runtime::VbArray<int16_t> out(0, 4);
  out.Storage().assign(5, -99);
  EXPECT_THROW(eng.ReadBlockRange(idx[1], 13, 14, out), os::FileError);
  EXPECT_EQ(out.Storage(), std::vector<int16_t>(2, 0));
}

TEST_F(BlocksTest, WriteBlockToFileWritesAFreshTempFileThatLoadsBack) {
  // Temporary names avoid files on disk and names held by slots.
  for (int i = 1; i <= 3; ++i) WriteBytes("tm" + std::to_string(i) + ".tmp", {});
  Ingest({{dir + "/tm4.tmp", 1, blocks::BlockFile}, {dir + "/tm5.tmp", 1, blocks::BlockFile}});
  const int32_t s = eng.NewBlock(4, blocks::BlockMem);
  eng.Blocks(s).Samples.Storage() = {1, -2, 300, -32768};
  eng.WriteBlockToFile(s);
  EXPECT_EQ(eng.BlkFiles(eng.Blocks(s).FileSlot).Name, dir + "/tm6.tmp");
  // Back in, it is a copy of its file; out again, nothing new is written.
  eng.LoadBlock(s);
  EXPECT_EQ(Type(s), blocks::BlockMemFile);
  EXPECT_EQ(Samples(s), (std::vector<int16_t>{1, -2, 300, -32768}));
  eng.WriteBlockToFile(s);
  EXPECT_EQ(eng.BlkFileCount, 3);
}

TEST_F(BlocksTest, OverTheLimitFourBlocksStayAndTheLeastRecentlyUsedGoesOut) {
  using enum blocks::BlockTypeCode;
  memLimit = 0;
  std::vector<int32_t> b;
  for (int16_t i = 1; i <= 5; ++i) {
    if (i == 5) eng.LoadBlock(b[0]);  // block 1 is now the most recently used
    b.push_back(eng.NewBlock(3, BlockMem));
    eng.Blocks(b.back()).Samples(0) = i;
  }
  EXPECT_EQ(Type(b[1]), BlockFile);
  EXPECT_EQ(eng.MemoryInUse, 4 * 6);  // the other four stay
  eng.LoadBlock(b[1]);                // back in; block 3 is now the oldest
  EXPECT_EQ(Samples(b[1]), (std::vector<int16_t>{2, 0, 0}));
  EXPECT_EQ(Type(b[2]), BlockFile);
}

}  // namespace
