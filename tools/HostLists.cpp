#include "tools/HostLists.h"

#include <algorithm>

namespace playctl {

namespace {

std::vector<int32_t> OrgList(const std::vector<int32_t>& name, const audio::WavInfo& wav, int32_t channelOffset) {
  std::vector<int32_t> list{0};
  for (int64_t start = 0; start < wav.Frames; start += kMaxBlockSamples) {
    const auto length = static_cast<int32_t>(std::min<int64_t>(kMaxBlockSamples, wav.Frames - start));
    const auto filePos = static_cast<int32_t>(wav.DataOffset + 1 + start * wav.BlockAlign() + channelOffset);
    AppendEntry(list, name, {length, kBlockOrg, static_cast<int32_t>(start + 1), filePos, wav.Channels, wav.Bits});
  }
  return list;
}

}  // namespace

std::vector<int32_t> PackName(const std::string& name) {
  const auto n = static_cast<int32_t>(name.size());
  const int32_t packed = (n + 3) / 4;
  std::vector<int32_t> out{1 + packed, n};
  for (int32_t i = 0; i < packed; ++i) {
    uint32_t v = 0;
    for (int32_t b = 0; b < 4 && 4 * i + b < n; ++b)
      v |= static_cast<uint32_t>(static_cast<uint8_t>(name[static_cast<size_t>(4 * i + b)])) << (8 * b);
    out.push_back(static_cast<int32_t>(v));
  }
  return out;
}

void AppendEntry(std::vector<int32_t>& list, const std::vector<int32_t>& name, const HostEntry& e) {
  if (name.empty()) {
    list.insert(list.end(), {1, 0});
  } else {
    list.insert(list.end(), name.begin(), name.end());
  }
  list.insert(list.end(), {e.Length, e.Type, e.StartPos, e.FilePos, e.Channels, e.Bits});
  ++list[0];
}

HostLists BuildOrgLists(const std::string& path, const audio::WavInfo& wav) {
  const std::vector<int32_t> name = PackName(path);
  HostLists lists;
  lists.Left = OrgList(name, wav, 0);
  if (wav.Channels == 2) lists.Right = OrgList(name, wav, wav.BytesPerSample());
  return lists;
}

}  // namespace playctl
