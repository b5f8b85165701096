// Loading, making writable, writing out, and the least-recently-used limit.

#include <regex>

#include "tests/blocks/BlocksFixture.h"

namespace {

struct OrgCase {
  int32_t channels, bits, filePos;
  std::vector<uint8_t> bytes;
  std::vector<int16_t> expected;
};

TEST_F(BlocksTest, OrgfileLoadsConvertByLayoutFromFilePos) {
  const std::vector<OrgCase> cases{
      // Mono 16-bit after a 4-byte header: samples 2 to 4.
      {1, 16, 7, {9, 9, 9, 9, 0x64, 0x00, 0x38, 0xFF, 0x2C, 0x01, 0xFF, 0x7F, 0x00, 0x80}, {-200, 300, 32767}},
      {1, 8, 2, {7, 0x00, 0x80, 0xFF, 0x7F}, {-128, 0, 127}},  // byte - 128
      // Stereo 16-bit, right channel; the file ends with the last sample taken.
      {2, 16, 3, {1, 0, 0xFF, 0xFF, 2, 0, 0xFE, 0xFF, 3, 0, 0xFD, 0xFF}, {-1, -2, -3}},
      {2, 8, 1, {0x00, 0x11, 0x80, 0x22, 0xFF}, {-128, 0, 127}},  // stereo 8-bit, left channel
      {1, 12, 1, {5, 0, 6, 0}, {0, 0}},                            // unknown layout: silence
  };
  int32_t i = 0;
  for (const OrgCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.bits << " bits");
    const std::string path = WriteBytes("org" + std::to_string(++i) + ".wav", c.bytes);
    const int32_t n = static_cast<int32_t>(c.expected.size());
    const int32_t s = IngestOne({path, n, blocks::BlockOrg, 1, c.filePos, c.channels, c.bits});
    const int32_t slot = eng.Blocks(s).FileSlot;
    const int32_t memoryBefore = eng.MemoryInUse;
    EXPECT_EQ(Whole(s), c.expected);  // the window read agrees with the load
    eng.LoadBlock(s);
    EXPECT_EQ(Type(s), blocks::BlockMem);
    EXPECT_EQ(Samples(s), c.expected);
    EXPECT_EQ(eng.Blocks(s).FileSlot, 0);
    EXPECT_EQ(eng.OrgFiles(slot).RefCount, 0);
    EXPECT_EQ(eng.OrgFiles(slot).Name, path);  // not released by the load
    EXPECT_EQ(eng.MemoryInUse, memoryBefore + 2 * n);
  }
}

// What MakeBlockWritable leaves of each type is checked against a model by
// RandomMixTest; here the one refusal.
TEST_F(BlocksTest, MakeBlockWritableRefusesAFreeBlock) {
  eng.MakeBlockWritable(eng.NewBlock(4, blocks::BlockFree));
  EXPECT_EQ(box.Shown(), (std::vector<std::string>{"Error - can not make free block",
                                                   "Error - Free block can not be copied to buffer",
                                                   "Error - Block type has a problem in moving to buff"}));
}

TEST_F(BlocksTest, WriteBlockToFileWritesAFreshTempFileOfTheSamples) {
  // Temp names avoid files on disk and names held by slots.
  for (int i = 1; i <= 3; ++i) WriteBytes("tm" + std::to_string(i) + ".tmp", {});
  Ingest({{dir + "/tm4.tmp", 1, blocks::BlockFile}, {dir + "/tm5.tmp", 1, blocks::BlockFile}});
  const int32_t s = eng.NewBlock(4, blocks::BlockMem);
  eng.Blocks(s).Samples.Storage() = {1, -2, 300, -32768};
  eng.WriteBlockToFile(s);
  ASSERT_EQ(Type(s), blocks::BlockFile);
  EXPECT_EQ(eng.Blocks(s).FilePos, 1);
  EXPECT_EQ(eng.MemoryInUse, 0);
  const blocks::BlkFileRec& file = eng.BlkFiles(eng.Blocks(s).FileSlot);
  EXPECT_EQ(file.RefCount, 1);
  EXPECT_TRUE(std::regex_match(file.Name, std::regex(dir + "/tm([6-9]|[0-9][0-9]+)\\.tmp"))) << file.Name;
  EXPECT_EQ(FileSamples(file.Name), (std::vector<int16_t>{1, -2, 300, -32768}));

  // Back in, it is a copy of its file; out again, nothing new is written.
  eng.LoadBlock(s);
  EXPECT_EQ(Type(s), blocks::BlockMemFile);
  eng.WriteBlockToFile(s);
  EXPECT_EQ(Type(s), blocks::BlockFile);
  EXPECT_EQ(eng.BlkFileCount, 3);
  eng.WriteBlockToFile(eng.NewBlock(1, blocks::BlockFree));
  EXPECT_EQ(box.Shown().back(), "Error - Free block can not be written to file");
  appTmpDir = "";
  EXPECT_EQ(eng.NewTempFileName().rfind(platform::files::TempFolder("") + "/tm", 0), 0u);
}

