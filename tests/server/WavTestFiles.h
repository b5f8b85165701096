#pragma once
// What the server's wav output recorded, and any file read whole, for the
// end-to-end tests.

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

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
