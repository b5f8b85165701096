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
using V = std::vector<int16_t>;

V Ramp(int16_t first, int count) {
  V v;
  for (int i = 0; i < count; ++i) v.push_back(static_cast<int16_t>(first + i));
  return v;
}

V Concat(std::initializer_list<V> parts) {
  V v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

V From1(const VbArray<int16_t>& a) { return V(a.Storage().begin() + (1 - a.LBound()), a.Storage().end()); }

class BlockCarrBuffTest : public ::testing::Test {
 protected:
  BlockCarrBuffTest() { box.SetQuiet(true); }

  VbArray<int32_t> Ingest(const HostList& list) {
    VbArray<int32_t> idx;
    engine.BlockListIngest(list.Build(), idx);
    return idx;
  }
  // A memory-only block holding `values`, placed at `startPos`.
  int32_t MemBlock(const V& values, int32_t startPos) {
    const int32_t s = engine.NewBlock(static_cast<int32_t>(values.size()), blocks::BlockMem);
    for (size_t i = 0; i < values.size(); ++i) engine.Blocks(s).Samples(static_cast<int32_t>(i)) = values[i];
    engine.Blocks(s).StartPos = startPos;
    return s;
  }
  static VbArray<int32_t> List(const std::vector<int32_t>& slots) {
    VbArray<int32_t> l(0, static_cast<int32_t>(slots.size()));
    for (size_t i = 0; i < slots.size(); ++i) l(static_cast<int32_t>(i) + 1) = slots[i];
    return l;
  }
  std::unique_ptr<buffers::BlockCarrBuffClass> Buffer(const VbArray<int32_t>& list) {
    auto b = std::make_unique<buffers::BlockCarrBuffClass>(engine, memory);
    b->BuffBlocksPutFresh(list);
    return b;
  }
  // Window read of `count` samples at `from` into a fresh array.
  static V Window(buffers::BlockCarrBuffClass& b, int32_t from, int32_t count) {
    VbArray<int16_t> q(0, count);
    b.QuickBuffGet(from, q);
    return From1(q);
  }
  std::vector<int32_t> Listed(buffers::BlockCarrBuffClass& b) {
    VbArray<int32_t> list;
    b.BuffBlocksGet(list);
    return std::vector<int32_t>(list.Storage().begin() + 1, list.Storage().end());
  }

  testing_support::TempDir tmp;
  platform::MessageBox box;
  int32_t memory = 100'000'000;
  std::string appTmpDir = tmp.Path();
  blocks::VodoRaraZodorUze engine{memory, appTmpDir, box};
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
    for (uint8_t b : {211, 0, 212, 0, 213, 0}) wav.push_back(b);
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

  const V whole = Concat({{1, 2, 3, 4}, Ramp(105, 6), Ramp(211, 3), {0, 0}, {-128, 0, 127}});
  std::vector<int32_t> slots;
  std::unique_ptr<buffers::BlockCarrBuffClass> buff;
};

TEST_F(MixedChannelTest, WindowReadsJoinEveryBlockTypeAndLeaveTheCacheAlone) {
  std::vector<int32_t> types, stamps;
  for (int32_t s : slots) {
    types.push_back(engine.Blocks(s).BlockType);
    stamps.push_back(engine.Blocks(s).UseStamp);
  }
  const int32_t memoryBefore = engine.MemoryInUse;
  const int32_t cur = buff->CurBlock();
  EXPECT_EQ(buff->WaveINos(), 18);
  EXPECT_EQ(Window(*buff, 1, 18), whole);
  EXPECT_EQ(Window(*buff, 3, 4), (V{3, 4, 105, 106}));                   // two blocks
  EXPECT_EQ(Window(*buff, 9, 7), (V{109, 110, 211, 212, 213, 0, 0}));    // three blocks
  EXPECT_EQ(Window(*buff, 16, 3), (V{-128, 0, 127}));                    // 8-bit bytes
  EXPECT_EQ(Window(*buff, 12, 1), V{212});                               // one sample
  for (size_t i = 0; i < slots.size(); ++i) {
    EXPECT_EQ(engine.Blocks(slots[i]).BlockType, types[i]);
    EXPECT_EQ(engine.Blocks(slots[i]).UseStamp, stamps[i]);
  }
  EXPECT_EQ(engine.MemoryInUse, memoryBefore);
  EXPECT_EQ(buff->CurBlock(), cur);

  // Elements outside the wave, and element 0, are never written.
  VbArray<int16_t> q(0, 6);
  for (const auto& [from, expected] : std::vector<std::pair<int32_t, V>>{
           {15, {0, -128, 0, 127, 999, 999}}, {-2, {999, 999, 999, 1, 2, 3}}, {-10, V(6, 999)}, {19, V(6, 999)}}) {
    for (int32_t i = 0; i <= 6; ++i) q(i) = 999;
    buff->QuickBuffGet(from, q);
    EXPECT_EQ(From1(q), expected) << from;
    EXPECT_EQ(q(0), 999);
  }
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(MixedChannelTest, SingleSampleReadsAgreeWithTheWindowAndAWriteDetachesTheBlockFile) {
  for (int32_t p = 0; p <= 19; ++p)
    EXPECT_EQ(buff->WaveLR(p), p == 0 || p == 19 ? 0 : whole[static_cast<size_t>(p - 1)]) << p;
  const int32_t blkSlot = engine.Blocks(slots[1]).FileSlot;
  EXPECT_EQ(engine.Blocks(slots[1]).BlockType, blocks::BlockMemFile);  // loaded with its file copy
  buff->SetWaveLR(7, -7);
  EXPECT_EQ(engine.Blocks(slots[1]).BlockType, blocks::BlockMem);
  EXPECT_EQ(engine.BlkFiles(blkSlot).RefCount, 0);
  V onDisk(7);
  platform::files::ReadAt(tmp.File("blk.raw"), onDisk.data(), 14, 0);
  EXPECT_EQ(onDisk, Ramp(104, 7));
  buff->SetWaveLR(15, 15);  // silence becomes a memory block; outside the channel nothing happens
  buff->SetWaveLR(19, 19);
  buff->SetWaveLR(0, 19);
  EXPECT_EQ(Window(*buff, 6, 11), (V{106, -7, 108, 109, 110, 211, 212, 213, 0, 15, -128}));
  EXPECT_EQ(buff->WaveINos(), 18);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(MixedChannelTest, ChunkReadKeepsOneArrayAndClearsWhatNoBlockCovers) {
  VbArray<int16_t>& first = buff->ChunkRead(1, 18);
  EXPECT_EQ(From1(first), whole);
  VbArray<int16_t>& past = buff->ChunkRead(15, 6);  // 19 and 20 lie past the end
  EXPECT_EQ(&past, &first);
  EXPECT_EQ(From1(past), (V{0, -128, 0, 127, 0, 0}));
  EXPECT_EQ(From1(buff->ChunkRead(-1, 3)), (V{0, 0, 1}));
  // A list with a gap: the gap reads 0.
  auto gappy = Buffer(List({MemBlock({1, 2}, 1), MemBlock({5, 6}, 5), MemBlock({7, 8, 9, 10}, 7)}));
  EXPECT_EQ(From1(gappy->ChunkRead(7, 4)), (V{7, 8, 9, 10}));
  EXPECT_EQ(From1(gappy->ChunkRead(1, 6)), (V{1, 2, 0, 0, 5, 6}));
}

TEST_F(BlockCarrBuffTest, ReDimSizeGrowsAnEmptyBufferWithSilentBlocks) {
  for (auto [m, g] : std::vector<std::pair<int32_t, int32_t>>{
           {0, 524288}, {20000030, 1000000}, {20000090, 1000004}, {50000000, 2500000}}) {
    EXPECT_EQ(buffers::BlockCarrBuffClass(engine, m).GrowBlockSize(), g) << m;
  }
  buffers::BlockCarrBuffClass b(engine, 0);
  const int32_t g = b.GrowBlockSize();
  b.ReDimSize(2 * g + 1);
  EXPECT_EQ(b.WaveINos(), 2 * g + 1);
  auto list = Listed(b);
  ASSERT_EQ(list.size(), 3u);
  const std::vector<std::pair<int32_t, int32_t>> expected{{1, g}, {g + 1, g}, {2 * g + 1, 1}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(engine.Blocks(list[i]).BlockType, blocks::BlockSilent);
    EXPECT_EQ(std::make_pair(engine.Blocks(list[i]).StartPos, engine.Blocks(list[i]).Length), expected[i]);
  }
  EXPECT_EQ(b.CurBlock(), list[0]);
  EXPECT_EQ(engine.MemoryInUse, 0);
  b.ReDimSize(2 * g + 4);  // a little more: one short block after the last
  list = Listed(b);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(std::make_pair(engine.Blocks(list[3]).StartPos, engine.Blocks(list[3]).Length),
            std::make_pair(2 * g + 2, 3));
}

TEST_F(BlockCarrBuffTest, ReDimSizeCutsInsideABlockAndReleasesWhatFollows) {
  testing_support::WriteSamples(tmp.File("cut.raw"), Ramp(1, 10));
  testing_support::WriteSamples(tmp.File("org.wav"), Ramp(11, 10));
  auto idx = Ingest(HostList().Blk(tmp.File("cut.raw"), 10, 1, 1).Org(tmp.File("org.wav"), 10, 11, 1, 1, 16).Silent(10, 21));
  const int32_t blkFile = engine.Blocks(idx(1)).FileSlot;
  const int32_t orgFile = engine.Blocks(idx(2)).FileSlot;
  auto b = Buffer(idx);

  b->ReDimSize(30);  // equal size: nothing changes
  EXPECT_EQ(Listed(*b), (std::vector<int32_t>{idx(1), idx(2), idx(3)}));
  EXPECT_EQ(Window(*b, 1, 30), Concat({Ramp(1, 20), V(10, 0)}));

  // Inside the Orgfile block: it is loaded, split, the left part kept.
  b->ReDimSize(15);
  auto list = Listed(*b);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], idx(1));
  const blocks::BlockRec& left = engine.Blocks(list[1]);
  EXPECT_EQ(left.BlockType, blocks::BlockMem);
  EXPECT_EQ(std::make_pair(left.StartPos, left.Length), std::make_pair(11, 5));
  EXPECT_EQ(engine.Blocks(idx(2)).BlockType, blocks::BlockFree);
  EXPECT_EQ(engine.Blocks(idx(3)).BlockType, blocks::BlockFree);
  EXPECT_EQ(engine.OrgFiles(orgFile).RefCount, 0);
  EXPECT_EQ(engine.MemoryInUse, 10);
  EXPECT_EQ(b->CurBlock(), idx(1));
  EXPECT_EQ(Window(*b, 1, 15), Ramp(1, 15));

  // Inside the block file block: two type-3 parts, the file counted once again.
  b->ReDimSize(7);
  list = Listed(*b);
  ASSERT_EQ(list.size(), 1u);
  const blocks::BlockRec& kept = engine.Blocks(list[0]);
  EXPECT_EQ(kept.BlockType, blocks::BlockFile);
  EXPECT_EQ(std::make_pair(kept.Length, kept.FilePos), std::make_pair(7, 1));
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 1);
  EXPECT_EQ(engine.MemoryInUse, 0);
  EXPECT_EQ(Window(*b, 1, 7), Ramp(1, 7));
  EXPECT_TRUE(box.Shown().empty());
  b->ReDimSize(0);  // refused with its message, nothing changes
  EXPECT_EQ(box.Shown(), std::vector<std::string>{"Error:\r\nCan not create buffer with zero size"});
  EXPECT_EQ(b->WaveINos(), 7);
  EXPECT_EQ(b->BuffBlockCount(), 1);
  b.reset();
  EXPECT_EQ(engine.BlkFiles(blkFile).RefCount, 0);
  EXPECT_EQ(engine.BlkFiles(blkFile).Name, "");
  EXPECT_EQ(engine.OrgFiles(orgFile).Name, "");
}

