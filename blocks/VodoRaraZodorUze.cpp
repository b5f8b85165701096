// Construction, the use stamp, the memory counter, and the record operations
// of the channel buffers: NewBlock, CopyBlock, SplitBlock, ReleaseBlock.

#include "blocks/VodoRaraZodorUze.h"

#include <algorithm>

#include "platform/runtime/VbMath.h"

namespace blocks {

namespace {

const char kCanNotMakeFree[] = "Error - can not make free block";
const char kCanNotCreate[] = "Error - Can not create buffer block in both (memory and file) or in Orgfile";
const char kFreeNotCopied[] = "Error - free block can not be copied";
const char kCouldNotBrake[] = "Error - Could not brake a block";

bool InMemory(int32_t type) { return type == BlockMemFile || type == BlockMem; }

}  // namespace

VodoRaraZodorUze::VodoRaraZodorUze(const int32_t& memorySizeToUse, const std::string& appTmpDir,
                                   os::MessageBox& box)
    : memorySizeToUse_(memorySizeToUse), appTmpDir_(appTmpDir), box_(box) {
  Blocks.ReDim(0, 0);
  BlkFiles.ReDim(0, 0);
  OrgFiles.ReDim(0, 0);
}

VodoRaraZodorUze::~VodoRaraZodorUze() = default;

int32_t VodoRaraZodorUze::NextUseStamp() {
  UseCounter = vb::Add(UseCounter, 1);
  return UseCounter;
}

void VodoRaraZodorUze::AddMemory(int32_t length) {
  MemoryInUse = vb::Add(MemoryInUse, vb::Mul(2, length));
}

void VodoRaraZodorUze::SubtractMemory(int32_t length) {
  MemoryInUse = vb::Sub(MemoryInUse, vb::Mul(2, length));
}

int32_t VodoRaraZodorUze::NewBlockSlot() {
  for (int32_t s = lowestFree_; s <= BlockCount; ++s) {
    if (Blocks(s).BlockType == BlockFree) {
      lowestFree_ = s;  // a refused NewBlock leaves it free: the next call finds it again
      return s;
    }
  }
  const int32_t grown = vb::Add(BlockCount, 1);
  Blocks.ReDimPreserve(grown);
  BlockCount = grown;
  lowestFree_ = grown;
  return grown;
}

int32_t VodoRaraZodorUze::NewBlock(int32_t Length, int32_t Type) {
  const int32_t s = NewBlockSlot();
  Blocks(s).Length = Length;
  Blocks(s).StartPos = 0;
  switch (Type) {
    case BlockFree:
      box_.Show(kCanNotMakeFree);
      break;
    case BlockMemFile:
    case BlockOrg:
      box_.Show(kCanNotCreate);
      break;
    case BlockMem: {
      runtime::VbArray<int16_t> samples(0, vb::Sub(Length, 1));  // all 0; a negative length throws here
      AddMemory(Length);
      BlockRec& b = Blocks(s);
      b.Samples.Swap(samples);
      b.BlockType = BlockMem;
      b.FileSlot = 0;
      b.FilePos = 0;
      b.UseStamp = NextUseStamp();
      LimitMemory();
      break;
    }
    case BlockSilent: {
      BlockRec& b = Blocks(s);
      b.BlockType = BlockSilent;
      b.FileSlot = 0;
      b.FilePos = 0;
      b.UseStamp = 0;
      b.Samples.ReDim(0, 0);
      break;
    }
    default:
      break;  // no such type: the record stays free
  }
  return s;
}

int32_t VodoRaraZodorUze::CopyBlock(int32_t Block) {
  const int32_t c = NewBlockSlot();  // may grow Blocks: no reference held across it
  const int32_t type = Blocks(Block).BlockType;
  switch (type) {
    case BlockFree:
      box_.Show(kFreeNotCopied);
      return c;
    case BlockMemFile:
    case BlockMem: {
      BlockRec copy = Blocks(Block);
      AddMemory(copy.Length);
      if (type == BlockMemFile) {
        int32_t& ref = BlkFiles(copy.FileSlot).RefCount;
        ref = vb::Add(ref, 1);
      }
      copy.UseStamp = NextUseStamp();
      Blocks(c) = std::move(copy);
      LimitMemory();
      return c;
    }
    case BlockFile:
    case BlockOrg: {
      BlockRec copy = Blocks(Block);
      int32_t& ref = type == BlockFile ? BlkFiles(copy.FileSlot).RefCount : OrgFiles(copy.FileSlot).RefCount;
      ref = vb::Add(ref, 1);
      copy.UseStamp = NextUseStamp();
      Blocks(c) = std::move(copy);
      return c;
    }
    case BlockSilent:
      Blocks(c) = Blocks(Block);
      return c;
    default:
      return c;
  }
}

void VodoRaraZodorUze::SplitBlock(int32_t Block, int32_t Pos, int32_t& Left, int32_t& Right) {
  const int32_t startPos = Blocks(Block).StartPos;
  const int32_t leftLen = vb::Sub(Pos, startPos);
  const int32_t rightLen = vb::Sub(Blocks(Block).Length, leftLen);
  if (leftLen < 1 || rightLen < 1) {
    box_.Show(kCouldNotBrake);
    return;
  }
  const int32_t rightStart = vb::Add(startPos, leftLen);
  const int32_t type = Blocks(Block).BlockType;
  int32_t l = 0;
  int32_t r = 0;
  switch (type) {
    case BlockMemFile:
    case BlockMem:
    case BlockOrg:
    case BlockSilent: {
      const int32_t filePos = Blocks(Block).FilePos;
      const int32_t rightFilePos = type == BlockMemFile ? vb::Add(filePos, vb::Mul(2, leftLen)) : 0;
      if (InMemory(type)) Blocks(Block).UseStamp = NextUseStamp();
      if (type != BlockMemFile) LoadBlock(Block);
      if (!InMemory(Blocks(Block).BlockType)) {
        // An Orgfile of a layout that cannot be loaded: there are no samples
        // to share out, so the block stays whole.
        box_.Show(kCouldNotBrake);
        return;
      }
      l = NewBlock(leftLen, BlockMem);
      r = NewBlock(rightLen, BlockMem);
      runtime::MoveRun(Blocks(l).Samples, 0, Blocks(Block).Samples, 0, leftLen);
      runtime::MoveRun(Blocks(r).Samples, 0, Blocks(Block).Samples, leftLen, rightLen);
      if (type == BlockMemFile) {
        const int32_t slot = Blocks(Block).FileSlot;
        int32_t& ref = BlkFiles(slot).RefCount;
        ref = vb::Add(ref, 2);
        Blocks(l).FileSlot = slot;
        Blocks(r).FileSlot = slot;
        Blocks(l).FilePos = filePos;
        Blocks(r).FilePos = rightFilePos;
        Blocks(l).BlockType = BlockMemFile;
        Blocks(r).BlockType = BlockMemFile;
      }
      break;
    }
    case BlockFile: {
      const int32_t slot = Blocks(Block).FileSlot;
      const int32_t filePos = Blocks(Block).FilePos;
      const int32_t rightFilePos = vb::Add(filePos, vb::Mul(2, leftLen));
      int32_t& ref = BlkFiles(slot).RefCount;
      ref = vb::Add(ref, 2);
      l = NewBlock(leftLen, BlockSilent);
      r = NewBlock(rightLen, BlockSilent);
      for (const auto& [part, pos] : {std::pair{l, filePos}, std::pair{r, rightFilePos}}) {
        Blocks(part).FileSlot = slot;
        Blocks(part).FilePos = pos;
        Blocks(part).BlockType = BlockFile;
      }
      break;
    }
    default:
      return;  // a free record or an unknown type: no parts
  }
  Blocks(l).StartPos = startPos;
  Blocks(r).StartPos = rightStart;
  Left = l;
  Right = r;
}

void VodoRaraZodorUze::ReleaseBlock(int32_t Block) {
  BlockRec& b = Blocks(Block);
  lowestFree_ = std::min(lowestFree_, Block);
  switch (b.BlockType) {
    case BlockMemFile:
    case BlockMem:
      SubtractMemory(b.Length);
      b.Samples.ReDim(0, 0);
      if (b.BlockType == BlockMemFile) DropBlkFileRef(b.FileSlot);
      break;
    case BlockFile:
      DropBlkFileRef(b.FileSlot);
      break;
    case BlockOrg: {
      const int32_t slot = b.FileSlot;
      DropOrgFileRef(slot);
      if (OrgFiles(slot).RefCount == 0) {
        b.BlockType = BlockFree;
        b.FileSlot = 0;
        ReleaseOrgFile(slot);  // loads blocks, but never grows Blocks
      }
      break;
    }
    default:
      break;
  }
  BlockRec& done = Blocks(Block);
  done.BlockType = BlockFree;
  done.FileSlot = 0;
  done.Length = 0;
  done.FilePos = 0;
  done.UseStamp = 0;
}

}  // namespace blocks
