// The file tables: allocating and clearing BlkFiles and OrgFiles slots, the
// one open file of each table, and the names of temporary block files.
// Clearing a slot forgets a name; it never deletes the file.

#include <string>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/VbMath.h"

namespace blocks {

namespace {

// Opens `name` as the open file of a table, after closing the one open before.
// A failed open leaves nothing open: `openSlot` 0 and `openFile` empty.
void Reopen(int32_t slot, const std::string& name, int32_t& openSlot,
            std::unique_ptr<platform::ReadOnlyFile>& openFile, int64_t& opens) {
  openFile.reset();
  openSlot = 0;
  openFile = platform::ReadOnlyFile::Open(name);
  openSlot = slot;
  ++opens;
}

// Slot 0 and slots past the table's end name no file.
void RequireSlot(int32_t count, int32_t slot, const char* table) {
  if (slot < 1 || slot > count) {
    throw platform::RangeError(std::string(table) + " slot " + std::to_string(slot) + " of 1 To " +
                               std::to_string(count));
  }
}

}  // namespace

int32_t VodoRaraZodorUze::TakeBlkFileSlot() {
  for (int32_t s = 1; s <= BlkFileCount; ++s) {
    if (BlkFiles(s).RefCount == 0) {
      CloseBlkFile(s);
      return s;
    }
  }
  const int32_t grown = vb::Add(BlkFileCount, 1);
  BlkFiles.ReDimPreserve(grown);
  BlkFileCount = grown;
  return grown;
}

int32_t VodoRaraZodorUze::NewBlkFileSlot() {
  const int32_t s = TakeBlkFileSlot();
  BlkFiles(s).Name = NewTempFileName();
  return s;
}

int32_t VodoRaraZodorUze::NewOrgFileSlot(const std::string& Name, int32_t Channels, int32_t Bits) {
  int32_t slot = 0;
  for (int32_t s = 1; s <= OrgFileCount; ++s) {
    if (OrgFiles(s).RefCount == 0) {
      CloseOrgFile(s);
      slot = s;
    }
  }
  if (slot == 0) {
    const int32_t grown = vb::Add(OrgFileCount, 1);
    OrgFiles.ReDimPreserve(grown);
    OrgFileCount = grown;
    slot = grown;
  }
  OrgFileRec& rec = OrgFiles(slot);
  rec.Name = Name;
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
  // No block may be left pointing into a file about to be forgotten.
  for (int32_t s = 1; s <= BlockCount; ++s) {
    if (Blocks(s).BlockType == BlockOrg && Blocks(s).FileSlot == Slot) LoadBlock(s);
  }
  CloseOrgFile(Slot);
  OrgFileRec& rec = OrgFiles(Slot);
  if (rec.RefCount != 0 || rec.Name.empty()) return;
  rec.Name.clear();
}

void VodoRaraZodorUze::ReleaseUnusedFiles() {
  for (int32_t s = 1; s <= BlkFileCount; ++s) {
    if (BlkFiles(s).RefCount == 0 && !BlkFiles(s).Name.empty()) {
      CloseBlkFile(s);
      BlkFiles(s).Name.clear();
    }
  }
  for (int32_t s = 1; s <= OrgFileCount; ++s) {
    if (OrgFiles(s).RefCount == 0 && !OrgFiles(s).Name.empty()) {
      CloseOrgFile(s);
      OrgFiles(s).Name.clear();
    }
  }
}

std::string VodoRaraZodorUze::NewTempFileName() {
  const std::string folder = platform::files::TempFolder(appTmpDir_);
  while (true) {
    ++tempSerial_;
    const std::string name = folder + "/tm" + std::to_string(tempSerial_) + ".tmp";
    bool named = false;
    for (int32_t s = 1; s <= BlkFileCount && !named; ++s) named = BlkFiles(s).Name == name;
    if (!named && !platform::files::Exists(name)) return name;
  }
}

}  // namespace blocks
