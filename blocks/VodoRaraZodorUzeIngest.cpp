// Host block lists: checking their layout, decoding packed file names, and
// turning a list into block records that share file slots by name.
//
// An entry is 7 + K elements: K, the name's byte count n, K - 1 elements of
// packed name bytes, Length, type, StartPos, FilePos, Channels, Bits. Names
// are compared exactly, case included: on this platform two names that
// differ in case are two files.

#include <string>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/runtime/VbMath.h"

namespace blocks {

namespace {

const char kTypeNotConverted[] = "Error - Block type can not be converted to Block";

// Elements of an entry after its name part (K + 2 .. K + 7).
constexpr int32_t kFieldsAfterName = 6;
const char* const kFieldNames[kFieldsAfterName] = {"Length", "block type", "StartPos", "FilePos", "Channels", "Bits"};

// Name of element `e` (1-based) of an entry whose name part holds K elements.
std::string ElementName(int64_t e, int64_t k) {
  std::string label = "element " + std::to_string(e);
  if (e == 1) return label + " (K)";
  if (e == 2) return label + " (n)";
  if (e <= k + 1) return label + " (name bytes)";
  return label + " (" + kFieldNames[e - k - 2] + ")";
}

int64_t PackedElements(int32_t n) { return n <= 0 ? 0 : (static_cast<int64_t>(n) + 3) / 4; }

}  // namespace

void VodoRaraZodorUze::ValidateBlockList(const runtime::VbArray<int32_t>& list, const std::string& listName) {
  const int64_t last = list.Dimensioned() ? list.UBound() : 0;
  if (!list.Dimensioned() || list.LBound() > 1 || last < 1) {
    throw os::ListFormatError(listName + ": element 1 (N) is missing");
  }
  const int32_t n = list(1);
  if (n < 0) {
    throw os::ListFormatError(listName + ": element 1 (N) is " + std::to_string(n) + ", it cannot be negative");
  }
  int64_t p = 1;  // the list element just before the entry
  for (int32_t i = 1; i <= n; ++i) {
    const std::string entry = listName + ", entry " + std::to_string(i) + ": ";
    const auto missing = [&](int64_t e, int64_t k) {
      return os::ListFormatError(entry + ElementName(e, k) + " is missing, the list ends at element " +
                                       std::to_string(last));
    };
    if (p + 1 > last) throw missing(1, 1);
    const int32_t k = list(static_cast<int32_t>(p + 1));
    if (k < 1) {
      throw os::ListFormatError(entry + "element 1 (K) is " + std::to_string(k) + ", at least 1 is needed");
    }
    const int64_t end = p + 1 + k + kFieldsAfterName;
    if (end > last) throw missing(last - p + 1, k);
    const int32_t bytes = list(static_cast<int32_t>(p + 2));
    const int64_t needK = PackedElements(bytes) + 1;
    if (k < needK) {
      throw os::ListFormatError(entry + "element 1 (K) is " + std::to_string(k) + ", at least " +
                                      std::to_string(needK) + " is needed for a name of " + std::to_string(bytes) +
                                      " bytes");
    }
    const int32_t length = list(static_cast<int32_t>(p + 2 + k));
    if (length < 0) {
      throw os::ListFormatError(entry + ElementName(k + 2, k) + " is " + std::to_string(length) +
                                      ", it cannot be negative");
    }
    p = end;
  }
}

std::string VodoRaraZodorUze::LongsToName(const runtime::VbArray<int32_t>& NameLongs) {
  const int32_t n = NameLongs(1);
  if (n <= 0) return {};
  std::string name(static_cast<size_t>(n), '\0');
  for (int32_t k = 0; k < n; ++k) {
    const auto packed = static_cast<uint32_t>(NameLongs(2 + k / 4));
    name[static_cast<size_t>(k)] = static_cast<char>((packed >> (8 * (k % 4))) & 0xFFu);
  }
  return name;
}

void VodoRaraZodorUze::BlockListIngest(const runtime::VbArray<int32_t>& list,
                                       runtime::VbArray<int32_t>& BlkIdxList) {
  // Checked again here so that a malformed list is refused before any record exists.
  ValidateBlockList(list, "block list");
  const int32_t n = list(1);
  BlkIdxList.ReDim(0, n);
  int32_t p = 1;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t k = list(vb::Add(p, 1));
    runtime::VbArray<int32_t> nameLongs(1, k);
    for (int32_t j = 1; j <= k; ++j) nameLongs(j) = list(vb::Add(vb::Add(p, 1), j));
    const std::string name = LongsToName(nameLongs);
    p = vb::Add(vb::Add(p, 1), k);

    const int32_t s = NewBlock(0, BlockSilent);
    Blocks(s).Length = list(vb::Add(p, 1));
    Blocks(s).StartPos = list(vb::Add(p, 3));
    Blocks(s).FilePos = list(vb::Add(p, 4));
    const int32_t type = list(vb::Add(p, 2));
    const int32_t channels = list(vb::Add(p, 5));
    const int32_t bits = list(vb::Add(p, 6));
    p = vb::Add(p, 6);

    switch (type) {
      case BlockFile: {
        int32_t slot = FindBlkFile(name);
        if (slot == 0) {
          // NewBlkFileSlot without the temporary name it would make only for
          // the host's name to replace it.
          slot = TakeBlkFileSlot();
          SetBlkFileName(slot, name);
        }
        BlkFiles(slot).RefCount = vb::Add(BlkFiles(slot).RefCount, 1);
        Blocks(s).FileSlot = slot;
        Blocks(s).BlockType = BlockFile;
        break;
      }
      case BlockOrg: {
        int32_t slot = FindOrgFile(name);
        if (slot == 0) slot = NewOrgFileSlot(name, channels, bits);
        OrgFiles(slot).RefCount = vb::Add(OrgFiles(slot).RefCount, 1);
        Blocks(s).FileSlot = slot;
        Blocks(s).BlockType = BlockOrg;
        break;
      }
      case BlockSilent:
        Blocks(s).FileSlot = 0;
        Blocks(s).BlockType = BlockSilent;
        break;
      default:
        box_.Show(kTypeNotConverted);
        break;
    }
    BlkIdxList(i) = s;
  }
}

}  // namespace blocks
