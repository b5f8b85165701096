#include "tools/WavFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <limits>

#include "platform/os/Errors.h"
#include "platform/os/File.h"

namespace playctl {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

struct FmtChunk {
  uint16_t Tag = 0;
  uint16_t Channels = 0;
  uint32_t Rate = 0;
  uint16_t BlockAlign = 0;
  uint16_t Bits = 0;
};

void CheckFormat(const std::string& path, const FmtChunk& f) {
  if (f.Tag == 0xFFFE)
    throw WavError(path + ": WAVE_FORMAT_EXTENSIBLE is not supported; only plain PCM (format tag 1) can be played");
  if (f.Tag != 1)
    throw WavError(path + ": not PCM (format tag " + std::to_string(f.Tag) +
                   "); only plain PCM (format tag 1) can be played");
  if (f.Bits != 8 && f.Bits != 16)
    throw WavError(path + ": " + std::to_string(f.Bits) + "-bit samples are not supported; only 8 or 16 bits");
  if (f.Channels != 1 && f.Channels != 2)
    throw WavError(path + ": " + std::to_string(f.Channels) + " channels are not supported; only mono or stereo");
  if (f.Rate == 0 || f.Rate > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    throw WavError(path + ": sample rate " + std::to_string(f.Rate) + " is not usable");
  if (f.BlockAlign != f.Channels * f.Bits / 8)
    throw WavError(path + ": block align " + std::to_string(f.BlockAlign) + " does not match " +
                   std::to_string(f.Channels) + " channels of " + std::to_string(f.Bits) + " bits");
}

}  // namespace

WavInfo ReadWavHeader(const std::string& path) {
  std::unique_ptr<os::ReadOnlyFile> file;
  int64_t length = 0;
  try {
    file = os::ReadOnlyFile::Open(path);
    length = os::files::Length(path);
  } catch (const os::FileError& e) {
    throw WavError(e.what());
  }
  uint8_t head[12];
  if (length < 12) throw WavError(path + ": not a RIFF/WAVE file (too short)");
  file->ReadExactAt(head, sizeof head, 0);
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
    throw WavError(path + ": not a RIFF/WAVE file");

  FmtChunk fmt;
  bool haveFmt = false;
  int64_t dataOffset = -1;
  int64_t dataBytes = 0;
  for (int64_t at = 12; at + 8 <= length;) {
    uint8_t chunk[8];
    file->ReadExactAt(chunk, sizeof chunk, at);
    const uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFmt) {
      if (size < 16 || at + 8 + 16 > length) throw WavError(path + ": the fmt chunk is too short");
      uint8_t f[16];
      file->ReadExactAt(f, sizeof f, at + 8);
      fmt = FmtChunk{Le16(f), Le16(f + 2), Le32(f + 4), Le16(f + 12), Le16(f + 14)};
      haveFmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0 && dataOffset < 0) {
      dataOffset = at + 8;
      dataBytes = std::min<int64_t>(size, length - dataOffset);
    }
    if (haveFmt && dataOffset >= 0) break;
    at += 8 + static_cast<int64_t>(size) + (size & 1);
  }
  if (!haveFmt) throw WavError(path + ": no fmt chunk");
  CheckFormat(path, fmt);
  if (dataOffset < 0) throw WavError(path + ": no data chunk");

  WavInfo info;
  info.Channels = fmt.Channels;
  info.Bits = fmt.Bits;
  info.Rate = static_cast<int32_t>(fmt.Rate);
  info.DataOffset = dataOffset;
  const int64_t frames = dataBytes / info.BlockAlign();
  if (frames < 1) throw WavError(path + ": the data chunk holds no samples");
  // Block positions are 32-bit, counted from 1: the data must end below 2 GiB.
  if (dataOffset + frames * info.BlockAlign() > std::numeric_limits<int32_t>::max())
    throw WavError(path + ": the sample data reaches beyond 2 GiB, which block lists cannot address");
  info.Frames = static_cast<int32_t>(frames);
  return info;
}

void WriteWav16(const std::string& path, int32_t channels, int32_t rate, const std::vector<int16_t>& samples) {
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::vector<uint8_t> h;
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  Put32(h, 36 + dataBytes);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(h, 16);
  Put16(h, 1);
  Put16(h, static_cast<uint16_t>(channels));
  Put32(h, static_cast<uint32_t>(rate));
  Put32(h, static_cast<uint32_t>(rate * channels * 2));
  Put16(h, static_cast<uint16_t>(channels * 2));
  Put16(h, 16);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  Put32(h, dataBytes);
  os::files::WriteAt(path, h.data(), h.size(), 0, true);
  os::files::WriteAt(path, samples.data(), dataBytes, static_cast<int64_t>(h.size()), false);
}

}  // namespace playctl
