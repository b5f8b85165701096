#include "tests/server/WavTestFiles.h"

#include <cstring>
#include <fstream>
#include <iterator>
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

int64_t WriteWav(const std::string& path, const WavFormat& format, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> file;
  PutId(file, "RIFF");
  Put(file, 0, 4);  // patched below
  PutId(file, "WAVE");
  if (format.ListChunkFirst) {
    PutId(file, "LIST");
    Put(file, 5, 4);
    file.insert(file.end(), {'I', 'N', 'F', 'O', 'x', 0});  // 5 bytes and the pad byte
  }
  PutId(file, "fmt ");
  const uint32_t align = format.Channels * format.Bits / 8u;
  for (const auto& [v, n] : {std::pair<uint32_t, int>{16, 4}, {format.Tag, 2}, {format.Channels, 2}, {format.Rate, 4},
                            {format.Rate * align, 4}, {align, 2}, {format.Bits, 2}})
    Put(file, v, n);
  PutId(file, "data");
  Put(file, static_cast<uint32_t>(data.size()), 4);
  const int64_t dataOffset = static_cast<int64_t>(file.size());
  file.insert(file.end(), data.begin(), data.end());
  const uint32_t riffSize = static_cast<uint32_t>(file.size() - 8);
  std::memcpy(&file[4], &riffSize, 4);
  WriteBytes(path, file);
  return dataOffset;
}

std::vector<uint8_t> SamplesToBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

RecordedWav ReadRecordedWav(const std::string& path) {
  const std::string text = ReadText(path);
  const std::vector<uint8_t> b(text.begin(), text.end());
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[36], "data", 4) != 0)
    throw std::runtime_error(path + ": not a canonical WAV");
  RecordedWav wav{static_cast<int32_t>(Get(b, 22, 2)), static_cast<int32_t>(Get(b, 24, 4)), {}};
  wav.Samples.resize(std::min<size_t>(Get(b, 40, 4), b.size() - 44) / 2);
  std::memcpy(wav.Samples.data(), &b[44], wav.Samples.size() * 2);
  return wav;
}

}  // namespace testing_support
