#pragma once
// Sound files the server cannot read in place, through libsndfile: what a
// file holds (ProbeSound), and decoding a run of its frames into raw 16-bit
// block files, one per channel (DecodeToBlockFiles).
//
// Samples become 16 bits without dither: a sample x of the normalised range
// -1..1 becomes round(x * 32768), halves away from zero, clipped to
// -32768..32767. A 16-bit source therefore comes out unchanged, a 24- or
// 32-bit one rounded to its top 16 bits, and every clipped sample is counted.
// When the file's rate differs from the wanted one, the frames are
// resampled (libsoxr, high quality) before rounding.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace playctl {

struct SoundInfo {
  int32_t Channels = 0;
  int32_t Rate = 0;
  int64_t Frames = 0;
  std::string Format;  // libsndfile's name of the container and encoding
};

// Throws audio::WavError (the file named) when libsndfile cannot read the file.
SoundInfo ProbeSound(const std::string& path);

struct DecodeJob {
  std::string Path;
  int64_t FromFrame = 0;              // 0-based first frame of the run
  int64_t Frames = 0;                 // frames of the run, in the file's rate
  std::vector<int32_t> Channels;      // 0-based channels of the file to take, in order (1 or 2)
  int32_t Rate = 0;                   // rate of the result
  std::vector<std::string> OutPaths;  // one raw block file per taken channel (created)
};

struct DecodeResult {
  int64_t Frames = 0;   // frames written to each block file (fewer when the file ends early)
  int64_t Clipped = 0;  // samples clipped to the 16-bit range
};

// `progress` (may be empty) is called now and then with the share done, 0..1.
// Throws audio::WavError when the file cannot be read or a block file would outgrow
// the 2 GiB that block positions address.
DecodeResult DecodeToBlockFiles(const DecodeJob& job, const std::function<void(double)>& progress);

// One normalised sample to 16 bits as described above; counts a clip.
int16_t To16Bit(double x, int64_t& clipped);

}  // namespace playctl
