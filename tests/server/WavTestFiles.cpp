#include "tests/server/WavTestFiles.h"

#include <cstring>
#include <stdexcept>

#include "tests/support/TestWorld.h"

namespace testing_support {

namespace {

uint32_t Get(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(b[at + static_cast<size_t>(i)]) << (8 * i);
  return v;
}

}  // namespace

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

RecordedWav ReadRecordedWav(const std::string& path) {
  const std::vector<uint8_t> b = ReadBytes(path);
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[36], "data", 4) != 0)
    throw std::runtime_error(path + ": not a canonical WAV");
  RecordedWav wav{static_cast<int32_t>(Get(b, 22, 2)), static_cast<int32_t>(Get(b, 24, 4)), {}};
  wav.Samples.resize(std::min<size_t>(Get(b, 40, 4), b.size() - 44) / 2);
  std::memcpy(wav.Samples.data(), &b[44], wav.Samples.size() * 2);
  return wav;
}

}  // namespace testing_support
