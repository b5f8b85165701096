#pragma once
// The host block lists of the wave playctl hands over, made with the block
// engine's list builder: runs of a WAV file read in place (Orgfile blocks,
// FilePos the 1-based byte of the block's first sample of its own channel,
// the right channel of a stereo file one sample after the left), of raw
// 16-bit block files, and silence, each run split into entries of at most
// kMaxBlockSamples samples. A list is the host's array as JSON-RPC carries
// it, N in item 0.

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/HostListBuilder.h"
#include "platform/audio/WavFile.h"

namespace playctl {

inline constexpr int32_t kMaxBlockSamples = 1048576;

struct HostLists {
  std::vector<int32_t> Left;
  std::vector<int32_t> Right;  // empty for a mono wave
};

// The lists of a mono or stereo wave, run after run. A mono run in a stereo
// wave plays on both channels. Positions past 2^31 - 1 throw
// os::ListFormatError.
class WaveLists final {
 public:
  explicit WaveLists(bool stereo) : stereo_(stereo) {}

  // `frames` frames of `path` (a full path) from its 0-based frame `fromFrame`.
  void AddWav(const std::string& path, const audio::WavInfo& wav, int64_t fromFrame, int32_t frames);
  // `frames` samples of each channel's block file (one file for both when mono).
  void AddBlockFiles(const std::string& left, const std::string& right, int32_t frames);
  void AddSilence(int32_t frames);

  HostLists Lists() const;

 private:
  bool stereo_;
  blocks::HostListBuilder left_{"left channel"};
  blocks::HostListBuilder right_{"right channel"};
};

// A whole WAV file read in place; `path` goes into the entries as it is
// given: pass a full path.
HostLists BuildOrgLists(const std::string& path, const audio::WavInfo& wav);

}  // namespace playctl
