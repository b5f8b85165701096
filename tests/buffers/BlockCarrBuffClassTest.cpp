// The channel buffer over every kind of source: window reads and single
// samples frame for frame, forward and in reverse; the play chunk builder's
// window read; the release.

#include "buffers/BlockCarrBuffClass.h"

#include <cstdlib>
#include <memory>
#include <numeric>
#include <ranges>

#include "tests/blocks/BlocksFixture.h"

namespace {

using runtime::VbArray;
using V = std::vector<int16_t>;

V From1(const VbArray<int16_t>& a) { return V(a.Storage().begin() + 1, a.Storage().end()); }

class ChannelTest : public BlocksTest {
 protected:
  int32_t MemBlock(const V& values, int32_t startPos) {
    const int32_t s = eng.NewBlock(static_cast<int32_t>(values.size()), blocks::BlockMem);
    eng.Blocks(s).Samples.Storage() = values;
    eng.Blocks(s).StartPos = startPos;
    return s;
  }
  std::unique_ptr<buffers::BlockCarrBuffClass> Buffer(const std::vector<int32_t>& list) {
    auto b = std::make_unique<buffers::BlockCarrBuffClass>(eng, 0);
    b->BuffBlocksPutFresh(Array(list, 1, 0));
    return b;
  }
  static V Window(buffers::BlockCarrBuffClass& b, int32_t from, int32_t count) {
    VbArray<int16_t> q(0, count);
    b.QuickBuffGet(from, q);
    return From1(q);
  }
};

// One channel with a block of every kind of source:
//   1..4   memory block                                  1..4
//   5..10  block file from byte 3 (one sample skipped)   105..110
//   11..13 16-bit mono WAV behind a 44-byte header       211..213
//   14..19 16-bit stereo WAV, left then right channel    -1..-3, 301..303
//   20..25 8-bit stereo WAV, left then right channel     bytes - 128
//   26..28 8-bit mono WAV from its second byte           -128, 0, 127
//   29..30 silence, 31..32 a WAV of no known layout (reads as silence)
class EverySourceTest : public ChannelTest {
 protected:
  EverySourceTest() {
    const std::string blk = WriteSamples("blk.raw", {104, 105, 106, 107, 108, 109, 110});
    std::vector<uint8_t> mono16{211, 0, 212, 0, 213, 0};
    mono16.insert(mono16.begin(), 44, 0xEE);  // the header
    const std::string st16 = WriteSamples("s16.wav", {-1, 301, -2, 302, -3, 303});
    const std::string st8 = WriteBytes("s8.wav", {0x00, 0xFF, 0x80, 0x01, 0xFF, 0x7F});
    std::vector<int32_t> list =
        Ingest({{blk, 6, blocks::BlockFile, 5, 3},
                {WriteBytes("m16.wav", mono16), 3, blocks::BlockOrg, 11, 45, 1, 16},
                {st16, 3, blocks::BlockOrg, 14, 1, 2, 16},
                {st16, 3, blocks::BlockOrg, 17, 3, 2, 16},
                {st8, 3, blocks::BlockOrg, 20, 1, 2, 8},
                {st8, 3, blocks::BlockOrg, 23, 2, 2, 8},
                {WriteBytes("m8.wav", {0x11, 0x00, 0x80, 0xFF}), 3, blocks::BlockOrg, 26, 2, 1, 8},
                {"", 2, blocks::BlockSilent, 29},
                {WriteBytes("u12.wav", {1, 2, 3, 4}), 2, blocks::BlockOrg, 31, 1, 1, 12}});
    list.insert(list.begin(), MemBlock({1, 2, 3, 4}, 1));
    buff = Buffer(list);
  }
  const V whole{1,   2,   3,   4,    105, 106, 107, 108,  109, 110,  211, 212, 213, -1, -2, -3,
                301, 302, 303, -128, 0,   127, 127, -127, -1,  -128, 0,   127, 0,   0,  0,  0};
  std::unique_ptr<buffers::BlockCarrBuffClass> buff;
};

TEST_F(EverySourceTest, WindowsOfEveryLengthReadFrameForFrameForwardAndBackward) {
  ASSERT_EQ(buff->WaveINos(), 32);
  for (int32_t n = 1; n <= 32; ++n) {
    V forward, reverse;
    for (int32_t done = 0; done < 32; done += n) {
      const V ahead = Window(*buff, 1 + done, std::min(n, 32 - done));
      forward.insert(forward.end(), ahead.begin(), ahead.end());
      const V behind = Window(*buff, std::max(1, 32 - done - n + 1), std::min(n, 32 - done));
      reverse.insert(reverse.begin(), behind.begin(), behind.end());
    }
    EXPECT_EQ(forward, whole) << "windows of " << n;
    EXPECT_EQ(reverse, whole) << "windows of " << n;
  }
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(EverySourceTest, SingleSamplesLoadTheirBlocksBackwardAndForwardAndKeepTheMemoryCount) {
  // From 33 back to 0, then forward again from memory; 0 and 33 lie outside.
  for (int32_t p : std::views::iota(-33, 34) | std::views::transform([](int32_t k) { return std::abs(k); }))
    EXPECT_EQ(buff->WaveLR(p), p == 0 || p == 33 ? 0 : whole[static_cast<size_t>(p - 1)]) << p;
  EXPECT_EQ(eng.MemoryInUse, RecountMemory());
}

TEST_F(ChannelTest, ChunkReadKeepsOneArrayAndClearsWhatNoBlockCovers) {
  auto b = Buffer({MemBlock({1, 2}, 1), MemBlock({5, 6}, 5), MemBlock({7, 8, 9, 10}, 7)});
  VbArray<int16_t>& first = b->ChunkRead(7, 4);
  EXPECT_EQ(From1(first), (V{7, 8, 9, 10}));
  VbArray<int16_t>& gap = b->ChunkRead(1, 6);
  EXPECT_EQ(&gap, &first);
  EXPECT_EQ(From1(gap), (V{1, 2, 0, 0, 5, 6}));
  EXPECT_EQ(From1(b->ChunkRead(9, 4)), (V{9, 10, 0, 0}));  // past the end
  EXPECT_EQ(From1(b->ChunkRead(-1, 3)), (V{0, 0, 1}));
}

// Resizing, single-sample writes and the list handed out are not used in
// playback today, so only the release is checked here; copies, splits and writable blocks are checked against a
// model by RandomMixTest. A ramp 1..20: 1..10 from a block file, 11..20 from
// an Orgfile.
class ResizeTest : public ChannelTest {
 protected:
  ResizeTest() {
    std::iota(ramp.begin(), ramp.end(), 1);
    b = Buffer(Ingest({{WriteSamples("cut.raw", ramp), 10, blocks::BlockFile, 1, 1},
                       {WriteSamples("org.wav", ramp), 10, blocks::BlockOrg, 11, 21}}));
  }
  V ramp = V(20);
  std::unique_ptr<buffers::BlockCarrBuffClass> b;
};

TEST_F(ResizeTest, ReleasingTheBufferReleasesEveryBlockAndForgetsTheFiles) {
  b.reset();
  EXPECT_EQ(eng.BlkFiles(1).Name, "");
  EXPECT_EQ(eng.OrgFiles(1).Name, "");
}

}  // namespace
