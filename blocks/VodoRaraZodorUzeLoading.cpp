// Loading blocks into memory, making them writable, writing them out to
// temporary block files, and holding memory under MemorySizeToUse by evicting
// the least recently used memory blocks.
//
// A load reads into a fresh array first and changes the record only once the
// read has succeeded, so a missing or short file leaves the block, its file
// slot and MemoryInUse as they were.

#include <bit>
#include <string>
#include <utility>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"
#include "platform/runtime/VbMath.h"

namespace blocks {

static_assert(std::endian::native == std::endian::little, "block files hold little-endian samples");

namespace {

const char kFreeNotLoaded[] = "Error - Free block can not be copied to buffer";
const char kNotWritable[] = "Error - Block type has a problem in moving to buff";
const char kFreeNotWritten[] = "Error - Free block can not be written to file";

// The least recently used memory blocks are written out until fewer than this
// many remain in memory or memory is under the limit.
constexpr int32_t kFewestCandidates = 5;
// Every this many over-limit checks, MemoryInUse is recounted from the records.
constexpr int32_t kRecountEvery = 100;

int64_t Offset(int32_t bytePos) { return static_cast<int64_t>(bytePos) - 1; }

}  // namespace

void VodoRaraZodorUze::LoadBlock(int32_t Block) {
  switch (Blocks(Block).BlockType) {
    case BlockFree:
      box_.Show(kFreeNotLoaded);
      return;
    case BlockMemFile:
    case BlockMem:
      Blocks(Block).UseStamp = NextUseStamp();
      return;
    case BlockFile: {
      const BlockRec& b = Blocks(Block);
      runtime::VbArray<int16_t> samples(0, vb::Sub(b.Length, 1));
      const int32_t bytes = vb::Mul(2, b.Length);
      OpenBlkFile(b.FileSlot);
      if (bytes > 0) OpenBlkFileNum->ReadExactAt(samples.Ptr(0), static_cast<size_t>(bytes), Offset(b.FilePos));
      AddMemory(b.Length);
      BlockRec& loaded = Blocks(Block);
      loaded.Samples.Swap(samples);
      loaded.BlockType = BlockMemFile;  // the file copy stays valid; slot and RefCount unchanged
      loaded.UseStamp = NextUseStamp();
      LimitMemory();
      return;
    }
    case BlockOrg: {
      const BlockRec& b = Blocks(Block);
      const int32_t slot = b.FileSlot;
      OpenOrgFile(slot);
      const int32_t channels = OrgFiles(slot).Channels;
      if (channels == 1 || channels == 2) {
        runtime::VbArray<int16_t> samples(0, vb::Sub(b.Length, 1));
        if (b.Length > 0) ReadOrgRun(slot, b.FilePos, b.Length, samples.Ptr(0));  // other Bits: silence
        AddMemory(b.Length);
        DropOrgFileRef(slot);
        BlockRec& loaded = Blocks(Block);
        loaded.Samples.Swap(samples);
        loaded.FileSlot = 0;
        loaded.BlockType = BlockMem;
      }
      // The Orgfile slot stays even at RefCount 0; it is reused or cleared later.
      Blocks(Block).UseStamp = NextUseStamp();
      LimitMemory();
      return;
    }
    case BlockSilent: {
      runtime::VbArray<int16_t> samples(0, vb::Sub(Blocks(Block).Length, 1));
      AddMemory(Blocks(Block).Length);
      BlockRec& loaded = Blocks(Block);
      loaded.UseStamp = NextUseStamp();
      loaded.Samples.Swap(samples);
      loaded.BlockType = BlockMem;
      LimitMemory();
      return;
    }
    default:
      return;
  }
}

void VodoRaraZodorUze::MakeBlockWritable(int32_t Block) {
  LoadBlock(Block);
  BlockRec& b = Blocks(Block);
  switch (b.BlockType) {
    case BlockMemFile:
      DropBlkFileRef(b.FileSlot);
      b.FileSlot = 0;
      b.BlockType = BlockMem;
      break;
    case BlockMem:
      break;
    default:
      box_.Show(kNotWritable);
      break;
  }
}

void VodoRaraZodorUze::WriteBlockToFile(int32_t Block) {
  switch (Blocks(Block).BlockType) {
    case BlockFree:
      box_.Show(kFreeNotWritten);
      return;
    case BlockMemFile: {
      SubtractMemory(Blocks(Block).Length);
      BlockRec& b = Blocks(Block);
      b.Samples.ReDim(0, 0);
      b.BlockType = BlockFile;
      return;
    }
    case BlockMem: {
      const int32_t slot = NewBlkFileSlot();
      const BlockRec& b = Blocks(Block);
      const int32_t bytes = vb::Mul(2, b.Length);
      try {
        os::files::WriteAt(BlkFiles(slot).Name, b.Samples.Storage().data(), static_cast<size_t>(bytes), 0,
                                 /*create=*/true);
      } catch (const os::FileError&) {
        // A full disk, say: nothing depends on the part written, so it goes
        // and the slot is free again; the block stays in memory.
        (void)os::files::Remove(BlkFiles(slot).Name);
        SetBlkFileName(slot, "");  // the name index follows
        throw;
      }
      // The file holds the samples: only now does the block depend on it.
      os::LogDebug("block " + std::to_string(Block) + " (" + std::to_string(b.Length) +
                   " samples) written out to '" + BlkFiles(slot).Name + "'");
      SubtractMemory(b.Length);
      BlkFiles(slot).RefCount = 1;
      BlockRec& out = Blocks(Block);
      out.FileSlot = slot;
      out.FilePos = 1;
      out.Samples.ReDim(0, 0);
      out.BlockType = BlockFile;
      return;
    }
    default:
      return;
  }
}

void VodoRaraZodorUze::LimitMemory() {
  if (MemoryInUse <= memorySizeToUse_) return;

  // Candidates 1..count: the memory blocks in increasing slot order.
  std::vector<int32_t> cand{0};
  for (int32_t s = 1; s <= BlockCount; ++s) {
    const int32_t t = Blocks(s).BlockType;
    if (t == BlockMemFile || t == BlockMem) cand.push_back(s);
  }
  int32_t count = static_cast<int32_t>(cand.size()) - 1;

  RecountCounter = vb::Add(RecountCounter, 1);
  if (RecountCounter == kRecountEvery) {
    RecountCounter = 0;
    int32_t total = 0;
    for (int32_t j = 1; j <= count; ++j) total = vb::Add(total, vb::Mul(2, Blocks(cand[j]).Length));
    MemoryInUse = total;
  }
  if (count < kFewestCandidates) return;

  bool maybeUnsorted = true;
  while (true) {
    if (maybeUnsorted) {
      // One bubble pass, newest first: the oldest stamp sinks to the end.
      maybeUnsorted = false;
      for (int32_t j = 1; j <= count - 1; ++j) {
        if (Blocks(cand[j]).UseStamp < Blocks(cand[j + 1]).UseStamp) {
          std::swap(cand[j], cand[j + 1]);
          maybeUnsorted = true;
        }
      }
    }
    WriteBlockToFile(cand[count]);
    --count;
    if (count < kFewestCandidates) return;
    if (MemoryInUse < memorySizeToUse_) return;
  }
}

}  // namespace blocks
