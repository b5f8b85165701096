#include "blocks/HostListBuilder.h"

#include <algorithm>
#include <limits>

#include "platform/os/Errors.h"

namespace blocks {

namespace {

constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();

// The entry as a message names it: "entry 3 (silence)", "entry 1 (WAV '/a.wav')".
std::string Describe(int32_t index, const HostListEntry& e) {
  std::string text = "entry " + std::to_string(index) + " (";
  if (e.BlockType == BlockSilent) return text + "silence)";
  text += e.BlockType == BlockOrg ? "WAV '" : "block file '";
  for (char c : e.Name) text += c == '\0' ? std::string("\\0") : std::string(1, c);  // a NUL would end the message
  return text + "')";
}

}  // namespace

void AppendHostListEntry(std::vector<int32_t>& list, const HostListEntry& e) {
  const auto n = static_cast<int32_t>(e.Name.size());
  const int32_t packed = (n + 3) / 4;
  list.push_back(1 + packed);  // K
  list.push_back(n);
  for (int32_t i = 0; i < packed; ++i) {
    uint32_t v = 0;
    for (int32_t b = 0; b < 4 && 4 * i + b < n; ++b)
      v |= static_cast<uint32_t>(static_cast<uint8_t>(e.Name[static_cast<size_t>(4 * i + b)])) << (8 * b);
    list.push_back(static_cast<int32_t>(v));
  }
  list.insert(list.end(), {e.Length, e.BlockType, e.StartPos, e.FilePos, e.Channels, e.Bits});
  ++list[0];
}

runtime::VbArray<int32_t> ToHostArray(const std::vector<int32_t>& list) {
  runtime::VbArray<int32_t> array(1, static_cast<int32_t>(list.size()));
  for (size_t i = 0; i < list.size(); ++i) array(static_cast<int32_t>(i) + 1) = list[i];
  return array;
}

HostListBuilder::HostListBuilder(std::string listName) : listName_(std::move(listName)) {}

HostListBuilder& HostListBuilder::AddBlockFile(const std::string& path, int32_t length, int32_t filePos) {
  Add({path, length, BlockFile, 0, filePos, 1, 16}, 2, 2);
  return *this;
}

HostListBuilder& HostListBuilder::AddWavFile(const std::string& path, int32_t length, int32_t filePos,
                                             int32_t channels, int32_t bits) {
  const HostListEntry entry{path, length, BlockOrg, 0, filePos, channels, bits};
  if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16))
    Refuse(entry, std::to_string(channels) + " channel(s) of " + std::to_string(bits) +
                      " bits; only 1 or 2 channels of 8 or 16 bits are read in place");
  Add(entry, bits / 8, channels * bits / 8);
  return *this;
}

HostListBuilder& HostListBuilder::AddSilence(int32_t length) {
  Add({"", length, BlockSilent, 0, 0, 1, 16}, 0, 0);
  return *this;
}

// `sampleBytes` and `stride` (bytes from one of the entry's samples to the
// next) place its last byte in the file; 0 for silence.
void HostListBuilder::Add(const HostListEntry& given, int32_t sampleBytes, int32_t stride) {
  HostListEntry entry = given;
  entry.StartPos = static_cast<int32_t>(std::min(nextStart_, kMaxPosition));
  if (entry.Length < 1) Refuse(entry, "Length " + std::to_string(entry.Length) + " is below 1");
  if (nextStart_ + entry.Length - 1 > kMaxPosition)
    Refuse(entry, "its last sample would lie at position " + std::to_string(nextStart_ + entry.Length - 1) +
                      ", beyond the " + std::to_string(kMaxPosition) + " positions a channel counts");
  if (entry.BlockType != BlockSilent) {
    if (entry.Name.empty()) Refuse(entry, "a file needs a name");
    if (entry.Name.find('\0') != std::string::npos) Refuse(entry, "the name holds a NUL byte");
    if (entry.FilePos < 1) Refuse(entry, "FilePos " + std::to_string(entry.FilePos) + " is below 1");
    const int64_t lastByte = int64_t{entry.FilePos} + int64_t{stride} * (entry.Length - 1) + sampleBytes - 1;
    if (lastByte > kMaxPosition)
      Refuse(entry, "its last byte would lie at byte " + std::to_string(lastByte) + " of the file, beyond the " +
                        std::to_string(kMaxPosition) + " bytes that positions count");
  }
  // 7 elements besides the packed name, whose count K must fit too.
  const int64_t elements = static_cast<int64_t>(list_.size()) + 7 + (static_cast<int64_t>(entry.Name.size()) + 3) / 4;
  if (elements > kMaxPosition) Refuse(entry, "the name is too long for the list to hold");
  AppendHostListEntry(list_, entry);
  nextStart_ += entry.Length;
}

void HostListBuilder::Refuse(const HostListEntry& entry, const std::string& why) const {
  throw os::ListFormatError(listName_ + ", " + Describe(EntryCount() + 1, entry) + ": " + why);
}

}  // namespace blocks