// The reference counts of copies are checked against a model by RandomMixTest.
TEST_F(BlockCarrBuffTest, CopiesOfTheListOutliveTheBufferAndPutFreshReplacesIt) {
  testing_support::WriteSamples(tmp.File("c.raw"), Ramp(-3, 6));
  auto b = Buffer(List({Ingest(HostList().Blk(tmp.File("c.raw"), 6, 1, 1))(1), MemBlock({7, 8}, 7)}));
  VbArray<int32_t> copies;
  b->BuffBlocksGetCopy(copies);
  b.reset();
  auto again = Buffer(copies);
  EXPECT_EQ(Window(*again, 1, 8), (V{-3, -2, -1, 0, 1, 2, 7, 8}));
  again->BuffBlocksPutFresh(List({MemBlock({4}, 1)}));  // the old list is released
  EXPECT_EQ(engine.BlkFiles(1).RefCount, 0);
  EXPECT_EQ(engine.MemoryInUse, 2);
  EXPECT_EQ(again->WaveINos(), 1);
  EXPECT_THROW(again->BuffBlocksPutFresh(VbArray<int32_t>(0, 0)), platform::RangeError);
  EXPECT_EQ(again->WaveINos(), 0);
  EXPECT_EQ(engine.MemoryInUse, 0);
}

}  // namespace
