#include "tools/HostLists.h"

#include <algorithm>

namespace playctl {

namespace {

// Calls `add(offset, length)` for each entry of a run of `frames`.
template <typename Add>
void Split(int32_t frames, Add&& add) {
  for (int32_t done = 0; done < frames; done += kMaxBlockSamples) add(done, std::min(kMaxBlockSamples, frames - done));
}

}  // namespace

void WaveLists::AddWav(const std::string& path, const audio::WavInfo& wav, int64_t fromFrame, int32_t frames) {
  runs_.push_back({WaveRun::Kind::Wav, path, "", wav, fromFrame, frames});
  const auto first = static_cast<int32_t>(wav.DataOffset + 1 + fromFrame * wav.BlockAlign());
  const int32_t rightOffset = wav.Channels == 2 ? wav.BytesPerSample() : 0;
  Split(frames, [&](int32_t done, int32_t length) {
    const int32_t filePos = first + done * wav.BlockAlign();
    left_.AddWavFile(path, length, filePos, wav.Channels, wav.Bits);
    if (stereo_) right_.AddWavFile(path, length, filePos + rightOffset, wav.Channels, wav.Bits);
  });
}

void WaveLists::AddBlockFiles(const std::string& left, const std::string& right, int32_t frames, int64_t fromFrame) {
  runs_.push_back({WaveRun::Kind::BlockFiles, left, right, {}, fromFrame, frames});
  const auto first = static_cast<int32_t>(1 + 2 * fromFrame);
  Split(frames, [&](int32_t done, int32_t length) {
    left_.AddBlockFile(left, length, first + 2 * done);
    if (stereo_) right_.AddBlockFile(right, length, first + 2 * done);
  });
}

void WaveLists::Add(const WaveRun& run) {
  switch (run.What) {
    case WaveRun::Kind::Wav:
      AddWav(run.Left, run.Wav, run.FromFrame, run.Frames);
      break;
    case WaveRun::Kind::BlockFiles:
      AddBlockFiles(run.Left, run.Right, run.Frames, run.FromFrame);
      break;
    case WaveRun::Kind::Silence:
      AddSilence(run.Frames);
      break;
  }
}

void WaveLists::AddSilence(int32_t frames) {
  runs_.push_back({WaveRun::Kind::Silence, "", "", {}, 0, frames});
  Split(frames, [&](int32_t, int32_t length) {
    left_.AddSilence(length);
    if (stereo_) right_.AddSilence(length);
  });
}

HostLists WaveLists::Lists() const { return {left_.Elements(), stereo_ ? right_.Elements() : std::vector<int32_t>{}}; }

HostLists ExcerptLists(const std::vector<WaveRun>& runs, bool stereo, int64_t first, int64_t frames) {
  WaveLists lists(stereo);
  int64_t at = 0;  // the wave's frame where the run begins
  for (const WaveRun& run : runs) {
    const int64_t from = std::max(first, at);
    const int64_t to = std::min(first + frames, at + run.Frames);
    if (from < to) {
      WaveRun part = run;
      part.FromFrame += from - at;
      part.Frames = static_cast<int32_t>(to - from);
      lists.Add(part);
    }
    at += run.Frames;
  }
  return lists.Lists();
}

HostLists BuildOrgLists(const std::string& path, const audio::WavInfo& wav) {
  WaveLists lists(wav.Channels == 2);
  lists.AddWav(path, wav, 0, wav.Frames);
  return lists.Lists();
}

}  // namespace playctl
