// The play chunk builder on real channel buffers: the end-of-wave tick count
// at its single-precision edge, 8-bit scaling and its overflow, and the
// direct reads of a window inside one block at every chunk length, both ways.
// The bookkeeping of whole runs (short and empty final chunks, a run ending
// on a half boundary, reverse play across blocks) is played frame for frame
// by each engine in tests/engines.

#include "stream/FillPlayChunk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "buffers/BlockCarrBuffClass.h"
#include "platform/os/Errors.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"
#include "state/Dx9CallBackMod.h"
#include "state/PlayDllMod.h"
#include "tests/support/TestWorld.h"

namespace {

using runtime::VbArray;
using testing_support::HostList;

// The values a call leaves for the engines: ChunkFilled, ChunkBytes, TailMs,
// EndHalf, EndTicks, PlayProgress.
using Books = std::vector<int32_t>;

class FillPlayChunkTest : public ::testing::Test {
 protected:
  FillPlayChunkTest() { box.SetQuiet(true); }

  // Format and the engines' geometry: two halves of chunkSamples frames, and
  // the start of play.
  void Setup(int32_t channels, int32_t bits, int32_t friq, int32_t chunkSamples, int32_t waveNos, int32_t direction) {
    mod.FmtChannal = channels;
    mod.FmtBits = bits;
    mod.FmtFriq = friq;
    mod.ChunkSamples = chunkSamples;
    mod.HalfOffset = chunkSamples * channels;
    mod.PlayChunkLen = 2 * mod.HalfOffset;
    mod.WaveNos = waveNos;
    mod.PlayDirection = direction;
    mod.PlayProgress = 1;
  }

  std::unique_ptr<buffers::BlockCarrBuffClass> Ingested(const HostList& list) {
    VbArray<int32_t> idx;
    engine.BlockListIngest(list.Build(), idx);
    auto b = std::make_unique<buffers::BlockCarrBuffClass>(engine, memory);
    b->BuffBlocksPutFresh(idx);
    return b;
  }
  bool Fill(int32_t half) { return stream::FillPlayChunk(mod, dx9, half); }

  // Elements from..to of PlayChunk.
  std::vector<int16_t> Chunk(int32_t from, int32_t to) const {
    return std::vector<int16_t>(mod.PlayChunk.Ptr(from), mod.PlayChunk.Ptr(to) + 1);
  }
  Books Bookkeeping() const {
    return {mod.ChunkFilled, mod.ChunkBytes, mod.TailMs, dx9.EndHalf, dx9.EndTicks, mod.PlayProgress};
  }

