#pragma once
// Records of the block storage engine: one BlockRec per block, one BlkFileRec
// per block file slot, one OrgFileRec per Orgfile slot. Slot 0 of every table
// is never used; 0 in a field that names a slot means "none".

#include <cstdint>
#include <string>

#include "platform/runtime/VbArray.h"

namespace blocks {

enum BlockTypeCode : int32_t {
  BlockFree = 0,     // record not in use
  BlockMemFile = 1,  // in memory, identical copy in a block file
  BlockMem = 2,      // in memory only; the only type whose samples may change
  BlockFile = 3,     // in a block file only
  BlockOrg = 4,      // in an Orgfile, not loaded
  BlockSilent = 5,   // every sample 0
};

struct BlockRec {
  BlockRec() { Samples.ReDim(0, 0); }
  int32_t FileSlot = 0;   // BlkFiles slot (types 1, 3) or OrgFiles slot (type 4)
  int32_t FilePos = 0;    // 1-based byte of the first sample in its file
  int32_t StartPos = 0;   // 1-based channel position of the first sample
  int32_t BlockType = BlockFree;
  runtime::VbArray<int16_t> Samples;  // 0..Length-1 for types 1, 2; else 0..0
  int32_t Length = 0;
  int32_t UseStamp = 0;
};

struct BlkFileRec {
  std::string Name;  // full path; "" when the slot is not in use
  int32_t RefCount = 0;
};

struct OrgFileRec {
  std::string Name;
  int32_t Channels = 0;  // 1 or 2
  int32_t Bits = 0;      // 8 or 16
  int32_t RefCount = 0;
};

}  // namespace blocks
