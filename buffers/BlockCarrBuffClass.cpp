#include "buffers/BlockCarrBuffClass.h"

#include <cstdint>
#include <exception>

#include "platform/runtime/VbMath.h"

namespace buffers {

namespace {

constexpr int32_t kMinGrowBlockSize = 524288;  // 0x80000 samples

// A twentieth of the memory budget, rounded half to even, down to a multiple
// of 4, and never below kMinGrowBlockSize.
int32_t GrowBlockSizeFor(int32_t memorySizeToUse) {
  int32_t v = vb::CLng(memorySizeToUse / 20.0);
  v &= ~int32_t{3};
  return v < kMinGrowBlockSize ? kMinGrowBlockSize : v;
}

// Last position a block covers.
int32_t EndOf(const blocks::BlockRec& b) { return vb::Sub(vb::Add(b.StartPos, b.Length), 1); }

// The share of the window F..W (N samples) that a block S..E covers: its first
// position A and its count C, by the first row that matches; C is 0 when the
// block and the window do not meet.
struct Share {
  int32_t A = 0;
  int32_t C = 0;
};
Share ShareOf(int32_t S, int32_t E, int32_t length, int32_t F, int32_t W, int32_t N) {
  if (S <= F && E >= W) return {F, N};                     // the block covers the window
  if (S >= F && E <= W) return {S, length};                // the block lies inside the window
  if (S < F && F <= E && E < W) return {F, E - F + 1};     // it covers the window's start
  if (F < S && S <= W && E > W) return {S, W - S + 1};     // it covers the window's end
  return {};
}

}  // namespace

BlockCarrBuffClass::BlockCarrBuffClass(blocks::VodoRaraZodorUze& blocks, int32_t memorySizeToUse)
    : blocks_(blocks), GrowBlockSize_(GrowBlockSizeFor(memorySizeToUse)) {
  BuffBlockCount_ = 0;
  BuffBlocks_.ReDim(0, 0);
  WaveINos_ = 0;
}

BlockCarrBuffClass::~BlockCarrBuffClass() {
  try {
    for (int32_t i = 1; i <= BuffBlockCount_; ++i) blocks_.ReleaseBlock(BuffBlocks_(i));
    blocks_.ReleaseUnusedFiles();
  } catch (const std::exception& e) {
    // Releasing does no file access of its own; should the engine fail
    // anyway, say so rather than end the process from a destructor.
    blocks_.Box().Show(e.what());
  }
}

void BlockCarrBuffClass::BuffBlocksPutFresh(const runtime::VbArray<int32_t>& NewBlkSet) {
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) blocks_.ReleaseBlock(BuffBlocks_(i));
  WaveINos_ = 0;
  BuffBlockCount_ = NewBlkSet.UBound();
  BuffBlocks_ = NewBlkSet;
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) WaveINos_ = vb::Add(WaveINos_, blocks_.Blocks(BuffBlocks_(i)).Length);
  // An empty list ends here with the out-of-range error, the list adopted.
  CurBlock_ = BuffBlocks_(1);
}

void BlockCarrBuffClass::BuffBlocksGet(runtime::VbArray<int32_t>& BlkSet) const { BlkSet = BuffBlocks_; }

void BlockCarrBuffClass::BuffBlocksGetCopy(runtime::VbArray<int32_t>& BlkSet) {
  BlkSet.ReDim(0, BuffBlockCount_);
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) BlkSet(i) = blocks_.CopyBlock(BuffBlocks_(i));
}

// The window F..W is intersected with every block in list order; each share
// is read with one positioned read (or one move from memory) into the scratch
// array and moved into QBuff in one block move.
void BlockCarrBuffClass::QuickBuffGet(const int32_t& FromPos, runtime::VbArray<int16_t>& QBuff) {
  const int32_t N = QBuff.UBound();
  const int32_t F = FromPos;
  const int32_t W = vb::Sub(vb::Add(F, N), 1);
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const int32_t block = BuffBlocks_(i);
    const blocks::BlockRec& b = blocks_.Blocks(block);
    const auto [A, C] = ShareOf(b.StartPos, EndOf(b), b.Length, F, W, N);
    if (C <= 0) continue;
    // Each share lands where it belongs in QBuff, read once.
    const int32_t at = vb::Add(vb::Sub(A, F), 1);
    (void)QBuff.Ptr(vb::Sub(vb::Add(at, C), 1));  // the share must fit the array
    blocks_.ReadBlockRangeTo(block, A, vb::Sub(vb::Add(A, C), 1), QBuff.Ptr(at));
  }
}

bool BlockCarrBuffClass::CoversRun(int32_t FromPos, int32_t N) const {
  const int32_t F = FromPos;
  const int32_t W = vb::Sub(vb::Add(F, N), 1);
  int64_t next = F;  // the first position no share has covered yet
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const blocks::BlockRec& b = blocks_.Blocks(BuffBlocks_(i));
    const auto [A, C] = ShareOf(b.StartPos, EndOf(b), b.Length, F, W, N);
    if (C <= 0) continue;
    if (A != next) return false;
    next += C;
  }
  return next == int64_t{W} + 1;
}

// Only a window that the blocks do not cover whole needs the array cleared:
// elsewhere the read overwrites every element 1..n.
runtime::VbArray<int16_t>& BlockCarrBuffClass::ChunkRead(const int32_t& FromPos, int32_t n) {
  if (n < 0 || !chunk_.Dimensioned() || chunk_.LBound() != 0 || !CoversRun(FromPos, n)) {
    chunk_.ReDim(0, n);
  } else {
    chunk_.Storage().resize(static_cast<size_t>(n) + 1);
  }
  QuickBuffGet(FromPos, chunk_);
  return chunk_;
}