  testing_support::TempDir tmp;
  os::MessageBox box;
  int32_t memory = 100'000'000;
  std::string appTmpDir = tmp.Path();
  blocks::VodoRaraZodorUze engine{memory, appTmpDir, box};
  state::PlayDllMod mod;  // after the engine: its buffers release their records into it
  state::Dx9CallBackMod dx9;
};

// Interleaved frames of positions first, first + 1, ...: left 3 * position, right -position.
std::vector<int16_t> Frames(int32_t first, int32_t count) {
  std::vector<int16_t> v;
  for (int32_t p = first; p < first + count; ++p)
    v.insert(v.end(), {static_cast<int16_t>(p * 3), static_cast<int16_t>(-p)});
  return v;
}

TEST_F(FillPlayChunkTest, EndTicksUseTheSinglePrecisionTenth) {
  // 999 frames at 1000 Hz: TailMs 1000, and 1.0 / 0.1f is just under 10.
  mod.ChanBuffL = Ingested(HostList().Silent(999, 1));
  Setup(1, 16, 1000, 2000, 999, 1);
  EXPECT_TRUE(Fill(1));
  EXPECT_EQ(Bookkeeping(), (Books{999, 1998, 1000, 1, 10, 1000}));
}

// Left 0x00, 0x80, 0xFF and right 0xFF, 0x81, 0x00 from an 8-bit stereo Orgfile.
class EightBitTest : public FillPlayChunkTest {
 protected:
  EightBitTest() {
    testing_support::WriteBytes(tmp.File("st8.wav"), {0x00, 0xFF, 0x80, 0x81, 0xFF, 0x00});
    mod.ChanBuffL = Ingested(HostList().Org(tmp.File("st8.wav"), 3, 1, 1, 2, 8));
    mod.ChanBuffR = Ingested(HostList().Org(tmp.File("st8.wav"), 3, 1, 2, 2, 8));
    Setup(2, 8, 11025, 4, 3, 1);
  }
};

TEST_F(EightBitTest, SamplesAreScaledBy256) {
  EXPECT_TRUE(Fill(1));
  EXPECT_EQ(Chunk(1, 8), (std::vector<int16_t>{-32768, 32512, 0, 256, 32512, -32768, 0, 0}));
  EXPECT_EQ(mod.ChunkBytes, 12);
}

// A sample outside -128..127 does not fit 16 bits: the frames go out in play
// order, left before right, until that one; the rest stays cleared, and
// PlayProgress does not move.
TEST_F(EightBitTest, ASampleThatDoesNotFit16BitsEndsTheChunkAtItInPlayOrder) {
  testing_support::WriteSamples(tmp.File("r.raw"), {1, 2, 128});
  mod.ChanBuffR = Ingested(HostList().Blk(tmp.File("r.raw"), 3, 1, 1));
  EXPECT_THROW(Fill(1), os::OverflowError);
  EXPECT_EQ(mod.PlayProgress, 1);
  EXPECT_EQ(Chunk(1, 8), (std::vector<int16_t>{-32768, 256, 0, 512, 32512, 0, 0, 0}));
  mod.PlayDirection = -1;
  EXPECT_THROW(Fill(2), os::OverflowError);
  EXPECT_EQ(Chunk(9, 16), (std::vector<int16_t>{32512, 0, 0, 0, 0, 0, 0, 0}));
}

// A window inside one block per channel is read straight into the chunk: both
// channels of a 16-bit stereo Orgfile with one read (but not from a file that
// stores each frame right sample first), a mono window with its block's read,
// turned round in place for reverse play. At every chunk length, both ways.
TEST_F(FillPlayChunkTest, WindowsInsideOneBlockPlayFrameExactAtEveryChunkLength) {
  constexpr int32_t kN = 80;
  const std::vector<int16_t> frames = Frames(1, kN);
  std::vector<int16_t> leftFirst(22, 0), rightFirst(22, 0);  // the 44-byte header
  for (size_t i = 0; i < frames.size(); i += 2) {
    leftFirst.insert(leftFirst.end(), {frames[i], frames[i + 1]});
    rightFirst.insert(rightFirst.end(), {frames[i + 1], frames[i]});
  }
  testing_support::WriteSamples(tmp.File("lr.wav"), leftFirst);
  testing_support::WriteSamples(tmp.File("rl.wav"), rightFirst);
  const auto channel = [&](const char* file, int32_t byte) {
    return Ingested(HostList().Org(tmp.File(file), kN, 1, byte, 2, 16));
  };
  struct Layout {
    const char* file;
    int32_t leftByte, rightByte;  // 0: mono
  };
  for (const Layout& l : {Layout{"lr.wav", 45, 47}, Layout{"rl.wav", 47, 45}, Layout{"lr.wav", 45, 0}}) {
    const int32_t channels = l.rightByte != 0 ? 2 : 1;
    mod.ChanBuffL = channel(l.file, l.leftByte);
    mod.ChanBuffR = channels == 2 ? channel(l.file, l.rightByte) : nullptr;
    for (int32_t chunk = 1; chunk <= 40; ++chunk) {
      for (const int32_t direction : {1, -1}) {
        Setup(channels, 16, 8000, chunk, kN, direction);
        mod.PlayProgress = 3;
        ASSERT_TRUE(Fill(2));
        std::vector<int16_t> expected;
        for (int32_t k = 0; k < chunk; ++k) {
          const auto frame = frames.begin() + 2 * (direction == 1 ? 2 + k : kN - 3 - k);
          expected.insert(expected.end(), frame, frame + channels);
        }
        EXPECT_EQ(Chunk(mod.HalfOffset + 1, mod.PlayChunkLen), expected)
            << l.file << ", " << channels << " channel(s), chunk " << chunk << ", direction " << direction;
      }
    }
  }
}

}  // namespace
