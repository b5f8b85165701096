#include "tests/server/WavTestFiles.h"

#include <cstring>
#include <stdexcept>

#include "tests/support/TestWorld.h"

namespace testing_support {

namespace {

void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutId(std::vector<uint8_t>& out, const char* id) { out.insert(out.end(), id, id + 4); }
uint32_t Get(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(b[at + static_cast<size_t>(i)]) << (8 * i);
  return v;
}

}  // namespace

void WriteWav(const std::string& path, const WavFormat& format, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> file;
  PutId(file, "RIFF");
  Put(file, static_cast<uint32_t>(36 + (format.ListChunkFirst ? 14 : 0) + data.size()), 4);
  PutId(file, "WAVE");
  if (format.ListChunkFirst) {
    PutId(file, "LIST");
    Put(file, 5, 4);
    file.insert(file.end(), {'I', 'N', 'F', 'O', 'x', 0});  // 5 bytes and the pad byte
  }
  PutId(file, "fmt ");
  const uint32_t align = format.Channels * format.Bits / 8u;
  for (const auto& [v, n] : {std::pair<uint32_t, int>{16, 4}, {1, 2}, {format.Channels, 2}, {format.Rate, 4},
                            {format.Rate * align, 4}, {align, 2}, {format.Bits, 2}})
    Put(file, v, n);
  PutId(file, "data");
  Put(file, static_cast<uint32_t>(data.size()), 4);
  file.insert(file.end(), data.begin(), data.end());
  WriteBytes(path, file);
}

void WriteWav(const std::string& path, const WavFormat& format, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  WriteWav(path, format, bytes);
}

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