int32_t BlockCarrBuffClass::SoleBlock(int32_t FromPos, int32_t n) const {
  const int64_t last = int64_t{FromPos} + n - 1;
  if (n < 1 || last > INT32_MAX) return 0;
  const auto W = static_cast<int32_t>(last);
  int32_t sole = 0;
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const blocks::BlockRec& b = blocks_.Blocks(BuffBlocks_(i));
    const int64_t end = int64_t{b.StartPos} + b.Length - 1;
    if (end > INT32_MAX || end < INT32_MIN) return 0;  // the window read reports the overflow
    const auto [A, C] = ShareOf(b.StartPos, static_cast<int32_t>(end), b.Length, FromPos, W, n);
    if (C <= 0) continue;
    if (sole != 0 || C != n) return 0;
    sole = BuffBlocks_(i);
  }
  return sole;
}

void BlockCarrBuffClass::FindBlock(int32_t WavPos) {
  CurBlock_ = 0;
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const blocks::BlockRec& b = blocks_.Blocks(BuffBlocks_(i));
    if (b.StartPos <= WavPos && WavPos < vb::Add(b.StartPos, b.Length)) {
      CurBlock_ = BuffBlocks_(i);
      blocks_.Blocks(CurBlock_).UseStamp = blocks_.NextUseStamp();
      return;
    }
  }
}

void BlockCarrBuffClass::LocateCurBlock(int32_t WavPos) {
  if (CurBlock_ != 0) {
    const blocks::BlockRec& b = blocks_.Blocks(CurBlock_);
    if (b.StartPos <= WavPos && WavPos < vb::Add(b.StartPos, b.Length)) return;
  }
  FindBlock(WavPos);
}

int16_t BlockCarrBuffClass::WaveLR(int32_t WavPos) {
  LocateCurBlock(WavPos);
  if (CurBlock_ == 0) return 0;  // outside the channel
  const int32_t type = blocks_.Blocks(CurBlock_).BlockType;
  if (type == blocks::BlockFile || type == blocks::BlockOrg) blocks_.LoadBlock(CurBlock_);
  // Loading may have moved the table; look the record up afresh.
  const blocks::BlockRec& b = blocks_.Blocks(CurBlock_);
  if (b.BlockType != blocks::BlockMemFile && b.BlockType != blocks::BlockMem) return 0;  // silent, or an unreadable Orgfile
  return b.Samples(WavPos - b.StartPos);
}

void BlockCarrBuffClass::SetWaveLR(int32_t WavPos, int16_t NewVal) {
  LocateCurBlock(WavPos);
  if (CurBlock_ == 0) return;
  const int32_t type = blocks_.Blocks(CurBlock_).BlockType;
  if (type == blocks::BlockMemFile || type == blocks::BlockFile || type == blocks::BlockOrg || type == blocks::BlockSilent)
    blocks_.MakeBlockWritable(CurBlock_);
  blocks::BlockRec& b = blocks_.Blocks(CurBlock_);
  if (b.BlockType != blocks::BlockMem) return;  // a free record, or a block that could not be made writable
  b.Samples(WavPos - b.StartPos) = NewVal;
}

void BlockCarrBuffClass::ReDimSize(int32_t NewSz) {
  if (NewSz <= 0) {  // a negative size would release every block: refused like zero
    blocks_.Box().Show("Error:\r\nCan not create buffer with zero size");
    return;
  }
  if (WaveINos_ < NewSz) {
    int32_t g = GrowBlockSize_;
    while (WaveINos_ < NewSz) {
      if (g > NewSz - WaveINos_) g = NewSz - WaveINos_;
      const int32_t block = blocks_.NewBlock(g, blocks::BlockSilent);
      BuffBlockCount_ = vb::Add(BuffBlockCount_, 1);
      BuffBlocks_.ReDimPreserve(BuffBlockCount_);
      BuffBlocks_(BuffBlockCount_) = block;
      blocks_.Blocks(block).StartPos = vb::Add(WaveINos_, 1);
      WaveINos_ = vb::Add(WaveINos_, g);
    }
  } else {
    ShrinkTo(NewSz);
  }
  CurBlock_ = BuffBlocks_(1);
}

// Splits the block that holds both NewSz and NewSz + 1, then drops every
// block that starts after NewSz.
void BlockCarrBuffClass::ShrinkTo(int32_t NewSz) {
  const int32_t cut = vb::Add(NewSz, 1);
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const int32_t block = BuffBlocks_(i);
    const blocks::BlockRec& b = blocks_.Blocks(block);
    if (b.StartPos < cut && cut < vb::Add(b.StartPos, b.Length)) {
      int32_t left = 0;
      int32_t right = 0;
      blocks_.SplitBlock(block, cut, left, right);
      if (left != 0) {
        BuffBlocks_(i) = left;
        blocks_.ReleaseBlock(block);
        blocks_.ReleaseBlock(right);
      }
      break;
    }
  }
  runtime::VbArray<int32_t> kept(0, BuffBlockCount_);
  int32_t k = 0;
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const int32_t block = BuffBlocks_(i);
    if (blocks_.Blocks(block).StartPos > NewSz) {
      blocks_.ReleaseBlock(block);
    } else {
      ++k;
      kept(k) = block;
    }
  }
  kept.ReDimPreserve(k);
  BuffBlocks_.Swap(kept);
  BuffBlockCount_ = k;
  WaveINos_ = NewSz;
}

}  // namespace buffers
