#pragma once
// WAV files: the canonical 44-byte header of a 16-bit PCM file (what the WAV
// output and the demo tune write), and reading the header of a file that is
// to be played in place.
//
// ProbeWav accepts RIFF/WAVE files whose fmt chunk has format tag 1 (PCM),
// 8 or 16 bits per sample and 1 or 2 channels, and finds the data chunk
// wherever it lies; a data chunk that claims more bytes than the file holds
// is cut to the file's end (and CutFrames says how much is missing; a size
// of 0xFFFFFFFF, which a recorder that never finished leaves, means "to the
// end of the file" and is not counted as cut). Since block positions are 32-bit and counted
// from 1, the sample data must end below 2 GiB. Anything else is refused with
// a message that says what the file is and what would be accepted.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/Errors.h"

namespace audio {

class WavError final : public os::PlayError {
 public:
  using os::PlayError::PlayError;
};

struct WavInfo {
  int32_t Channels = 0;    // 1 or 2
  int32_t Bits = 0;        // 8 or 16
  int32_t Rate = 0;        // frames per second
  int64_t DataOffset = 0;  // 0-based byte offset of the first sample
  int32_t Frames = 0;      // samples per channel
  int64_t CutFrames = 0;   // frames the data chunk claims beyond the end of the file
  int32_t BytesPerSample() const { return Bits / 8; }
  int32_t BlockAlign() const { return Channels * BytesPerSample(); }
};

// What ProbeWav found: the file's format, or why it cannot be read in place.
struct WavProbe {
  std::optional<WavInfo> Info;
  std::string Refusal;  // "<path>: <what is wrong>" when Info is empty
};

// Examines `path`. A file that cannot be opened or read is a refusal too.
WavProbe ProbeWav(const std::string& path);
// The same; a refusal throws WavError.
WavInfo ReadWavHeader(const std::string& path);

inline constexpr int64_t kWavHeaderBytes = 44;

// The canonical header of a PCM file of `channels` channels of `bits` bits at
// `rate` frames per second whose sample data is `dataBytes` long.
std::array<uint8_t, kWavHeaderBytes> WavHeader(int32_t channels, int32_t rate, int32_t bits, uint32_t dataBytes);

// Writes a canonical 16-bit PCM WAV: `samples` interleaved, `channels` per
// frame. Throws os::FileError naming the file when it cannot be written.
void WriteWav16(const std::string& path, int32_t channels, int32_t rate, const std::vector<int16_t>& samples);

}  // namespace audio
