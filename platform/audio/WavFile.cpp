#include "platform/audio/WavFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/os/File.h"

namespace audio {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct FmtChunk {
  uint16_t Tag = 0;
  uint16_t Channels = 0;
  uint32_t Rate = 0;
  uint16_t BlockAlign = 0;
  uint16_t Bits = 0;
};

// What is wrong with the format for playing in place; "" when nothing.
std::string FormatRefusal(const std::string& path, const FmtChunk& f) {
  if (f.Tag == 0xFFFE)
    return path + ": WAVE_FORMAT_EXTENSIBLE is not supported; only plain PCM (format tag 1) can be played";
  if (f.Tag != 1)
    return path + ": not PCM (format tag " + std::to_string(f.Tag) + "); only plain PCM (format tag 1) can be played";
  if (f.Bits != 8 && f.Bits != 16)
    return path + ": " + std::to_string(f.Bits) + "-bit samples are not supported; only 8 or 16 bits";
  if (f.Channels != 1 && f.Channels != 2)
    return path + ": " + std::to_string(f.Channels) + " channels are not supported; only mono or stereo";
  if (f.Rate == 0 || f.Rate > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    return path + ": sample rate " + std::to_string(f.Rate) + " is not usable";
  if (f.BlockAlign != f.Channels * f.Bits / 8)
    return path + ": block align " + std::to_string(f.BlockAlign) + " does not match " +
           std::to_string(f.Channels) + " channels of " + std::to_string(f.Bits) + " bits";
  return "";
}

WavProbe Refused(std::string why) { return {std::nullopt, std::move(why)}; }

// The chunks of an open file: its fmt chunk and where its data lies.
WavProbe Examine(const std::string& path, const os::ReadOnlyFile& file, int64_t length) {
  uint8_t head[12];
  if (length < 12) return Refused(path + ": not a RIFF/WAVE file (too short)");
  file.ReadExactAt(head, sizeof head, 0);
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
    return Refused(path + ": not a RIFF/WAVE file");
  FmtChunk fmt;
  bool haveFmt = false;
  int64_t dataOffset = -1;
  int64_t dataBytes = 0;
  int64_t claimedBytes = 0;
  for (int64_t at = 12; at + 8 <= length;) {
    uint8_t chunk[8];
    file.ReadExactAt(chunk, sizeof chunk, at);
    const uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFmt) {
      if (size < 16 || at + 8 + 16 > length) return Refused(path + ": the fmt chunk is too short");
      uint8_t f[16];
      file.ReadExactAt(f, sizeof f, at + 8);
      fmt = FmtChunk{Le16(f), Le16(f + 2), Le32(f + 4), Le16(f + 12), Le16(f + 14)};
      haveFmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0 && dataOffset < 0) {
      dataOffset = at + 8;
      dataBytes = std::min<int64_t>(size, length - dataOffset);
      claimedBytes = size == 0xFFFFFFFFu ? dataBytes : size;
    }
    if (haveFmt && dataOffset >= 0) break;
    at += 8 + static_cast<int64_t>(size) + (size & 1);
  }
  if (!haveFmt) return Refused(path + ": no fmt chunk");
  std::string refusal = FormatRefusal(path, fmt);
  if (!refusal.empty()) return Refused(std::move(refusal));
  if (dataOffset < 0) return Refused(path + ": no data chunk");

  WavInfo info;
  info.Channels = fmt.Channels;
  info.Bits = fmt.Bits;
  info.Rate = static_cast<int32_t>(fmt.Rate);
  info.DataOffset = dataOffset;
  const int64_t frames = dataBytes / info.BlockAlign();
  if (frames < 1) return Refused(path + ": the data chunk holds no samples");
  if (dataOffset + frames * info.BlockAlign() > std::numeric_limits<int32_t>::max())
    return Refused(path + ": the sample data reaches beyond 2 GiB, which block lists cannot address");
  info.Frames = static_cast<int32_t>(frames);
  info.CutFrames = (claimedBytes + info.BlockAlign() - 1) / info.BlockAlign() - frames;
  return {info, ""};
}

}  // namespace

WavProbe ProbeWav(const std::string& path) {
  std::unique_ptr<os::ReadOnlyFile> file;
  int64_t length = 0;
  try {
    file = os::ReadOnlyFile::Open(path);
    length = os::files::Length(path);
    return Examine(path, *file, length);
  } catch (const os::FileError& e) {
    return Refused(e.what());
  }
}

WavInfo ReadWavHeader(const std::string& path) {
  WavProbe probe = ProbeWav(path);
  if (!probe.Info) throw WavError(probe.Refusal);
  return *probe.Info;
}

std::array<uint8_t, kWavHeaderBytes> WavHeader(int32_t channels, int32_t rate, int32_t bits, uint32_t dataBytes) {
  const auto blockAlign = static_cast<uint32_t>(channels * bits / 8);
  std::array<uint8_t, kWavHeaderBytes> h{};
  std::memcpy(&h[0], "RIFF", 4);
  PutU32(&h[4], static_cast<uint32_t>(dataBytes + kWavHeaderBytes - 8));
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutU32(&h[16], 16);  // size of the fmt chunk
  PutU16(&h[20], 1);   // PCM
  PutU16(&h[22], static_cast<uint32_t>(channels));
  PutU32(&h[24], static_cast<uint32_t>(rate));
  PutU32(&h[28], static_cast<uint32_t>(rate) * blockAlign);
  PutU16(&h[32], blockAlign);
  PutU16(&h[34], static_cast<uint32_t>(bits));
  std::memcpy(&h[36], "data", 4);
  PutU32(&h[40], dataBytes);
  return h;
}

void WriteWav16(const std::string& path, int32_t channels, int32_t rate, const std::vector<int16_t>& samples) {
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  const auto header = WavHeader(channels, rate, 16, dataBytes);
  os::files::WriteAt(path, header.data(), header.size(), 0, true);
  os::files::WriteAt(path, samples.data(), dataBytes, kWavHeaderBytes, false);
}

}  // namespace audio
