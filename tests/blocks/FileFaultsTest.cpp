// The block engine on files that fail: loads that cannot open or read, files
// that end before the block, and write-out to the temporary folder that
// fails. Each failure names the file, leaves the block as it was, and leaks
// no memory count, file slot reference, descriptor or temporary file.

#include <gmock/gmock.h>

#include <filesystem>
#include <numeric>
#include <tuple>
#include <vector>

#include "platform/os/Errors.h"
#include "platform/os/FileSystem.h"
#include "tests/blocks/BlocksFixture.h"
#include "tests/support/FaultyFileSystem.h"

using testing_support::FaultyFileSystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

TEST_F(BlocksTest, LoadsThatFailNameTheFileAndLeaveTheBlockAsItWas) {
  std::vector<int16_t> samples(3000);
  std::iota(samples.begin(), samples.end(), -7000);
  const std::string blk = WriteSamples("take.raw", samples), org = WriteSamples("take.wav", samples);
  // The whole files, and blocks that reach one sample past their ends.
  const auto idx = Ingest({{blk, 3000, blocks::BlockFile},
                           {org, 3000, blocks::BlockOrg, 3001},
                           {blk, 2, blocks::BlockFile, 1, 5999},
                           {org, 2, blocks::BlockOrg, 1, 5999}});
  using Case = std::tuple<int32_t, std::string, int, int64_t>;  // block, what the error says, OpenErrno, FailNthRead
  const std::vector<Case> cases{{idx[0], "Permission denied", EACCES, 0},
                                {idx[1], "Input/output error", 0, 1},
                                {idx[2], "short read", 0, 0},
                                {idx[3], "short read", 0, 0}};
  for (const auto& [block, text, openErrno, failNthRead] : cases) {
    const std::string name = Type(block) == blocks::BlockFile ? blk : org;
    FaultyFileSystem fs;
    os::FileSystemOverride use(fs);
    fs.OpenErrno = openErrno;
    fs.FailNthRead = failNthRead;
    const blocks::BlockRec& b = eng.Blocks(block);
    const auto before = std::tuple(b.BlockType, b.FileSlot, b.Samples.Count(), eng.MemoryInUse);
    EXPECT_THAT([&] { eng.LoadBlock(block); },
                ThrowsMessage<os::FileError>(AllOf(HasSubstr(name), HasSubstr(text))));
    EXPECT_EQ(std::tuple(b.BlockType, b.FileSlot, b.Samples.Count(), eng.MemoryInUse), before) << text;
    eng.CloseBlkFile(b.FileSlot);  // what the engine keeps open between reads
    eng.CloseOrgFile(b.FileSlot);
    EXPECT_EQ(fs.OpenCount(), 0) << name << ", " << text;
  }
  EXPECT_EQ(eng.OrgFiles(1).RefCount, 2);
}

TEST_F(BlocksTest, ReadsThatReturnAPartAtATimeStillLoadTheWholeBlock) {
  std::vector<int16_t> samples(3000);
  std::iota(samples.begin(), samples.end(), -7000);
  const auto idx = Ingest({{WriteSamples("take.raw", samples), 3000, blocks::BlockFile},
                           {WriteSamples("take.wav", samples), 3000, blocks::BlockOrg}});
  FaultyFileSystem shortReads;
  os::FileSystemOverride use(shortReads);
  shortReads.ShortReads = true;
  for (const int32_t block : idx) {
    eng.LoadBlock(block);
    EXPECT_EQ(Samples(block), samples) << (Type(block) == blocks::BlockMemFile ? "block file" : "Orgfile");
  }
}

TEST_F(BlocksTest, AWriteOutThatFailsKeepsTheBlockInMemoryAndLeavesNoFileAndNoName) {
  const int32_t s = eng.NewBlock(5000, blocks::BlockMem);
  eng.Blocks(s).Samples.Storage().assign(5000, 321);
  // what the error says, FaultyFileSystem's DiskBytes (the block needs 10000 bytes), FailNthWrite and OpenErrno
  const std::vector<std::tuple<std::string, int64_t, int64_t, int>> cases{
      {"No space left", 4000, 0, 0}, {"Input/output error", -1, 1, 0}, {"Permission denied", -1, 0, EACCES}};
  for (const auto& [text, diskBytes, failNthWrite, openErrno] : cases) {
    FaultyFileSystem fs;
    os::FileSystemOverride use(fs);
    fs.DiskBytes = diskBytes;
    fs.FailNthWrite = failNthWrite;
    fs.OpenErrno = openErrno;
    EXPECT_THAT([&] { eng.WriteBlockToFile(s); },
                ThrowsMessage<os::FileError>(AllOf(HasSubstr(dir + "/tm"), HasSubstr(text))));
    EXPECT_EQ(fs.OpenCount(), 0);
    EXPECT_EQ(Type(s), blocks::BlockMem);
    EXPECT_EQ(eng.MemoryInUse, 10000);
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << text << ": the temporary file was left behind";
  }
  EXPECT_EQ(Samples(s), std::vector<int16_t>(5000, 321));
}

// The slot a failed write-out took is free again, and the name it gave up is
// no slot's: a block file under that name gets a slot of its own.
TEST_F(BlocksTest, AfterAFailedWriteOutTheBlockGoesOutIntoTheSlotItGaveBack) {
  const int32_t s = eng.NewBlock(5000, blocks::BlockMem);
  {
    FaultyFileSystem fs;
    os::FileSystemOverride use(fs);
    fs.FailNthWrite = 1;
    EXPECT_THROW(eng.WriteBlockToFile(s), os::FileError);
  }
  eng.WriteBlockToFile(s);
  EXPECT_EQ(Type(s), blocks::BlockFile);
  EXPECT_EQ(eng.MemoryInUse, 0);
  EXPECT_EQ(eng.BlkFileCount, 1);
  EXPECT_EQ(eng.Blocks(Ingest({{dir + "/tm1.tmp", 1, blocks::BlockFile}}).at(0)).FileSlot, 2);
}

}  // namespace
