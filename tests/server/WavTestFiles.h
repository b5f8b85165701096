#pragma once
// WAV files for the end-to-end tests: PCM test files, with an odd-sized chunk
// before the format when asked, and what the server's wav output recorded.

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct WavFormat {
  uint16_t Channels = 2;
  uint32_t Rate = 8000;
  uint16_t Bits = 16;
  bool ListChunkFirst = false;  // an odd-sized LIST chunk before fmt and data
};

// Writes a PCM WAV whose data chunk holds `data` (or `samples`).
void WriteWav(const std::string& path, const WavFormat& format, const std::vector<uint8_t>& data);
void WriteWav(const std::string& path, const WavFormat& format, const std::vector<int16_t>& samples);

struct RecordedWav {
  int32_t Channels = 0;
  int32_t Rate = 0;
  std::vector<int16_t> Samples;  // interleaved
};
// Reads a 16-bit PCM WAV as the wav output writes it (canonical 44-byte header).
RecordedWav ReadRecordedWav(const std::string& path);
// The whole file as it is ("" when it cannot be read).
std::string ReadText(const std::string& path);

}  // namespace testing_support
