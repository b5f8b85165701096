#include "buffers/BlockCarrBuffClass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/MessageBox.h"
#include "platform/VbArray.h"
#include "tests/support/TestWorld.h"

namespace {

using platform::VbArray;
using testing_support::HostList;
using testing_support::TempDir;

std::vector<int16_t> Ramp(int16_t first, int count, int16_t step = 1) {
  std::vector<int16_t> v;
  for (int i = 0; i < count; ++i) v.push_back(static_cast<int16_t>(first + i * step));
  return v;
}

std::vector<int16_t> Concat(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

std::vector<int16_t> From1(const VbArray<int16_t>& a) {
  return std::vector<int16_t>(a.Storage().begin() + (1 - a.LBound()), a.Storage().end());
}

class BlockCarrBuffTest : public ::testing::Test {
 protected:
  BlockCarrBuffTest() { box.SetQuiet(true); }

  VbArray<int32_t> Ingest(const HostList& list) {
    VbArray<int32_t> idx;
    engine.BlockListIngest(list.Build(), idx);
    return idx;
  }

  // A memory-only block holding `values`, placed at `startPos`.
  int32_t MemBlock(const std::vector<int16_t>& values, int32_t startPos) {
    const int32_t s = engine.NewBlock(static_cast<int32_t>(values.size()), BlockMem);
    for (size_t i = 0; i < values.size(); ++i) engine.Blocks(s).Samples(static_cast<int32_t>(i)) = values[i];
    engine.Blocks(s).StartPos = startPos;
    return s;
  }

  static VbArray<int32_t> List(const std::vector<int32_t>& slots) {
    VbArray<int32_t> l(0, static_cast<int32_t>(slots.size()));
    for (size_t i = 0; i < slots.size(); ++i) l(static_cast<int32_t>(i) + 1) = slots[i];
    return l;
  }

  std::unique_ptr<BlockCarrBuffClass> Buffer(const VbArray<int32_t>& list) {
    auto b = std::make_unique<BlockCarrBuffClass>(engine, memory);
    b->BuffBlocksPutFresh(list);
    return b;
  }

  // Window read of `count` samples at `from` into a fresh array.
  static std::vector<int16_t> Window(BlockCarrBuffClass& b, int32_t from, int32_t count) {
    VbArray<int16_t> q(0, count);
    b.QuickBuffGet(from, q);
    return From1(q);
  }

  static std::vector<int16_t> FileSamples(const std::string& path) {
    std::vector<int16_t> s(static_cast<size_t>(platform::files::Length(path) / 2));
    platform::files::ReadAt(path, s.data(), s.size() * 2, 0);
    return s;
  }

  TempDir tmp;
  platform::MessageBox box;
  int32_t memory = 100'000'000;
  std::string appTmpDir = tmp.Path();
  VodoRaraZodorUze engine{memory, appTmpDir, box};
};

// A channel of five blocks, one of each kind:
//   1..4   memory block          1, 2, 3, 4
//   5..10  block file from byte 3 (one sample skipped): 105..110
//   11..13 16-bit mono Orgfile behind a 44-byte header: 211..213
//   14..15 silence
//   16..18 8-bit mono Orgfile bytes 0x00, 0x80, 0xFF
class MixedChannelTest : public BlockCarrBuffTest {
 protected:
  MixedChannelTest() {
    testing_support::WriteSamples(tmp.File("blk.raw"), Ramp(104, 7));
    std::vector<uint8_t> wav(44, 0xEE);
    for (int16_t v : Ramp(211, 3)) {
      wav.push_back(static_cast<uint8_t>(v & 0xFF));
      wav.push_back(static_cast<uint8_t>(v >> 8));
    }
    testing_support::WriteBytes(tmp.File("org16.wav"), wav);
    testing_support::WriteBytes(tmp.File("org8.wav"), {0x11, 0x00, 0x80, 0xFF});
    const auto ingested = Ingest(HostList()
                                     .Blk(tmp.File("blk.raw"), 6, 5, 3)
                                     .Org(tmp.File("org16.wav"), 3, 11, 45, 1, 16)
                                     .Silent(2, 14)
                                     .Org(tmp.File("org8.wav"), 3, 16, 2, 1, 8));
    slots = {MemBlock({1, 2, 3, 4}, 1), ingested(1), ingested(2), ingested(3), ingested(4)};
    buff = Buffer(List(slots));
  }
  ~MixedChannelTest() override { buff.reset(); }

  const std::vector<int16_t> whole = Concat({{1, 2, 3, 4}, Ramp(105, 6), Ramp(211, 3), {0, 0}, {-128, 0, 127}});
  std::vector<int32_t> slots;
  std::unique_ptr<BlockCarrBuffClass> buff;
};

TEST_F(MixedChannelTest, WindowReadsJoinBlocksOfEveryTypeWithoutGapOrOverlap) {
  EXPECT_EQ(buff->WaveINos(), 18);
  EXPECT_EQ(buff->BuffBlockCount(), 5);
  EXPECT_EQ(Window(*buff, 1, 18), whole);
  EXPECT_EQ(Window(*buff, 3, 4), (std::vector<int16_t>{3, 4, 105, 106}));          // two blocks
  EXPECT_EQ(Window(*buff, 9, 7), (std::vector<int16_t>{109, 110, 211, 212, 213, 0, 0}));  // three blocks
  EXPECT_EQ(Window(*buff, 16, 3), (std::vector<int16_t>{-128, 0, 127}));          // 8-bit bytes
  EXPECT_EQ(Window(*buff, 12, 1), std::vector<int16_t>{212});                     // one sample
  EXPECT_EQ(Window(*buff, 6, 2), (std::vector<int16_t>{106, 107}));               // inside one block file
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(MixedChannelTest, WindowReadLeavesUncoveredElementsAndElementZeroAlone) {
  VbArray<int16_t> q(0, 6);
  for (int32_t i = 0; i <= 6; ++i) q(i) = 999;
  buff->QuickBuffGet(15, q);  // positions 15..20; 19 and 20 lie past the end
  EXPECT_EQ(From1(q), (std::vector<int16_t>{0, -128, 0, 127, 999, 999}));
  EXPECT_EQ(q(0), 999);

  for (int32_t i = 0; i <= 6; ++i) q(i) = 999;
  const int32_t before = -2;  // positions -2..3
  buff->QuickBuffGet(before, q);
  EXPECT_EQ(From1(q), (std::vector<int16_t>{999, 999, 999, 1, 2, 3}));
  EXPECT_EQ(before, -2);

  for (int32_t i = 0; i <= 6; ++i) q(i) = 999;
  buff->QuickBuffGet(-10, q);
  buff->QuickBuffGet(19, q);
  EXPECT_EQ(From1(q), std::vector<int16_t>(6, 999));
  EXPECT_EQ(q(0), 999);
}

TEST_F(MixedChannelTest, WindowReadNeitherLoadsNorStampsNorMovesTheCache) {
  std::vector<int32_t> types, stamps;
  for (int32_t s : slots) {
    types.push_back(engine.Blocks(s).BlockType);
    stamps.push_back(engine.Blocks(s).UseStamp);
  }
  const int32_t memoryBefore = engine.MemoryInUse;
  const int32_t cur = buff->CurBlock();
  const int64_t opens = engine.FileOpens;
  EXPECT_EQ(Window(*buff, 1, 18), whole);
  EXPECT_EQ(Window(*buff, 1, 18), whole);
  for (size_t i = 0; i < slots.size(); ++i) {
    EXPECT_EQ(engine.Blocks(slots[i]).BlockType, types[i]);
    EXPECT_EQ(engine.Blocks(slots[i]).UseStamp, stamps[i]);
  }
  EXPECT_EQ(engine.MemoryInUse, memoryBefore);
  EXPECT_EQ(buff->CurBlock(), cur);
  // One block file and two Orgfiles: the second pass reopens the two Orgfiles
  // only, since one Orgfile is open at a time and the block file stays open.
  EXPECT_EQ(engine.FileOpens - opens, 5);
}

TEST_F(MixedChannelTest, SingleSampleReadsLoadFileBlocksAndAgreeWithTheWindow) {
  for (int32_t p = 1; p <= 18; ++p) EXPECT_EQ(buff->WaveLR(p), whole[static_cast<size_t>(p - 1)]) << p;
  EXPECT_EQ(buff->WaveLR(0), 0);
  EXPECT_EQ(buff->WaveLR(19), 0);
  EXPECT_EQ(buff->CurBlock(), 0);
  // The block file block is now in memory with its file copy, the Orgfile
  // blocks are memory blocks, silence stays silent.
  EXPECT_EQ(engine.Blocks(slots[1]).BlockType, BlockMemFile);
  EXPECT_EQ(engine.Blocks(slots[2]).BlockType, BlockMem);
  EXPECT_EQ(engine.Blocks(slots[3]).BlockType, BlockSilent);
  EXPECT_EQ(engine.Blocks(slots[4]).BlockType, BlockMem);
  EXPECT_EQ(Window(*buff, 1, 18), whole);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(MixedChannelTest, WritingAMemFileBlockDetachesItAndLeavesTheBlockFileAlone) {
  const int32_t blkSlot = engine.Blocks(slots[1]).FileSlot;
  EXPECT_EQ(buff->WaveLR(7), 107);  // loads: type 3 -> 1
  EXPECT_EQ(engine.Blocks(slots[1]).BlockType, BlockMemFile);
  EXPECT_EQ(engine.BlkFiles(blkSlot).RefCount, 1);

  buff->SetWaveLR(7, -7);
  EXPECT_EQ(engine.Blocks(slots[1]).BlockType, BlockMem);
  EXPECT_EQ(engine.BlkFiles(blkSlot).RefCount, 0);
  EXPECT_EQ(buff->WaveLR(7), -7);
  EXPECT_EQ(Window(*buff, 6, 3), (std::vector<int16_t>{106, -7, 108}));
  EXPECT_EQ(FileSamples(tmp.File("blk.raw")), Ramp(104, 7));

  // Writing silence makes a memory block of it; outside the channel nothing happens.
  buff->SetWaveLR(15, 15);
  EXPECT_EQ(engine.Blocks(slots[3]).BlockType, BlockMem);
  buff->SetWaveLR(19, 19);
  buff->SetWaveLR(0, 19);
  EXPECT_EQ(Window(*buff, 13, 4), (std::vector<int16_t>{213, 0, 15, -128}));
  EXPECT_EQ(buff->WaveINos(), 18);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(MixedChannelTest, ChunkReadKeepsOneArrayAndClearsWhatNoBlockCovers) {
  VbArray<int16_t>& first = buff->ChunkRead(1, 18);
  EXPECT_EQ(From1(first), whole);
  const int16_t* storage = first.Ptr(0);
  first(3) = 333;  // the caller may change the samples in place
  VbArray<int16_t>& past = buff->ChunkRead(15, 6);  // 19 and 20 lie past the end
  EXPECT_EQ(&past, &first);
  EXPECT_EQ(past.LBound(), 0);
  EXPECT_EQ(From1(past), (std::vector<int16_t>{0, -128, 0, 127, 0, 0}));
  EXPECT_EQ(From1(buff->ChunkRead(2, 4)), (std::vector<int16_t>{2, 3, 4, 105}));
  EXPECT_EQ(buff->ChunkRead(-1, 3).Ptr(0), storage);
  EXPECT_EQ(From1(buff->ChunkRead(-1, 3)), (std::vector<int16_t>{0, 0, 1}));

  // A list with a gap (the buffer takes lists as they come): the gap reads 0.
  auto gappy = Buffer(List({MemBlock({1, 2}, 1), MemBlock({5, 6}, 5), MemBlock({7, 8, 9, 10, 11, 12}, 7)}));
  EXPECT_EQ(From1(gappy->ChunkRead(7, 6)), (std::vector<int16_t>{7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(From1(gappy->ChunkRead(1, 6)), (std::vector<int16_t>{1, 2, 0, 0, 5, 6}));
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(BlockCarrBuffTest, StereoOrgfileBlocksYieldTheChannelTheirFilePosPointsAt) {
  // Frames (L, R) = (k, -k) behind a 44-byte header, 16 and 8 bits.
  std::vector<uint8_t> w16(44, 0), w8(44, 0);
  for (int16_t k = 1; k <= 5; ++k) {
    for (int16_t v : {static_cast<int16_t>(1000 * k), static_cast<int16_t>(-1000 * k)}) {
      w16.push_back(static_cast<uint8_t>(v & 0xFF));
      w16.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    w8.push_back(static_cast<uint8_t>(128 + 20 * k));
    w8.push_back(static_cast<uint8_t>(128 - 20 * k));
  }
  testing_support::WriteBytes(tmp.File("st16.wav"), w16);
  testing_support::WriteBytes(tmp.File("st8.wav"), w8);
  auto left = Buffer(Ingest(HostList().Org(tmp.File("st16.wav"), 5, 1, 45, 2, 16).Org(tmp.File("st8.wav"), 5, 6, 45, 2, 8)));
  auto right = Buffer(Ingest(HostList().Org(tmp.File("st16.wav"), 5, 1, 47, 2, 16).Org(tmp.File("st8.wav"), 5, 6, 46, 2, 8)));
  EXPECT_EQ(Window(*left, 1, 10), (std::vector<int16_t>{1000, 2000, 3000, 4000, 5000, 20, 40, 60, 80, 100}));
  EXPECT_EQ(Window(*right, 1, 10),
            (std::vector<int16_t>{-1000, -2000, -3000, -4000, -5000, -20, -40, -60, -80, -100}));
  // A window inside the right channel's last frames reads to the file's end.
  EXPECT_EQ(Window(*right, 4, 2), (std::vector<int16_t>{-4000, -5000}));
  EXPECT_EQ(Window(*right, 9, 2), (std::vector<int16_t>{-80, -100}));
  right.reset();
  left.reset();
}

TEST_F(BlockCarrBuffTest, GrowBlockSizeFollowsTheMemoryBudget) {
  for (auto [m, g] : std::vector<std::pair<int32_t, int32_t>>{
           {0, 524288}, {10485760, 524288}, {20000030, 1000000}, {20000090, 1000004}, {50000000, 2500000}}) {
    EXPECT_EQ(BlockCarrBuffClass(engine, m).GrowBlockSize(), g) << m;
  }
}

TEST_F(BlockCarrBuffTest, ReDimSizeGrowsAnEmptyBufferWithSilentBlocks) {
  BlockCarrBuffClass b(engine, 0);
  const int32_t g = b.GrowBlockSize();
  b.ReDimSize(2 * g + 1);
  EXPECT_EQ(b.WaveINos(), 2 * g + 1);
  VbArray<int32_t> list;
  b.BuffBlocksGet(list);
  ASSERT_EQ(list.UBound(), 3);
  const std::vector<std::pair<int32_t, int32_t>> expected{{1, g}, {g + 1, g}, {2 * g + 1, 1}};
  for (int32_t i = 1; i <= 3; ++i) {
    const BlockRec& r = engine.Blocks(list(i));
    EXPECT_EQ(r.BlockType, BlockSilent);
    EXPECT_EQ(std::make_pair(r.StartPos, r.Length), expected[static_cast<size_t>(i - 1)]);
  }
  EXPECT_EQ(b.CurBlock(), list(1));
  EXPECT_EQ(engine.MemoryInUse, 0);

  // Growing by a little appends one short block after the last.
  b.ReDimSize(2 * g + 4);
  b.BuffBlocksGet(list);
  ASSERT_EQ(list.UBound(), 4);
  EXPECT_EQ(engine.Blocks(list(4)).StartPos, 2 * g + 2);
  EXPECT_EQ(engine.Blocks(list(4)).Length, 3);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(BlockCarrBuffTest, ReDimSizeCutsInsideABlockAndReleasesWhatFollows) {
  testing_support::WriteSamples(tmp.File("cut.raw"), Ramp(1, 10));
  testing_support::WriteSamples(tmp.File("org.wav"), Ramp(11, 10));
  auto idx = Ingest(HostList().Blk(tmp.File("cut.raw"), 10, 1, 1).Org(tmp.File("org.wav"), 10, 11, 1, 1, 16).Silent(10, 21));
  const int32_t blkFile = engine.Blocks(idx(1)).FileSlot;
  const int32_t orgFile = engine.Blocks(idx(2)).FileSlot;
  auto b = Buffer(idx);
  const auto original = Window(*b, 1, 30);

  // Equal size: nothing changes.
  b->ReDimSize(30);
  VbArray<int32_t> list;
  b->BuffBlocksGet(list);
  EXPECT_EQ(list.Storage(), idx.Storage());
  EXPECT_EQ(Window(*b, 1, 30), original);

  // Inside the Orgfile block: it is loaded, split, the left part kept.
  b->ReDimSize(15);
  b->BuffBlocksGet(list);
  ASSERT_EQ(list.UBound(), 2);
  EXPECT_EQ(list(1), idx(1));
  const BlockRec& left = engine.Blocks(list(2));
  EXPECT_EQ(left.BlockType, BlockMem);
  EXPECT_EQ(left.StartPos, 11);
  EXPECT_EQ(left.Length, 5);
  EXPECT_EQ(engine.Blocks(idx(2)).BlockType, BlockFree);
  EXPECT_EQ(engine.Blocks(idx(3)).BlockType, BlockFree);
  EXPECT_EQ(engine.OrgFiles(orgFile).RefCount, 0);
  EXPECT_EQ(engine.MemoryInUse, 10);
  EXPECT_EQ(b->WaveINos(), 15);
  EXPECT_EQ(b->CurBlock(), idx(1));
  EXPECT_EQ(Window(*b, 1, 15), std::vector<int16_t>(original.begin(), original.begin() + 15));

  // Inside the block file block: two type-3 parts, the file counted once again.
  b->ReDimSize(7);
  b->BuffBlocksGet(list);
  ASSERT_EQ(list.UBound(), 1);
  EXPECT_EQ(engine.Blocks(list(1)).BlockType, BlockFile);
  EXPECT_EQ(engine.Blocks(list(1)).Length, 7);
  EXPECT_EQ(engine.Blocks(list(1)).FilePos, 1);
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 1);
  EXPECT_EQ(engine.MemoryInUse, 0);
  EXPECT_EQ(Window(*b, 1, 7), Ramp(1, 7));
  EXPECT_EQ(b->WaveLR(8), 0);
  EXPECT_TRUE(box.Shown().empty());

  // Zero is refused with its message and changes nothing.
  b->ReDimSize(0);
  EXPECT_EQ(box.Shown(), std::vector<std::string>{"Error:\r\nCan not create buffer with zero size"});
  EXPECT_EQ(b->WaveINos(), 7);
  EXPECT_EQ(b->BuffBlockCount(), 1);
  b.reset();
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 0);
  EXPECT_EQ(engine.BlkFiles(blkFile).Name, "");
  EXPECT_EQ(engine.OrgFiles(orgFile).Name, "");
}

TEST_F(BlockCarrBuffTest, CopiesOfTheListOutliveTheBuffer) {
  testing_support::WriteSamples(tmp.File("c.raw"), Ramp(-3, 6));
  auto idx = Ingest(HostList().Blk(tmp.File("c.raw"), 6, 1, 1));
  const int32_t mem = MemBlock({7, 8}, 7);
  VbArray<int32_t> list(0, 2);
  list(1) = idx(1);
  list(2) = mem;
  const int32_t blkFile = engine.Blocks(idx(1)).FileSlot;
  auto b = Buffer(list);

  VbArray<int32_t> copies;
  b->BuffBlocksGetCopy(copies);
  ASSERT_EQ(copies.UBound(), 2);
  EXPECT_NE(copies(1), idx(1));
  EXPECT_NE(copies(2), mem);
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 2);
  EXPECT_EQ(engine.MemoryInUse, 8);

  b.reset();  // releases the originals; the copies keep the file slot alive
  EXPECT_EQ(engine.Blocks(idx(1)).BlockType, BlockFree);
  EXPECT_EQ(engine.Blocks(mem).BlockType, BlockFree);
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 1);
  EXPECT_EQ(engine.BlkFiles(blkFile).Name, tmp.File("c.raw"));
  EXPECT_EQ(engine.MemoryInUse, 4);

  auto again = Buffer(copies);
  EXPECT_EQ(Window(*again, 1, 8), (std::vector<int16_t>{-3, -2, -1, 0, 1, 2, 7, 8}));
  again.reset();
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 0);
  EXPECT_EQ(engine.MemoryInUse, 0);
}

TEST_F(BlockCarrBuffTest, PutFreshReplacesTheListAndAnEmptyListEndsInARangeError) {
  auto b = Buffer(List({MemBlock({1, 2, 3}, 1)}));
  const int32_t old = b->CurBlock();
  const auto fresh = List({MemBlock({4}, 1), MemBlock({5, 6}, 2)});
  b->BuffBlocksPutFresh(fresh);
  EXPECT_EQ(engine.Blocks(old).BlockType, BlockFree);
  EXPECT_EQ(b->WaveINos(), 3);
  EXPECT_EQ(b->CurBlock(), fresh(1));
  EXPECT_EQ(Window(*b, 1, 3), (std::vector<int16_t>{4, 5, 6}));
  EXPECT_EQ(engine.MemoryInUse, 6);

  EXPECT_THROW(b->BuffBlocksPutFresh(VbArray<int32_t>(0, 0)), platform::RangeError);
  EXPECT_EQ(b->WaveINos(), 0);
  EXPECT_EQ(b->BuffBlockCount(), 0);
  EXPECT_EQ(engine.MemoryInUse, 0);
}

TEST_F(BlockCarrBuffTest, AMissingBlockFileEndsTheWindowReadWithAFileError) {
  auto b = Buffer(Ingest(HostList().Silent(2, 1).Blk(tmp.File("gone.raw"), 4, 3, 1)));
  VbArray<int16_t> q(0, 6);
  try {
    b->QuickBuffGet(1, q);
    FAIL() << "no error";
  } catch (const platform::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("gone.raw"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Window(*b, 1, 2), (std::vector<int16_t>{0, 0}));
}

}  // namespace
