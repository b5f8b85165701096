#include "tools/WavePeaks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/os/File.h"

namespace playctl {

namespace {

constexpr int64_t kReadFrames = 65536;
constexpr char kShades[] = " .:-=+*#%@";
constexpr int kShadeCount = sizeof kShades - 1;
constexpr double kFloorDb = -60.0;

int32_t Sample(const uint8_t* p, int32_t bits) {
  if (bits == 8) return (p[0] - 128) * 256;
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}

}  // namespace

WavePeaks::WavePeaks(const std::vector<WaveRun>& runs, bool stereo, int32_t rate)
    : stereo_(stereo), binFrames_(std::max(1, rate / 100)) {
  for (const WaveRun& run : runs) AddRun(run);
}

void WavePeaks::AddFrame(int32_t left, int32_t right) {
  if (binLeft_ == 0) {
    bins_.push_back({0, 0});
    binLeft_ = binFrames_;
  }
  --binLeft_;
  auto& bin = bins_.back();
  bin[0] = static_cast<uint16_t>(std::max<int32_t>(bin[0], std::abs(left)));
  bin[1] = static_cast<uint16_t>(std::max<int32_t>(bin[1], std::abs(right)));
  ++frames_;
}

void WavePeaks::AddRun(const WaveRun& run) {
  if (run.What == WaveRun::Kind::Silence) {
    for (int32_t i = 0; i < run.Frames; ++i) AddFrame(0, 0);
    return;
  }
  const bool wav = run.What == WaveRun::Kind::Wav;
  const int32_t bits = wav ? run.Wav.Bits : 16;
  const int32_t bytes = bits / 8;
  const int32_t align = wav ? run.Wav.BlockAlign() : 2;
  const int64_t first = wav ? run.Wav.DataOffset + run.FromFrame * align : run.FromFrame * 2;
  const auto left = os::ReadOnlyFile::Open(run.Left);
  std::unique_ptr<os::ReadOnlyFile> right;
  if (!wav && stereo_ && run.Right != run.Left) right = os::ReadOnlyFile::Open(run.Right);
  const int32_t rightOffset = wav && run.Wav.Channels == 2 ? bytes : 0;
  std::vector<uint8_t> l, r;
  for (int64_t done = 0; done < run.Frames;) {
    const int64_t n = std::min<int64_t>(kReadFrames, run.Frames - done);
    l.resize(static_cast<size_t>(n * align));
    left->ReadExactAt(l.data(), l.size(), first + done * align);
    if (right) {
      r.resize(l.size());
      right->ReadExactAt(r.data(), r.size(), first + done * 2);
    }
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t* p = l.data() + i * align;
      const int32_t a = Sample(p, bits);
      AddFrame(a, right ? Sample(r.data() + i * 2, 16) : Sample(p + rightOffset, bits));
    }
    done += n;
  }
}

std::array<int32_t, 2> WavePeaks::Peak(int64_t from, int64_t to) const {
  std::array<int32_t, 2> peak{0, 0};
  const int64_t last = std::min<int64_t>(static_cast<int64_t>(bins_.size()), (to + binFrames_ - 1) / binFrames_);
  for (int64_t b = std::max<int64_t>(0, from / binFrames_); b < last; ++b) {
    peak[0] = std::max<int32_t>(peak[0], bins_[static_cast<size_t>(b)][0]);
    peak[1] = std::max<int32_t>(peak[1], bins_[static_cast<size_t>(b)][1]);
  }
  return peak;
}

std::string OverviewLine(const WavePeaks& peaks, int width, int64_t playhead, int64_t selFrom, int64_t selTo) {
  if (width < 1 || peaks.Frames() < 1) return "";
  const int64_t frames = peaks.Frames();
  const auto column = [&](int64_t frame) {
    return static_cast<size_t>(std::clamp<int64_t>(frame * width / frames, 0, width - 1));
  };
  std::string line(static_cast<size_t>(width), ' ');
  for (int c = 0; c < width; ++c) {
    const auto p = peaks.Peak(c * frames / width, (c + 1) * frames / width);
    const int32_t top = std::max(p[0], p[1]);
    const int shade = top == 0 ? 0 : 1 + std::min(kShadeCount - 2, top * (kShadeCount - 1) / 32769);
    line[static_cast<size_t>(c)] = kShades[shade];
  }
  if (selTo > selFrom) {
    line[column(selFrom)] = '[';
    line[column(selTo - 1)] = ']';
  }
  line[column(playhead)] = '|';
  return line;
}

std::string MeterLine(const std::array<int32_t, 2>& peak, int channels, bool sounding, int width) {
  static const char* kNames[] = {"L", "R"};
  const int each = width / channels;
  const int bar = std::max(4, each - 14);  // "L [" + bar + "] -60 dB  "
  std::string line;
  for (int c = 0; c < channels; ++c) {
    const double db = peak[static_cast<size_t>(c)] > 0 ? 20 * std::log10(peak[static_cast<size_t>(c)] / 32768.0) : kFloorDb;
    const int filled = sounding ? static_cast<int>(std::lround((std::max(db, kFloorDb) - kFloorDb) / -kFloorDb * bar)) : 0;
    char level[16];
    if (sounding && peak[static_cast<size_t>(c)] > 0) {
      std::snprintf(level, sizeof level, "%4.0f dB", std::max(db, -99.0));
    } else {
      std::snprintf(level, sizeof level, "  -- dB");
    }
    line += std::string(channels == 2 ? kNames[c] : "") + (channels == 2 ? " [" : "[") +
            std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(bar - filled), '.') + "] " +
            level + (c + 1 < channels ? "  " : "");
  }
  return line;
}

}  // namespace playctl
