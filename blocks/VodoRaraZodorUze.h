#pragma once
// The block storage engine. Owns the tables Blocks, BlkFiles and OrgFiles,
// the counters MemoryInUse, RecountCounter and UseCounter, and at most one
// open file per file table. Callers outside the engine read (and for loaded
// blocks write) the records in Blocks directly; everything else goes through
// the operations below. NewBlock, CopyBlock, SplitBlock and BlockListIngest
// may grow Blocks, which moves its records: a reference into Blocks taken
// before such a call is not valid after it (slot numbers stay valid).
//
// Reports of its own go to the platform message box with the texts of the
// block format and the engine carries on; errors of the file system throw
// os::FileError (naming the file) to the caller. 32-bit arithmetic that
// overflows throws os::OverflowError.
//
// The engine reads the host's settings through the references it is given,
// each time it needs them: `memorySizeToUse` (bytes of samples it may hold in
// memory) and `appTmpDir` (folder for its temporary block files; "" = the
// system's temporary folder). Both must outlive the engine.
// Thread: loop thread only.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "blocks/BlockRec.h"
#include "blocks/FileNameIndex.h"
#include "platform/os/File.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"

namespace blocks {

class VodoRaraZodorUze final {
 public:
  VodoRaraZodorUze(const int32_t& memorySizeToUse, const std::string& appTmpDir, os::MessageBox& box);
  ~VodoRaraZodorUze();
  VodoRaraZodorUze(const VodoRaraZodorUze&) = delete;
  VodoRaraZodorUze& operator=(const VodoRaraZodorUze&) = delete;

  // ---- tables and counters (slot 0 unused in every table)
  runtime::VbArray<BlockRec> Blocks;
  int32_t BlockCount = 0;
  runtime::VbArray<BlkFileRec> BlkFiles;
  int32_t BlkFileCount = 0;
  runtime::VbArray<OrgFileRec> OrgFiles;
  int32_t OrgFileCount = 0;
  int32_t OpenBlkSlot = 0;
  std::unique_ptr<os::ReadOnlyFile> OpenBlkFileNum;
  int32_t OpenOrgSlot = 0;
  std::unique_ptr<os::ReadOnlyFile> OpenOrgFileNum;
  int32_t MemoryInUse = 0;
  int32_t RecountCounter = 0;
  int32_t UseCounter = 0;

  // Files opened by OpenBlkFile / OpenOrgFile since construction (tests, benchmarks).
  int64_t FileOpens = 0;

  // ---- host block lists
  // Throws os::ListFormatError, naming `listName`, the entry and the
  // element, when `list` breaks the host list format (element 1 missing or
  // negative, K below 1, K - 1 below the packed name length, fewer elements
  // than the entries need, a negative Length). Reads nothing beyond the list.
  // Changes nothing.
  static void ValidateBlockList(const runtime::VbArray<int32_t>& list, const std::string& listName);
  // Makes one record per entry and fills `BlkIdxList` (0..N) with their
  // slots. Checks the list first, so a malformed one throws ListFormatError
  // before any record is made.
  void BlockListIngest(const runtime::VbArray<int32_t>& list, runtime::VbArray<int32_t>& BlkIdxList);
  // `NameLongs` indexed from 1: element 1 the byte count, then packed bytes.
  static std::string LongsToName(const runtime::VbArray<int32_t>& NameLongs);

  // ---- loading and the memory limit
  // A load whose file cannot be opened or read throws FileError and leaves
  // the block, its file slot and MemoryInUse as they were. LoadBlock,
  // NewBlock (type 2) and CopyBlock (types 1, 2) end with LimitMemory, which
  // may write the least recently used memory blocks to temporary files.
  void LoadBlock(int32_t Block);
  void MakeBlockWritable(int32_t Block);
  void WriteBlockToFile(int32_t Block);
  void LimitMemory();
  int32_t NextUseStamp();

  // ---- creation, copying, splitting, release
  int32_t NewBlock(int32_t Length, int32_t Type);
  int32_t CopyBlock(int32_t Block);
  // Writes Left and Right only when the split happens.
  void SplitBlock(int32_t Block, int32_t Pos, int32_t& Left, int32_t& Right);
  void ReleaseBlock(int32_t Block);

  // ---- file slots and open files
  int32_t NewBlkFileSlot();
  int32_t NewOrgFileSlot(const std::string& Name, int32_t Channels, int32_t Bits);
  void OpenBlkFile(int32_t Slot);
  void OpenOrgFile(int32_t Slot);
  void CloseBlkFile(int32_t Slot);
  void CloseOrgFile(int32_t Slot);
  void ReleaseOrgFile(int32_t Slot);
  void ReleaseUnusedFiles();
  // TempFolder(AppTmpDir) + "/tm" + a serial + ".tmp"; the serial counts up
  // per engine and skips names that exist on disk or that any slot holds.
  std::string NewTempFileName();

