// The block engine on a file layer that fails on demand: loads that cannot
// open or read, reads cut short, and write-out to the temporary folder on a
// full disk. Each failure names the file, leaves the block as it was, and
// leaks no memory count, block record, file slot or descriptor.

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "tests/blocks/BlocksFixture.h"
#include "platform/FaultyFileSystem.h"

using platform::FaultyFileSystem;

namespace {

TEST_F(BlocksTest, LoadsThroughFailingFilesNameTheFileAndLeaveTheBlockAsItWas) {
  std::vector<int16_t> samples(3000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 5 - 7000);
  const std::string blk = WriteSamples("take.raw", samples);
  const std::string org = WriteSamples("take.wav", samples);
  const auto idx = Ingest({{blk, 3000, blocks::BlockFile}, {org, 3000, blocks::BlockOrg, 3001}});

  struct Case {
    const char* text;
    std::function<void(FaultyFileSystem&)> arm;
  };
  const std::vector<Case> cases{
      {"Permission denied", [](FaultyFileSystem& fs) { fs.OpenErrno = EACCES; }},
      {"Input/output error", [](FaultyFileSystem& fs) { fs.FailNthRead = 1; }},
  };
  for (const int32_t block : idx) {
    const std::string& name = block == idx[0] ? blk : org;
    for (const Case& c : cases) {
      FaultyFileSystem fs;
      platform::FileSystemOverride use(fs);
      c.arm(fs);
      const int32_t type = Type(block);
      const int32_t memory = eng.MemoryInUse;
      try {
        eng.LoadBlock(block);
        ADD_FAILURE() << name << " loaded despite " << c.text;
      } catch (const platform::FileError& e) {
        EXPECT_THAT(e.what(), ::testing::AllOf(::testing::HasSubstr(name), ::testing::HasSubstr(c.text)));
      }
      EXPECT_EQ(Type(block), type);
      EXPECT_EQ(eng.MemoryInUse, memory);
      eng.CloseBlkFile(eng.Blocks(block).FileSlot);  // what the engine keeps open between reads
      eng.CloseOrgFile(eng.Blocks(block).FileSlot);
      EXPECT_EQ(fs.OpenCount(), 0) << name << ", " << c.text;
    }
    // Reads that return a part at a time still load the whole block.
    FaultyFileSystem shortReads;
    platform::FileSystemOverride use(shortReads);
    shortReads.ShortReads = true;
    eng.LoadBlock(block);
    EXPECT_TRUE(InMemory(block));
    EXPECT_EQ(Whole(block), samples);
  }
  EXPECT_EQ(eng.MemoryInUse, RecountMemory());
  EXPECT_EQ(eng.BlockCount, 2);
}

TEST_F(BlocksTest, WriteOutOnAFullDiskKeepsTheBlockInMemoryAndLeavesNoFile) {
  const int32_t s = eng.NewBlock(5000, blocks::BlockMem);
  eng.Blocks(s).Samples.Storage().assign(5000, 321);
  const int32_t memory = eng.MemoryInUse;
  {
    FaultyFileSystem fs;
    platform::FileSystemOverride use(fs);
    fs.DiskBytes = 4000;  // less than the block's 10000 bytes
    try {
      eng.WriteBlockToFile(s);
      ADD_FAILURE() << "written to a full disk";
    } catch (const platform::FileError& e) {
      EXPECT_THAT(e.what(), ::testing::AllOf(::testing::HasSubstr(dir + "/tm"), ::testing::HasSubstr("No space left")));
    }
    EXPECT_EQ(fs.OpenCount(), 0);
  }
  EXPECT_EQ(Type(s), blocks::BlockMem);
  EXPECT_EQ(Samples(s), std::vector<int16_t>(5000, 321));
  EXPECT_EQ(eng.MemoryInUse, memory);
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "the temporary file of the failed write-out was left behind";
  // With room again the same block goes out as usual. The name the failure
  // gave up is no slot's: a block file under it gets a slot of its own.
  eng.WriteBlockToFile(s);
  EXPECT_EQ(Type(s), blocks::BlockFile);
  EXPECT_EQ(eng.MemoryInUse, memory - 10000);
  EXPECT_EQ(eng.Blocks(IngestOne({dir + "/tm1.tmp", 1, blocks::BlockFile})).FileSlot, 2);
}

}  // namespace
