#include "tests/server/WavTestFiles.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutId(std::vector<uint8_t>& out, const char* id) { out.insert(out.end(), id, id + 4); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

}  // namespace

int64_t WriteWav(const std::string& path, const WavFormat& format, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body;
  PutId(body, "WAVE");
  if (format.ListChunkFirst) {
    PutId(body, "LIST");
    Put32(body, 5);
    body.insert(body.end(), {'I', 'N', 'F', 'O', 'x', 0});  // 5 bytes and the pad byte
  }
  PutId(body, "fmt ");
  Put32(body, 16);
  Put16(body, format.Tag);
  Put16(body, format.Channels);
  Put32(body, format.Rate);
  const uint16_t align = static_cast<uint16_t>(format.Channels * format.Bits / 8);
  Put32(body, format.Rate * align);
  Put16(body, align);
  Put16(body, format.Bits);
  PutId(body, "data");
  Put32(body, static_cast<uint32_t>(data.size()));
  const int64_t dataOffset = 8 + static_cast<int64_t>(body.size());
  body.insert(body.end(), data.begin(), data.end());
  std::vector<uint8_t> file;
  PutId(file, "RIFF");
  Put32(file, static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return dataOffset;
}

std::vector<uint8_t> SamplesToBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

RecordedWav ReadRecordedWav(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0) throw std::runtime_error(path + ": not a WAV");
  RecordedWav wav;
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = Get32(b, at + 4);
    if (std::memcmp(&b[at], "fmt ", 4) == 0) {
      wav.Channels = Get16(b, at + 10);
      wav.Rate = static_cast<int32_t>(Get32(b, at + 12));
      wav.Bits = Get16(b, at + 22);
    } else if (std::memcmp(&b[at], "data", 4) == 0) {
      const size_t n = std::min<size_t>(size, b.size() - at - 8) / 2;
      wav.Samples.resize(n);
      std::memcpy(wav.Samples.data(), &b[at + 8], n * 2);
      break;
    }
    at += 8 + size + (size & 1);
  }
  return wav;
}

}  // namespace testing_support
