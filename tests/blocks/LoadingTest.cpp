// Writing out to temporary block files, and the least-recently-used limit.
// Loads of every source kind are checked frame for frame by the channel
// buffer tests and RandomMixTest, loads that fail by FileFaultsTest.

#include <regex>

#include "tests/blocks/BlocksFixture.h"

namespace {

TEST_F(BlocksTest, WriteBlockToFileWritesAFreshTempFileThatLoadsBack) {
  // Temporary names avoid files on disk and names held by slots.
  for (int i = 1; i <= 3; ++i) WriteBytes("tm" + std::to_string(i) + ".tmp", {});
  Ingest({{dir + "/tm4.tmp", 1, blocks::BlockFile}, {dir + "/tm5.tmp", 1, blocks::BlockFile}});
  const int32_t s = eng.NewBlock(4, blocks::BlockMem);
  eng.Blocks(s).Samples.Storage() = {1, -2, 300, -32768};
  eng.WriteBlockToFile(s);
  ASSERT_EQ(Type(s), blocks::BlockFile);
  EXPECT_EQ(eng.MemoryInUse, 0);
  const std::string name = eng.BlkFiles(eng.Blocks(s).FileSlot).Name;
  EXPECT_TRUE(std::regex_match(name, std::regex(dir + "/tm([6-9]|[0-9][0-9]+)\\.tmp"))) << name;
  // Back in, it is a copy of its file; out again, nothing new is written.
  eng.LoadBlock(s);
  EXPECT_EQ(Type(s), blocks::BlockMemFile);
  EXPECT_EQ(Samples(s), (std::vector<int16_t>{1, -2, 300, -32768}));
  eng.WriteBlockToFile(s);
  EXPECT_EQ(Type(s), blocks::BlockFile);
  EXPECT_EQ(eng.BlkFileCount, 3);
  appTmpDir = "";
  EXPECT_EQ(eng.NewTempFileName().rfind(platform::files::TempFolder("") + "/tm", 0), 0u);
}

TEST_F(BlocksTest, ZeroLimitKeepsFourBlocksAndEvictsTheLeastRecentlyUsed) {
  using enum blocks::BlockTypeCode;
  memLimit = 0;
  std::vector<int32_t> b;
  const auto types = [&] {
    std::vector<int32_t> t;
    for (int32_t s : b) t.push_back(Type(s));
    return t;
  };
  for (int16_t i = 1; i <= 5; ++i) {
    if (i == 5) eng.LoadBlock(b[0]);  // block 1 is now the most recently used
    b.push_back(eng.NewBlock(3, BlockMem));
    eng.Blocks(b.back()).Samples(0) = i;
  }
  EXPECT_EQ(types(), (std::vector<int32_t>{BlockMem, BlockFile, BlockMem, BlockMem, BlockMem}));
  eng.LoadBlock(b[1]);  // back in; block 3 is now the oldest
  EXPECT_EQ(Samples(b[1]), (std::vector<int16_t>{2, 0, 0}));
  EXPECT_EQ(types(), (std::vector<int32_t>{BlockMem, BlockMemFile, BlockFile, BlockMem, BlockMem}));
  EXPECT_EQ(eng.MemoryInUse, 4 * 6);
  EXPECT_EQ(eng.BlkFileCount, 2);
}

TEST_F(BlocksTest, EveryHundredthCheckOverTheLimitRecountsMemory) {
  memLimit = 0;
  eng.NewBlock(10, blocks::BlockMem);  // under five memory blocks: nothing to evict, but the check counts
  EXPECT_EQ(eng.RecountCounter, 1);
  eng.MemoryInUse = 1000;
  for (int i = 2; i <= 99; ++i) eng.LimitMemory();
  EXPECT_EQ(eng.RecountCounter, 99);
  EXPECT_EQ(eng.MemoryInUse, 1000);
  eng.LimitMemory();
  EXPECT_EQ(eng.RecountCounter, 0);
  EXPECT_EQ(eng.MemoryInUse, 20);
  EXPECT_EQ(Type(1), blocks::BlockMem);
}

}  // namespace
