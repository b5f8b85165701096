#include "buffers/BlockCarrBuffClass.h"

#include <exception>

#include "platform/VbMath.h"

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
int32_t EndOf(const BlockRec& b) { return vb::Sub(vb::Add(b.StartPos, b.Length), 1); }

}  // namespace

BlockCarrBuffClass::BlockCarrBuffClass(VodoRaraZodorUze& blocks, int32_t memorySizeToUse)
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

void BlockCarrBuffClass::BuffBlocksPutFresh(const platform::VbArray<int32_t>& NewBlkSet) {
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) blocks_.ReleaseBlock(BuffBlocks_(i));
  WaveINos_ = 0;
  BuffBlockCount_ = NewBlkSet.UBound();
  BuffBlocks_ = NewBlkSet;
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) WaveINos_ = vb::Add(WaveINos_, blocks_.Blocks(BuffBlocks_(i)).Length);
  // An empty list ends here with the out-of-range error, the list adopted.
  CurBlock_ = BuffBlocks_(1);
}

void BlockCarrBuffClass::BuffBlocksGet(platform::VbArray<int32_t>& BlkSet) const { BlkSet = BuffBlocks_; }

void BlockCarrBuffClass::BuffBlocksGetCopy(platform::VbArray<int32_t>& BlkSet) {
  BlkSet.ReDim(0, BuffBlockCount_);
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) BlkSet(i) = blocks_.CopyBlock(BuffBlocks_(i));
}

// The window F..W is intersected with every block in list order; each share
// is read with one positioned read (or one move from memory) into the scratch
// array and moved into QBuff in one block move.
void BlockCarrBuffClass::QuickBuffGet(const int32_t& FromPos, platform::VbArray<int16_t>& QBuff) {
  const int32_t N = QBuff.UBound();
  const int32_t F = FromPos;
  const int32_t W = vb::Sub(vb::Add(F, N), 1);
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const int32_t block = BuffBlocks_(i);
    const BlockRec& b = blocks_.Blocks(block);
    const int32_t S = b.StartPos;
    const int32_t E = EndOf(b);
    int32_t A = 0;
    int32_t C = 0;
    if (S <= F && E >= W) {  // the block covers the window
      A = F;
      C = N;
    } else if (S >= F && E <= W) {  // the block lies inside the window
      A = S;
      C = b.Length;
    } else if (S < F && F <= E && E < W) {  // it covers the window's start
      A = F;
      C = E - F + 1;
    } else if (F < S && S <= W && E > W) {  // it covers the window's end
      A = S;
      C = W - S + 1;
    }
    if (C <= 0) continue;
    blocks_.ReadBlockRange(block, A, vb::Sub(vb::Add(A, C), 1), scratch_);
    platform::MoveRun(QBuff, vb::Add(vb::Sub(A, F), 1), scratch_, 0, C);
  }
}

void BlockCarrBuffClass::FindBlock(int32_t WavPos) {
  CurBlock_ = 0;
  for (int32_t i = 1; i <= BuffBlockCount_; ++i) {
    const BlockRec& b = blocks_.Blocks(BuffBlocks_(i));
    if (b.StartPos <= WavPos && WavPos < vb::Add(b.StartPos, b.Length)) {
      CurBlock_ = BuffBlocks_(i);
      blocks_.Blocks(CurBlock_).UseStamp = blocks_.NextUseStamp();
      return;
    }
  }
}

void BlockCarrBuffClass::LocateCurBlock(int32_t WavPos) {
  if (CurBlock_ != 0) {
    const BlockRec& b = blocks_.Blocks(CurBlock_);
    if (b.StartPos <= WavPos && WavPos < vb::Add(b.StartPos, b.Length)) return;
  }
  FindBlock(WavPos);
}

int16_t BlockCarrBuffClass::WaveLR(int32_t WavPos) {
  LocateCurBlock(WavPos);
  if (CurBlock_ == 0) return 0;  // outside the channel
  const int32_t type = blocks_.Blocks(CurBlock_).BlockType;
  if (type == BlockFile || type == BlockOrg) blocks_.LoadBlock(CurBlock_);
  // Loading may have moved the table; look the record up afresh.
  const BlockRec& b = blocks_.Blocks(CurBlock_);
  if (b.BlockType != BlockMemFile && b.BlockType != BlockMem) return 0;  // silent, or an unreadable Orgfile
  return b.Samples(WavPos - b.StartPos);
}

void BlockCarrBuffClass::SetWaveLR(int32_t WavPos, int16_t NewVal) {
  LocateCurBlock(WavPos);
  if (CurBlock_ == 0) return;
  const int32_t type = blocks_.Blocks(CurBlock_).BlockType;
  if (type == BlockMemFile || type == BlockFile || type == BlockOrg || type == BlockSilent)
    blocks_.MakeBlockWritable(CurBlock_);
  BlockRec& b = blocks_.Blocks(CurBlock_);
  if (b.BlockType != BlockMem) return;  // a free record, or a block that could not be made writable
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
      const int32_t block = blocks_.NewBlock(g, BlockSilent);
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
    const BlockRec& b = blocks_.Blocks(block);
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
  platform::VbArray<int32_t> kept(0, BuffBlockCount_);
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
