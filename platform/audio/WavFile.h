#pragma once
// The host's side of WAV files: reading the header of a file that the server
// is to play in place, and writing a small PCM file (the demo tune).
//
// ReadWavHeader accepts RIFF/WAVE files whose fmt chunk has format tag 1
// (PCM), 8 or 16 bits per sample and 1 or 2 channels, and finds the data
// chunk wherever it lies. Anything else throws WavError with a message that
// says what the file is and what would be accepted. A data chunk that claims
// more bytes than the file holds is cut to the file's end.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace playctl {

class WavError final : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct WavInfo {
  int32_t Channels = 0;       // 1 or 2
  int32_t Bits = 0;           // 8 or 16
  int32_t Rate = 0;           // frames per second
  int64_t DataOffset = 0;     // 0-based byte offset of the first sample
  int32_t Frames = 0;         // samples per channel
  int32_t BytesPerSample() const { return Bits / 8; }
  int32_t BlockAlign() const { return Channels * BytesPerSample(); }
};

WavInfo ReadWavHeader(const std::string& path);

// Writes a canonical 16-bit PCM WAV: `samples` interleaved, `channels` per frame.
void WriteWav16(const std::string& path, int32_t channels, int32_t rate, const std::vector<int16_t>& samples);

}  // namespace playctl
