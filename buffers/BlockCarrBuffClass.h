#pragma once
// One channel of the wave as an ordered list of block records of the block
// storage engine. The buffer stores no samples itself; it owns the records its
// list names (releases them when they leave the list and on destruction) and
// serves the play chunk builder's window reads (QuickBuffGet), single-sample
// access (WaveLR), resizing and export of its list.
//
// Positions are 1-based, 32-bit signed. Samples of 8-bit Orgfiles arrive as
// -128..127 (not scaled). Messages go to the platform message box; file errors
// throw os::FileError to the caller. Thread: loop thread only.

#include <cstdint>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/runtime/VbArray.h"

namespace buffers {

class BlockCarrBuffClass final {
 public:
  // `memorySizeToUse` fixes GrowBlockSize once, at construction.
  BlockCarrBuffClass(blocks::VodoRaraZodorUze& blocks, int32_t memorySizeToUse);
  // Releases every block of the list, then ReleaseUnusedFiles.
  ~BlockCarrBuffClass();
  BlockCarrBuffClass(const BlockCarrBuffClass&) = delete;
  BlockCarrBuffClass& operator=(const BlockCarrBuffClass&) = delete;

  int32_t WaveINos() const { return WaveINos_; }
  void SetWaveINos(int32_t v) { WaveINos_ = v; }
  int32_t QuickBufferLength() const { return QuickBufferLength_; }
  void SetQuickBufferLength(int32_t v) { QuickBufferLength_ = v; }

  void BuffBlocksGet(runtime::VbArray<int32_t>& BlkSet) const;
  void BuffBlocksGetCopy(runtime::VbArray<int32_t>& BlkSet);
  // Fills QBuff(1..UBound) with positions FromPos.. ; QBuff(0) and positions
  // no block covers are left as they are. One ReadBlockRange and one block
  // move per block share; never loads or stamps a block, never moves CurBlock.
  void QuickBuffGet(const int32_t& FromPos, runtime::VbArray<int16_t>& QBuff);
  // The play chunk builder's window read: one QuickBuffGet of `n` samples at
  // FromPos into an array the buffer keeps between calls, dimensioned 0..n,
  // whose elements 1..n that no block covers are 0, as in a freshly
  // dimensioned array (element 0 is not used).
  // The caller may change the samples in place; the array is valid until the
  // next call or the buffer's destruction. Saves allocating and clearing a
  // chunk-sized array per chunk.
  runtime::VbArray<int16_t>& ChunkRead(const int32_t& FromPos, int32_t n);
  // The block of the list that holds the whole window FromPos..FromPos+n-1
  // when no other block has a share of it, else 0; for the play chunk
  // builder's direct reads through Blocks().
  int32_t SoleBlock(int32_t FromPos, int32_t n) const;
  // The block storage engine that holds the records of the list.
  blocks::VodoRaraZodorUze& Blocks() const { return blocks_; }
  void ReDimSize(int32_t NewSz);
  int16_t WaveLR(int32_t WavPos);
  void SetWaveLR(int32_t WavPos, int16_t NewVal);
  // Takes ownership of the records NewBlkSet(1..UBound) names.
  void BuffBlocksPutFresh(const runtime::VbArray<int32_t>& NewBlkSet);

  // For tests: the block list and the single-sample cache.
  int32_t BuffBlockCount() const { return BuffBlockCount_; }
  int32_t CurBlock() const { return CurBlock_; }

 private:
  void FindBlock(int32_t WavPos);
  // Keeps CurBlock when it covers WavPos, else FindBlock.
  void LocateCurBlock(int32_t WavPos);
  // ReDimSize to a size not above WaveINos.
  void ShrinkTo(int32_t NewSz);
  // True when the blocks' shares of FromPos..FromPos+N-1, in list order,
  // follow each other without gap or overlap and cover the whole run.
  bool CoversRun(int32_t FromPos, int32_t N) const;

  blocks::VodoRaraZodorUze& blocks_;
  int32_t WaveINos_ = 0;
  int32_t QuickBufferLength_ = 0;
  runtime::VbArray<int32_t> BuffBlocks_;
  int32_t BuffBlockCount_ = 0;
  int32_t CurBlock_ = 0;
  int32_t GrowBlockSize_ = 0;
  runtime::VbArray<int16_t> chunk_;    // ChunkRead's array
};

}  // namespace buffers
