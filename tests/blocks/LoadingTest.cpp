// Reading a run of a block into an array and writing out to temporary block
// files. Every source kind is read and loaded frame for frame through the
// channel buffer (BlockCarrBuffClassTest); the memory limit and its
// evictions are RandomMixTest's; loads that fail are in FileFaultsTest.

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

}  // namespace
