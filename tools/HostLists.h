#pragma once
// Builds the host block lists that describe a WAV file to the server, read in
// place: Orgfile blocks (type 4) of at most kMaxBlockSamples samples each,
// FilePos the 1-based byte of the block's first sample of its own channel (the
// right channel of a stereo file one sample after the left).
//
// A list is the host's array as JSON-RPC carries it: item 0 is N, then per
// entry K, n, the name's bytes four per item (first byte least significant),
// Length, type, StartPos, FilePos, Channels, Bits, with K = 1 + ceil(n/4).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/WavFile.h"

namespace playctl {

inline constexpr int32_t kMaxBlockSamples = 1048576;

struct HostLists {
  std::vector<int32_t> Left;
  std::vector<int32_t> Right;  // empty for a mono file
};

// `path` goes into the entries as it is given; pass a full path.
HostLists BuildOrgLists(const std::string& path, const audio::WavInfo& wav);

// The name part of an entry: K, n and the packed bytes.
std::vector<int32_t> PackName(const std::string& name);

// Block types of the entries the host writes.
inline constexpr int32_t kBlockFile = 3;
inline constexpr int32_t kBlockOrg = 4;
inline constexpr int32_t kBlockSilent = 5;

struct HostEntry {
  int32_t Length = 0;
  int32_t Type = kBlockSilent;
  int32_t StartPos = 0;
  int32_t FilePos = 0;   // 1-based byte; 0 for silence
  int32_t Channels = 1;  // of the file (Orgfiles)
  int32_t Bits = 16;
};

// Appends one entry to `list` (which starts as {0}) and counts it in item 0.
// `name` is PackName's result; an empty vector stands for "no name".
void AppendEntry(std::vector<int32_t>& list, const std::vector<int32_t>& name, const HostEntry& entry);

}  // namespace playctl
