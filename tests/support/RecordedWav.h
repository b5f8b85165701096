#pragma once
// WAV files written and read independently of the product's WAV code. What a
// run recorded through the WAV output: the canonical 44-byte header, whose
// data size must be what the file holds (a test failure otherwise), and the
// samples after it. And the bytes of a PCM WAV, field by field, for files the
// tests hand over or expect.

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

// A PCM WAV of `data`: RIFF, an odd-sized LIST chunk (and its pad byte)
// when `listFirst`, fmt, then the data chunk, whose size field says
// `dataSize` (the size of `data` when negative).
inline std::vector<uint8_t> WavBytes(uint32_t channels, uint32_t rate, uint32_t bits, const std::vector<uint8_t>& data,
                                     bool listFirst = false, int64_t dataSize = -1) {
  std::vector<uint8_t> f;
  const auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const auto tag = [&](const char* id) {  // byte by byte: GCC 12 -O2 misreads a ranged insert
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<uint8_t>(id[i]));
  };
  const auto size = static_cast<uint32_t>(dataSize < 0 ? static_cast<int64_t>(data.size()) : dataSize);
  tag("RIFF");
  put(36 + (listFirst ? 14 : 0) + size, 4);
  tag("WAVE");
  if (listFirst) {
    tag("LIST");
    put(5, 4);
    f.insert(f.end(), {'I', 'N', 'F', 'O', 'x', 0});
  }
  tag("fmt ");
  const uint32_t align = channels * bits / 8;
  for (const auto& [v, n] : {std::pair<uint32_t, int>{16, 4}, {1, 2}, {channels, 2}, {rate, 4}, {rate * align, 4},
                             {align, 2}, {bits, 2}})
    put(v, n);
  tag("data");
  put(size, 4);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

}  // namespace testing_support
