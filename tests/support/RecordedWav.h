#pragma once
// What a run recorded through the WAV output, read independently of the
// product's WAV code: the canonical 44-byte header, whose data size must be
// what the file holds (a test failure otherwise), and the samples after it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace testing_support {

struct RecordedWav {
  int32_t Channels = 0;  // from the header's 16-bit field
  int32_t Rate = 0;
  std::vector<int16_t> Samples;  // interleaved
};

inline RecordedWav ReadRecordedWav(const std::string& path) {
  const std::vector<uint8_t> b = ReadBytes(path);
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[36], "data", 4) != 0)
    throw std::runtime_error(path + ": not a canonical WAV");
  RecordedWav wav;
  uint32_t size = 0;  // little-endian, as the host
  std::memcpy(&wav.Channels, &b[22], 2);
  std::memcpy(&wav.Rate, &b[24], 4);
  std::memcpy(&size, &b[40], 4);
  EXPECT_EQ(size, b.size() - 44) << path << ": the header's data size is not what the file holds";
  wav.Samples.resize(std::min<size_t>(size, b.size() - 44) / 2);
  std::memcpy(wav.Samples.data(), &b[44], wav.Samples.size() * 2);
  return wav;
}

// The first `n` samples recorded (all of them when there are fewer).
inline std::vector<int16_t> Recorded(const std::string& path, size_t n) {
  std::vector<int16_t> s = ReadRecordedWav(path).Samples;
  s.resize(std::min(s.size(), n));
  return s;
}

}  // namespace testing_support
