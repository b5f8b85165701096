#pragma once
// The loudness of a wave at a glance: the highest absolute sample of every
// 10 ms of each channel, read once from the runs the wave was handed over
// as (WAV files read in place, decoded block files, silence). From them the
// screen draws an overview of the whole wave, one character per column, and
// a level meter of what is sounding at the playhead.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/HostLists.h"

namespace playctl {

class WavePeaks final {
 public:
  // Reads every run; `stereo` as the wave is handed over (a mono run of a
  // stereo wave counts on both channels). Throws os::FileError naming a file
  // that cannot be read.
  WavePeaks(const std::vector<WaveRun>& runs, bool stereo, int32_t rate);

  int64_t Frames() const { return frames_; }
  int32_t Channels() const { return stereo_ ? 2 : 1; }
  // The highest absolute sample (0..32768) of each channel over the 0-based
  // frames [from, to), in steps of 10 ms (the bins that the range touches).
  std::array<int32_t, 2> Peak(int64_t from, int64_t to) const;

 private:
  void AddRun(const WaveRun& run);
  void AddFrame(int32_t left, int32_t right);

  bool stereo_;
  int32_t binFrames_;
  int64_t frames_ = 0;
  int32_t binLeft_ = 0;  // frames the last bin still takes
  std::vector<std::array<uint16_t, 2>> bins_;
};

// One line of `width` characters: column c shows the peak of its share of the
// wave (" .:-=+*#%@", silence to full scale), '|' the playhead (0-based frame
// `playhead`), '[' and ']' the first and last column of a selection of the
// 0-based frames [selFrom, selTo) when selTo > selFrom.
std::string OverviewLine(const WavePeaks& peaks, int width, int64_t playhead, int64_t selFrom, int64_t selTo);

// A level meter of `width` characters at most: per channel a bar from -60 to
// 0 dBFS and the peak in dB ("L [#####.....]  -12 dB  R [...]"); `sounding`
// false shows empty bars and "--".
std::string MeterLine(const std::array<int32_t, 2>& peak, int channels, bool sounding, int width);

}  // namespace playctl