  // ---- the window read of the channel buffer
  // REQUIRES: FromPos..ToPos lies inside the block, FromPos <= ToPos.
  // Redimensions Out to 0..ToPos-FromPos, all zero, and fills it from the
  // block's memory, block file or Orgfile with one positioned read (an Out
  // that already starts at 0 keeps its storage, so a scratch array reused
  // for every share costs no allocation and no clearing). Never
  // loads or stamps the block. Positions outside the block throw RangeError;
  // a file that ends before the share throws FileError (a short read is an
  // error, not a partly filled Out).
  void ReadBlockRange(int32_t Block, int32_t FromPos, int32_t ToPos, runtime::VbArray<int16_t>& Out);
  // The same read straight into the caller's memory: writes exactly
  // ToPos - FromPos + 1 samples at `dst` (zeros where the block gives none,
  // and all zeros when the read fails), so a share is read once where it is
  // wanted. REQUIRES: `dst` has room for them.
  void ReadBlockRangeTo(int32_t Block, int32_t FromPos, int32_t ToPos, int16_t* dst);

  // ---- the play chunk builder's direct reads of a window inside one block
  // per channel. When they do not apply they change nothing and say so; the
  // window read above then gives the same samples or the same error.
  //
  // The samples of positions FromPos..FromPos+n-1 when the block is in
  // memory (types 1 and 2) and holds them all, else nullptr. Valid until the
  // tables change.
  const int16_t* SamplesInMemory(int32_t Block, int32_t FromPos, int32_t n) const;
  // Positions FromPos..FromPos+n-1 of two Orgfile blocks that are the left
  // and right channel of one 16-bit stereo file (one slot, every right sample
  // 2 bytes after its left one), as n frames, left first, read with one
  // positioned read straight into `frames` (2n values; last frame first when
  // `reverse`). Opens the slot's file as OpenOrgFile does (and throws as it
  // does). False when the blocks are no such pair or the read fails; `frames`
  // may then hold anything.
  bool ReadStereoOrgRun(int32_t LeftBlock, int32_t RightBlock, int32_t FromPos, int32_t n, bool reverse,
                        int16_t* frames);

  os::MessageBox& Box() { return box_; }
  int32_t MemorySizeToUse() const { return memorySizeToUse_; }
  const std::string& AppTmpDir() const { return appTmpDir_; }

 private:
  // First free record from slot 1, else a new last slot. The record is left
  // free; the caller gives it its type. The scan starts at lowestFree_, below
  // which no record is free, so ingesting a long list stays linear.
  int32_t NewBlockSlot();
  // Steps 1 and 2 of NewBlkFileSlot: the first free block file slot (its file
  // closed first), else a new last slot. Leaves Name as it was.
  int32_t TakeBlkFileSlot();
  // Reads n samples of an Orgfile's channel into dst, converting by the
  // slot's Channels and Bits; the slot's file must be the open Orgfile.
  // `bytePos` is the 1-based byte of the first sample. Returns false (and
  // reads nothing) for a format other than 1 or 2 channels of 8 or 16 bits.
  bool ReadOrgRun(int32_t Slot, int32_t bytePos, int32_t n, int16_t* dst);
  // A name change of a file slot; every change of a Name goes through these
  // so that the name indexes follow.
  void SetBlkFileName(int32_t slot, const std::string& name);
  void SetOrgFileName(int32_t slot, const std::string& name);
  // The first slot from slot 1 that is in use and holds `name`, else 0.
  int32_t FindBlkFile(const std::string& name) const;
  int32_t FindOrgFile(const std::string& name) const;
  // One reference less; a slot whose count reaches 0 joins its free set.
  void DropBlkFileRef(int32_t slot);
  void DropOrgFileRef(int32_t slot);
  // Raises or lowers MemoryInUse by 2 x `length` bytes.
  void AddMemory(int32_t length);
  void SubtractMemory(int32_t length);

  const int32_t& memorySizeToUse_;
  const std::string& appTmpDir_;
  os::MessageBox& box_;
  std::vector<uint8_t> scratch_;  // raw bytes of an interleaved or 8-bit read
  int64_t tempSerial_ = 0;
  // Every record below this slot is in use. Records become free only through
  // ReleaseBlock, which lowers it.
  int32_t lowestFree_ = 1;
  // Which slots hold which name, per file table. Names of slots change only
  // through the engine's operations.
  FileNameIndex blkFileNames_;
  FileNameIndex orgFileNames_;
  // Every free slot (RefCount 0) of a file table is in its set. A slot in a
  // set may have been taken since it joined; that is checked when it is used.
  std::set<int32_t> freeBlkFileSlots_;
  std::set<int32_t> freeOrgFileSlots_;
};

}  // namespace blocks