TEST_F(BlocksTest, ZeroLimitKeepsFourBlocksAndEvictsTheLeastRecentlyUsed) {
  memLimit = 0;
  std::vector<int32_t> b;
  for (int16_t i = 1; i <= 5; ++i) {
    if (i == 5) eng.LoadBlock(b[0]);  // block 1 is now the most recently used
    b.push_back(eng.NewBlock(3, blocks::BlockMem));
    eng.Blocks(b.back()).Samples(0) = i;
  }
  const auto types = [&] {
    std::vector<int32_t> t;
    for (int32_t s : b) t.push_back(Type(s));
    return t;
  };
  EXPECT_EQ(types(), (std::vector<int32_t>{blocks::BlockMem, blocks::BlockFile, blocks::BlockMem, blocks::BlockMem, blocks::BlockMem}));
  EXPECT_EQ(FileSamples(eng.BlkFiles(eng.Blocks(b[1]).FileSlot).Name), (std::vector<int16_t>{2, 0, 0}));
  eng.LoadBlock(b[1]);  // back in; block 3 is now the oldest
  EXPECT_EQ(Samples(b[1]), (std::vector<int16_t>{2, 0, 0}));
  EXPECT_EQ(types(), (std::vector<int32_t>{blocks::BlockMem, blocks::BlockMemFile, blocks::BlockFile, blocks::BlockMem, blocks::BlockMem}));
  EXPECT_EQ(eng.MemoryInUse, 4 * 6);
  // Touching a memory block only stamps it.
  eng.LoadBlock(b[3]);
  EXPECT_EQ(types(), (std::vector<int32_t>{blocks::BlockMem, blocks::BlockMemFile, blocks::BlockFile, blocks::BlockMem, blocks::BlockMem}));
  EXPECT_EQ(eng.BlkFileCount, 2);
}

TEST_F(BlocksTest, LargeLimitNeverWritesAndRecountsEveryHundredthCheck) {
  memLimit = 2 * 5 * 100;
  const std::string raw = WriteSamples("b.raw", std::vector<int16_t>(100, 3));
  std::vector<ListEntry> list;
  for (int32_t i = 0; i < 10; ++i) list.push_back({raw, 10, blocks::BlockFile, 1 + 10 * i, 1 + 20 * i});
  for (int32_t s : Ingest(list)) eng.LoadBlock(s);
  EXPECT_EQ(eng.MemoryInUse, 200);
  EXPECT_EQ(eng.BlkFileCount, 1);

  // Over the limit with fewer than five memory blocks: nothing to evict, but
  // every check counts, and the hundredth recounts the running total.
  for (int32_t s = 1; s <= 10; ++s) eng.WriteBlockToFile(s);
  eng.LoadBlock(1);
  memLimit = 0;
  eng.MemoryInUse = 1000;
  for (int i = 1; i <= 99; ++i) eng.LimitMemory();
  EXPECT_EQ(eng.RecountCounter, 99);
  EXPECT_EQ(eng.MemoryInUse, 1000);
  eng.LimitMemory();
  EXPECT_EQ(eng.RecountCounter, 0);
  EXPECT_EQ(eng.MemoryInUse, 20);
  EXPECT_EQ(Type(1), blocks::BlockMemFile);
}

TEST_F(BlocksTest, FileErrorsNameTheFileAndLeaveTheBlockAsItWas) {
  const std::string raw = WriteSamples("short.raw", {1, 2, 3});
  const auto idx = Ingest({{raw, 4, blocks::BlockFile}, {dir + "/missing.wav", 2, blocks::BlockOrg}});
  for (const auto& [block, name] : {std::pair{idx[0], raw}, std::pair{idx[1], dir + "/missing.wav"}}) {
    const int32_t type = Type(block);
    try {
      eng.LoadBlock(block);
      ADD_FAILURE() << name << " loaded";
    } catch (const platform::FileError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
    EXPECT_EQ(Type(block), type);
    EXPECT_EQ(eng.Blocks(block).Samples.Count(), 1);
  }
  EXPECT_EQ(eng.OrgFiles(1).RefCount, 1);
  EXPECT_EQ(eng.OpenOrgSlot, 0);
  EXPECT_EQ(eng.MemoryInUse, 0);
}

}  // namespace
