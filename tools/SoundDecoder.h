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
//
// libsndfile reads the file through this code (its virtual I/O), so that a
// decode that stops early can say why: the file ends there (cut short), the
// data before the point it reached is damaged, or a read failed. The notes
// its decoders print on standard error are kept off the screen.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace playctl {

struct SoundInfo {
  int32_t Channels = 0;
  int32_t Rate = 0;
  int64_t Frames = 0;  // -1: the file does not say (its end is missing or damaged)
  std::string Format;  // libsndfile's name of the container and encoding
};

// Throws audio::WavError "<path>: <what is wrong>" when libsndfile cannot
// read the file: "is not a sound file", "is a damaged sound file (...)",
// "holds sound in an encoding that cannot be decoded", "cannot be read (...)".
SoundInfo ProbeSound(const std::string& path);

struct DecodeJob {
  std::string Path;
  int64_t FromFrame = 0;              // 0-based first frame of the run
  int64_t Frames = 0;                 // frames of the run, in the file's rate; -1: to the file's end
  std::vector<int32_t> Channels;      // 0-based channels of the file to take, in order (1 or 2)
  int32_t Rate = 0;                   // rate of the result
  std::vector<std::string> OutPaths;  // one raw block file per taken channel (created)
};

struct DecodeResult {
  int64_t Frames = 0;        // frames written to each block file (fewer when the file ends early)
  int64_t SourceFrames = 0;  // frames decoded, in the file's rate
  int64_t Clipped = 0;       // samples clipped to the 16-bit range
  // Empty when the run decoded whole; otherwise what decoded and why the rest
  // did not, e.g. "0.743 s of 6.000 s decoded (32768 of 264600 samples);
  // the file ends there, cut short after 100000 bytes".
  std::string Damage;
};

// `progress` (may be empty) is called now and then with the share done, 0..1.
// A run that stops early is not an error (Damage says so) unless nothing at
// all decoded. Throws audio::WavError when the file cannot be opened, no
// sample decodes, or a block file would outgrow the 2 GiB that block
// positions address.
DecodeResult DecodeToBlockFiles(const DecodeJob& job, const std::function<void(double)>& progress);

// One normalised sample to 16 bits as described above; counts a clip.
int16_t To16Bit(double x, int64_t& clipped);

// "m:ss.mmm"-free seconds for messages: "0.743 s".
std::string SecondsText(double seconds);

}  // namespace playctl
