#pragma once
// Writing host block lists, the format BlockListIngest reads: element 1 holds
// N, then N entries of 7 + K elements each: K, the name's byte count n, K - 1
// elements of name bytes (four per element, the first byte in the least
// significant byte), Length, block type, StartPos, FilePos, Channels, Bits.
//
// HostListBuilder is what a host uses: it appends entries by name and
// numbers, works out each entry's StartPos from the entries before it (the
// first sample is position 1), and refuses what the server would misread,
// naming the entry: a FilePos below 1, a length below 1 or one that runs the
// channel or the file past the 2^31 - 1 that 32-bit positions count, a
// name that cannot be packed (empty, holding a NUL byte, or too long), and a
// format other than 1 or 2 channels of 8 or 16 bits. Every list it gives
// ingests back into exactly the entries appended.
//
// AppendHostListEntry is the packing underneath, without checks, for lists
// that are meant to be odd (tests of the ingest's own checks).
// Thread: one at a time.

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/BlockRec.h"
#include "platform/runtime/VbArray.h"

namespace blocks {

// One entry, field by field. Name is a full path ("" for no name).
struct HostListEntry {
  std::string Name;
  int32_t Length = 0;
  int32_t BlockType = BlockSilent;
  int32_t StartPos = 0;
  int32_t FilePos = 0;
  int32_t Channels = 1;
  int32_t Bits = 16;
};

// Appends `entry` to `list` (whose item 0 holds N) as written and counts it.
void AppendHostListEntry(std::vector<int32_t>& list, const HostListEntry& entry);

// `list` (N in item 0) as the host's array: N in element 1 (lower bound 1).
runtime::VbArray<int32_t> ToHostArray(const std::vector<int32_t>& list);

class HostListBuilder final {
 public:
  // `listName` begins every refusal ("left channel, entry 3: ...").
  explicit HostListBuilder(std::string listName = "block list");

  // `length` samples of a raw 16-bit block file, its first at 1-based byte
  // `filePos`.
  HostListBuilder& AddBlockFile(const std::string& path, int32_t length, int32_t filePos = 1);
  // `length` samples of one channel of a host's WAV data read in place: the
  // channel's first sample at 1-based byte `filePos` (for the right channel
  // of stereo data, the right sample of the first frame); `channels` and
  // `bits` of the file's data.
  HostListBuilder& AddWavFile(const std::string& path, int32_t length, int32_t filePos, int32_t channels,
                              int32_t bits);
  HostListBuilder& AddSilence(int32_t length);

  int32_t EntryCount() const { return list_[0]; }
  // Samples appended so far; the next entry starts at position Samples() + 1.
  int32_t Samples() const { return nextStart_ - 1; }
  // The list with N in item 0, as JSON-RPC carries it.
  const std::vector<int32_t>& Elements() const { return list_; }
  // The host's array: N in element 1 (lower bound 1).
  runtime::VbArray<int32_t> Build() const { return ToHostArray(list_); }

 private:
  void Add(const HostListEntry& entry, int32_t sampleBytes, int32_t stride);
  [[noreturn]] void Refuse(const HostListEntry& entry, const std::string& why) const;

  std::string listName_;
  std::vector<int32_t> list_{0};
  int64_t nextStart_ = 1;
};

}  // namespace blocks
