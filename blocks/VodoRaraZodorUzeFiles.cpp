// The file tables: allocating and clearing BlkFiles and OrgFiles slots, the
// one open file of each table, and the names of temporary block files.
// Clearing a slot forgets a name; it never deletes the file.

#include <string>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/runtime/VbMath.h"

namespace blocks {

namespace {

// Opens `name` as the open file of a table, after closing the one open before.
// A failed open leaves nothing open: `openSlot` 0 and `openFile` empty.
void Reopen(int32_t slot, const std::string& name, int32_t& openSlot,
            std::unique_ptr<os::ReadOnlyFile>& openFile, int64_t& opens) {
  openFile.reset();
  openSlot = 0;
  openFile = os::ReadOnlyFile::Open(name);
  openSlot = slot;
  ++opens;
}

// Slot 0 and slots past the table's end name no file.
void RequireSlot(int32_t count, int32_t slot, const char* table) {
  if (slot < 1 || slot > count) {
    throw os::RangeError(std::string(table) + " slot " + std::to_string(slot) + " of 1 To " +
                               std::to_string(count));
  }
}

}  // namespace

void VodoRaraZodorUze::SetBlkFileName(int32_t slot, const std::string& name) {
  blkFileNames_.Rename(slot, BlkFiles(slot).Name, name);
  BlkFiles(slot).Name = name;
}

void VodoRaraZodorUze::SetOrgFileName(int32_t slot, const std::string& name) {
  orgFileNames_.Rename(slot, OrgFiles(slot).Name, name);
  OrgFiles(slot).Name = name;
}

int32_t VodoRaraZodorUze::FindBlkFile(const std::string& name) const {
  int32_t found = 0;
  for (const int32_t s : blkFileNames_.SlotsNamed(name)) {
    if (BlkFiles(s).RefCount != 0 && (found == 0 || s < found)) found = s;
  }
  return found;
}

int32_t VodoRaraZodorUze::FindOrgFile(const std::string& name) const {
  int32_t found = 0;
  for (const int32_t s : orgFileNames_.SlotsNamed(name)) {
    if (OrgFiles(s).RefCount != 0 && (found == 0 || s < found)) found = s;
  }
  return found;
}

void VodoRaraZodorUze::DropBlkFileRef(int32_t slot) {
  int32_t& ref = BlkFiles(slot).RefCount;
  ref = vb::Sub(ref, 1);
  if (ref == 0) freeBlkFileSlots_.insert(slot);
}

void VodoRaraZodorUze::DropOrgFileRef(int32_t slot) {
  int32_t& ref = OrgFiles(slot).RefCount;
  ref = vb::Sub(ref, 1);
  if (ref == 0) freeOrgFileSlots_.insert(slot);
}

int32_t VodoRaraZodorUze::TakeBlkFileSlot() {
  // The first free slot from slot 1: the lowest member of the free set that
  // is still free.
  while (!freeBlkFileSlots_.empty()) {
    const int32_t s = *freeBlkFileSlots_.begin();
    if (BlkFiles(s).RefCount == 0) {
      CloseBlkFile(s);
      return s;
    }
    freeBlkFileSlots_.erase(freeBlkFileSlots_.begin());
  }
  const int32_t grown = vb::Add(BlkFileCount, 1);
  BlkFiles.ReDimPreserve(grown);
  BlkFileCount = grown;
  freeBlkFileSlots_.insert(grown);
  return grown;
}

int32_t VodoRaraZodorUze::NewBlkFileSlot() {
  const int32_t s = TakeBlkFileSlot();
  SetBlkFileName(s, NewTempFileName());
  return s;
}

int32_t VodoRaraZodorUze::NewOrgFileSlot(const std::string& Name, int32_t Channels, int32_t Bits) {
  // Every free slot's file is closed; only the open one can need it.
  if (OpenOrgSlot != 0 && OrgFiles(OpenOrgSlot).RefCount == 0) CloseOrgFile(OpenOrgSlot);
  // The last free slot: the highest member of the free set that is still free.
  int32_t slot = 0;
  while (slot == 0 && !freeOrgFileSlots_.empty()) {
    const int32_t s = *freeOrgFileSlots_.rbegin();
    if (OrgFiles(s).RefCount == 0) {
      slot = s;
    } else {
      freeOrgFileSlots_.erase(s);
    }
  }
  if (slot == 0) {
    const int32_t grown = vb::Add(OrgFileCount, 1);
    OrgFiles.ReDimPreserve(grown);
    OrgFileCount = grown;
    freeOrgFileSlots_.insert(grown);
    slot = grown;
  }
  SetOrgFileName(slot, Name);
  OrgFileRec& rec = OrgFiles(slot);
  rec.Channels = Channels;
  rec.Bits = Bits;
  rec.RefCount = 0;
  return slot;
}

void VodoRaraZodorUze::OpenBlkFile(int32_t Slot) {
  if (OpenBlkSlot == Slot && OpenBlkFileNum) return;
  RequireSlot(BlkFileCount, Slot, "BlkFiles");
  Reopen(Slot, BlkFiles(Slot).Name, OpenBlkSlot, OpenBlkFileNum, FileOpens);
}

void VodoRaraZodorUze::OpenOrgFile(int32_t Slot) {
  if (OpenOrgSlot == Slot && OpenOrgFileNum) return;
  RequireSlot(OrgFileCount, Slot, "OrgFiles");
  Reopen(Slot, OrgFiles(Slot).Name, OpenOrgSlot, OpenOrgFileNum, FileOpens);
}

void VodoRaraZodorUze::CloseBlkFile(int32_t Slot) {
  if (OpenBlkSlot != Slot) return;
  OpenBlkFileNum.reset();
  OpenBlkSlot = 0;
}

void VodoRaraZodorUze::CloseOrgFile(int32_t Slot) {
  if (OpenOrgSlot != Slot) return;
  OpenOrgFileNum.reset();
  OpenOrgSlot = 0;
}

void VodoRaraZodorUze::ReleaseOrgFile(int32_t Slot) {
  // No block may be left pointing into a file about to be forgotten. The
  // slot's RefCount counts those blocks: at 0 there is none to look for.
  if (OrgFiles(Slot).RefCount != 0) {
    for (int32_t s = 1; s <= BlockCount; ++s) {
      if (Blocks(s).BlockType == BlockOrg && Blocks(s).FileSlot == Slot) LoadBlock(s);
    }
  }
  CloseOrgFile(Slot);
  const OrgFileRec& rec = OrgFiles(Slot);
  if (rec.RefCount != 0 || rec.Name.empty()) return;
  SetOrgFileName(Slot, "");
}

void VodoRaraZodorUze::ReleaseUnusedFiles() {
  for (int32_t s = 1; s <= BlkFileCount; ++s) {
    if (BlkFiles(s).RefCount == 0 && !BlkFiles(s).Name.empty()) {
      CloseBlkFile(s);
      SetBlkFileName(s, "");
    }
  }
  for (int32_t s = 1; s <= OrgFileCount; ++s) {
    if (OrgFiles(s).RefCount == 0 && !OrgFiles(s).Name.empty()) {
      CloseOrgFile(s);
      SetOrgFileName(s, "");
    }
  }
}

std::string VodoRaraZodorUze::NewTempFileName() {
  const std::string folder = os::files::TempFolder(appTmpDir_);
  while (true) {
    ++tempSerial_;
    const std::string name = folder + "/tm" + std::to_string(tempSerial_) + ".tmp";
    if (!blkFileNames_.Holds(name) && !os::files::Exists(name)) return name;
  }
}

}  // namespace blocks
