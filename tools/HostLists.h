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

// One run of a wave, as handed over: where its samples lie.
struct WaveRun {
  enum class Kind { Wav, BlockFiles, Silence };
  Kind What = Kind::Silence;
  std::string Left;    // the WAV file, or the left (mono: only) block file
  std::string Right;   // the right block file of a stereo run
  audio::WavInfo Wav;  // for a WAV file
  int64_t FromFrame = 0;  // the run's first frame in its file
  int32_t Frames = 0;
};

// The lists of a mono or stereo wave, run after run. A mono run in a stereo
// wave plays on both channels. Positions past 2^31 - 1 throw
// os::ListFormatError.
class WaveLists final {
 public:
  explicit WaveLists(bool stereo) : stereo_(stereo) {}

  // `frames` frames of `path` (a full path) from its 0-based frame `fromFrame`.
  void AddWav(const std::string& path, const audio::WavInfo& wav, int64_t fromFrame, int32_t frames);
  // `frames` samples of each channel's block file (one file for both when
  // mono) from its 0-based sample `fromFrame`.
  void AddBlockFiles(const std::string& left, const std::string& right, int32_t frames, int64_t fromFrame = 0);
  void AddSilence(int32_t frames);
  // A run as Runs() gave it, whole.
  void Add(const WaveRun& run);

  HostLists Lists() const;
  // The runs added, in order.
  const std::vector<WaveRun>& Runs() const { return runs_; }

 private:
  bool stereo_;
  std::vector<WaveRun> runs_;
  blocks::HostListBuilder left_{"left channel"};
  blocks::HostListBuilder right_{"right channel"};
};

// The lists of `frames` frames of a wave made of `runs`, from its 0-based
// frame `first` on (an excerpt, to be handed over as a wave of its own).
HostLists ExcerptLists(const std::vector<WaveRun>& runs, bool stereo, int64_t first, int64_t frames);

// A whole WAV file read in place; `path` goes into the entries as it is
// given: pass a full path.
HostLists BuildOrgLists(const std::string& path, const audio::WavInfo& wav);

}  // namespace playctl
