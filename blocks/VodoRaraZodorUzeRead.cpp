// Reading runs of samples where they lie: ReadBlockRange serves the channel
// buffer's window read straight from memory, block files and Orgfiles, and
// ReadOrgRun turns the interleaved or 8-bit data of an Orgfile into one
// channel of 16-bit samples for both the window read and LoadBlock.
//
// Every run costs one positioned read: 16-bit mono data lands directly in the
// caller's array; 8-bit and stereo data are read whole into scratch_ and then
// converted. The play chunk builder's direct reads skip the window arrays: a
// window of blocks in memory is handed out where it lies, and both channels of
// a 16-bit stereo Orgfile come with one read that is already the chunk's
// interleaved layout.

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "blocks/VodoRaraZodorUze.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"
#include "platform/runtime/SampleLoops.h"
#include "platform/runtime/VbMath.h"

namespace blocks {

static_assert(std::endian::native == std::endian::little, "files hold little-endian samples");

namespace {

const char kFreeNotRead[] = "Error - A block can not be read for quick buffer";

int64_t Offset(int32_t bytePos) { return static_cast<int64_t>(bytePos) - 1; }

bool KnownOrgLayout(const OrgFileRec& org) {
  return (org.Channels == 1 || org.Channels == 2) && (org.Bits == 8 || org.Bits == 16);
}

// The 16-bit little-endian value at p (the platform is little-endian).
int16_t Le16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Out dimensioned 0..n-1 for a read that writes every element: an array that
// already starts at 0 keeps its storage, and its old values are not cleared
// first since the read overwrites them all.
void SizeForFill(runtime::VbArray<int16_t>& out, int32_t n) {
  if (out.Dimensioned() && out.LBound() == 0) {
    out.Storage().resize(static_cast<size_t>(n));
  } else {
    out.ReDim(0, n - 1);
  }
}

}  // namespace

bool VodoRaraZodorUze::ReadOrgRun(int32_t Slot, int32_t bytePos, int32_t n, int16_t* dst) {
  const int32_t channels = OrgFiles(Slot).Channels;
  const int32_t bits = OrgFiles(Slot).Bits;
  const bool known = KnownOrgLayout(OrgFiles(Slot));
  if (!known || n < 1) return known;
  const os::ReadOnlyFile& file = *OpenOrgFileNum;
  const int64_t offset = Offset(bytePos);
  if (channels == 1 && bits == 16) {
    file.ReadExactAt(dst, static_cast<size_t>(vb::Mul(2, n)), offset);
    return true;
  }
  // Stereo takes every other sample from the first one read: 2n - 1 samples.
  const int32_t values = channels == 1 ? n : vb::Sub(vb::Mul(2, n), 1);
  const int32_t bytes = bits == 16 ? vb::Mul(2, values) : values;
  scratch_.resize(static_cast<size_t>(bytes));
  file.ReadExactAt(scratch_.data(), scratch_.size(), offset);
  // One loop per layout, each with a constant stride, so that the compiler
  // can vectorise the conversion.
  const uint8_t* p = scratch_.data();
  if (bits == 16) {  // stereo: every other 16-bit value
    for (int32_t i = 0; i < n; ++i) dst[i] = Le16(p + 4 * static_cast<size_t>(i));
  } else if (channels == 1) {
    for (int32_t i = 0; i < n; ++i) dst[i] = static_cast<int16_t>(p[i] - 128);
  } else {
    for (int32_t i = 0; i < n; ++i) dst[i] = static_cast<int16_t>(p[2 * static_cast<size_t>(i)] - 128);
  }
  return true;
}

void VodoRaraZodorUze::ReadBlockRange(int32_t Block, int32_t FromPos, int32_t ToPos,
                                      runtime::VbArray<int16_t>& Out) {
  const int32_t n = vb::Add(vb::Sub(ToPos, FromPos), 1);
  if (n < 1) {
    Out.ReDim(0, n - 1);
    if (Blocks(Block).BlockType == BlockFree) box_.Show(kFreeNotRead);
    return;
  }
  // The read writes every element, so Out is sized without clearing it first.
  SizeForFill(Out, n);
  ReadBlockRangeTo(Block, FromPos, ToPos, Out.Ptr(0));
}

void VodoRaraZodorUze::ReadBlockRangeTo(int32_t Block, int32_t FromPos, int32_t ToPos, int16_t* dst) {
  const int32_t n = vb::Add(vb::Sub(ToPos, FromPos), 1);
  if (n < 1) return;
  const size_t bytes = static_cast<size_t>(n) * sizeof(int16_t);
  const int32_t off = vb::Sub(FromPos, Blocks(Block).StartPos);
  const int32_t type = Blocks(Block).BlockType;
  if (type == BlockFree) {
    std::memset(dst, 0, bytes);
    box_.Show(kFreeNotRead);
    return;
  }
  if (type != BlockMemFile && type != BlockMem && type != BlockFile && type != BlockOrg) {
    std::memset(dst, 0, bytes);  // silence
    return;
  }
  try {
    const BlockRec& b = Blocks(Block);
    if (off < 0 || static_cast<int64_t>(off) + n > b.Length) {
      throw os::RangeError("positions " + std::to_string(FromPos) + " To " + std::to_string(ToPos) +
                                 " outside block " + std::to_string(Block));
    }
    switch (type) {
      case BlockMemFile:
      case BlockMem:
        (void)b.Samples.Ptr(off + n - 1);
        std::memmove(dst, b.Samples.Ptr(off), bytes);
        return;
      case BlockFile: {
        const int32_t bytePos = vb::Add(b.FilePos, vb::Mul(off, 2));
        OpenBlkFile(b.FileSlot);
        OpenBlkFileNum->ReadExactAt(dst, bytes, Offset(bytePos));
        return;
      }
      default: {  // BlockOrg
        const int32_t slot = b.FileSlot;
        OpenOrgFile(slot);
        const OrgFileRec& org = OrgFiles(slot);
        if (!KnownOrgLayout(org)) {
          std::memset(dst, 0, bytes);  // reads as silence
          return;
        }
        const int32_t frameBytes = org.Channels * (org.Bits / 8);
        ReadOrgRun(slot, vb::Add(b.FilePos, vb::Mul(off, frameBytes)), n, dst);
        return;
      }
    }
  } catch (...) {
    std::memset(dst, 0, bytes);
    throw;
  }
}

const int16_t* VodoRaraZodorUze::SamplesInMemory(int32_t Block, int32_t FromPos, int32_t n) const {
  const BlockRec& b = Blocks(Block);
  if (b.BlockType != BlockMemFile && b.BlockType != BlockMem) return nullptr;
  const int64_t off = int64_t{FromPos} - b.StartPos;
  if (n < 1 || off < 0 || off + n > b.Length || off + n > b.Samples.Count()) return nullptr;
  return b.Samples.Ptr(static_cast<int32_t>(off));
}

bool VodoRaraZodorUze::ReadStereoOrgRun(int32_t LeftBlock, int32_t RightBlock, int32_t FromPos, int32_t n,
                                        bool reverse, int16_t* frames) {
  const BlockRec& l = Blocks(LeftBlock);
  const BlockRec& r = Blocks(RightBlock);
  if (n < 1 || l.BlockType != BlockOrg || r.BlockType != BlockOrg || l.FileSlot != r.FileSlot) return false;
  const int32_t slot = l.FileSlot;
  if (slot < 1 || slot > OrgFileCount || OrgFiles(slot).Channels != 2 || OrgFiles(slot).Bits != 16) return false;
  const int64_t offL = int64_t{FromPos} - l.StartPos;
  const int64_t offR = int64_t{FromPos} - r.StartPos;
  if (offL < 0 || offL + n > l.Length || offR < 0 || offR + n > r.Length) return false;
  // The 1-based bytes of the first left and right samples; the window read
  // computes them (and each channel's 4n - 2 bytes) in checked 32-bit
  // arithmetic, so a run past that range is left to it and its error.
  const int64_t leftByte = l.FilePos + 4 * offL;
  const int64_t rightByte = r.FilePos + 4 * offR;
  if (rightByte != leftByte + 2 || rightByte > INT32_MAX || 4 * int64_t{n} - 2 > INT32_MAX) return false;
  OpenOrgFile(slot);
  try {
    // The left read covers bytes 0 .. 4n - 3 of the run, the right one 2 .. 4n - 1.
    OpenOrgFileNum->ReadExactAt(frames, 4 * static_cast<size_t>(n), leftByte - 1);
  } catch (const os::FileError& e) {
    // The window read meets the same fault and reports it per channel.
    os::LogDebug(std::string("direct stereo read given up for the window read: ") + e.what());
    return false;
  }
  if (reverse) runtime::ReverseFrames(frames, static_cast<size_t>(n));
  return true;
}

}  // namespace blocks
