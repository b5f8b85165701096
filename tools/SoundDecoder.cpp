#include "tools/SoundDecoder.h"

#include <sndfile.h>

#include <cmath>
#include <limits>
#include <memory>

#include "platform/audio/Resampler.h"
#include "platform/os/File.h"
#include "platform/audio/WavFile.h"

namespace playctl {

namespace {

constexpr int64_t kChunkFrames = 65536;

struct SndCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, SndCloser>;

SndFile OpenSound(const std::string& path, SF_INFO& info) {
  info = SF_INFO{};
  SndFile file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw audio::WavError(path + ": " + sf_strerror(nullptr));
  return file;
}

std::string FormatName(int format) {
  SF_FORMAT_INFO major{format & SF_FORMAT_TYPEMASK, nullptr, nullptr};
  SF_FORMAT_INFO sub{format & SF_FORMAT_SUBMASK, nullptr, nullptr};
  std::string name =
      sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0 && major.name ? major.name : "sound file";
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof sub) == 0 && sub.name) name += std::string(", ") + sub.name;
  return name;
}

// Appends converted frames to the block files, one channel each.
class BlockFileWriter final {
 public:
  explicit BlockFileWriter(const std::vector<std::string>& paths) : paths_(paths), scratch_(paths.size()) {}

  void Write(const double* frames, int64_t count, DecodeResult& result) {
    if (count <= 0) return;
    const size_t channels = paths_.size();
    const int64_t bytes = count * 2;
    if (offset_ + bytes >= std::numeric_limits<int32_t>::max())
      throw audio::WavError(paths_[0] + ": a decoded piece cannot outgrow 2 GiB per channel");
    for (size_t c = 0; c < channels; ++c) {
      scratch_[c].resize(static_cast<size_t>(count));
      for (int64_t i = 0; i < count; ++i)
        scratch_[c][static_cast<size_t>(i)] = To16Bit(frames[static_cast<size_t>(i) * channels + c], result.Clipped);
      os::files::WriteAt(paths_[c], scratch_[c].data(), static_cast<size_t>(bytes), offset_, offset_ == 0);
    }
    offset_ += bytes;
    result.Frames += count;
  }

 private:
  const std::vector<std::string>& paths_;
  std::vector<std::vector<int16_t>> scratch_;
  int64_t offset_ = 0;
};

std::unique_ptr<audio::Resampler> MakeResampler(const std::string& path, int32_t from, int32_t to, size_t channels) {
  try {
    return std::make_unique<audio::Resampler>(from, to, static_cast<int32_t>(channels),
                                              audio::Resampler::Samples::Float64);
  } catch (const os::PlayError& e) {
    throw audio::WavError(path + ": cannot resample: " + e.what());
  }
}

}  // namespace

int16_t To16Bit(double x, int64_t& clipped) {
  if (std::isnan(x)) return 0;
  const double v = std::round(x * 32768.0);
  if (v > 32767.0 || v < -32768.0) {
    ++clipped;
    return v > 0 ? int16_t{32767} : int16_t{-32768};
  }
  return static_cast<int16_t>(v);
}

SoundInfo ProbeSound(const std::string& path) {
  SF_INFO info;
  const SndFile file = OpenSound(path, info);
  if (info.samplerate <= 0)
    throw audio::WavError(path + ": sample rate " + std::to_string(info.samplerate) + " is not usable");
  return {info.channels, info.samplerate, info.frames, FormatName(info.format)};
}

DecodeResult DecodeToBlockFiles(const DecodeJob& job, const std::function<void(double)>& progress) {
  SF_INFO info;
  const SndFile file = OpenSound(job.Path, info);
  sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
  if (job.FromFrame > 0 && sf_seek(file.get(), job.FromFrame, SEEK_SET) < 0)
    throw audio::WavError(job.Path + ": cannot seek to frame " + std::to_string(job.FromFrame));
  const size_t inChannels = static_cast<size_t>(info.channels);
  const size_t outChannels = job.Channels.size();
  std::unique_ptr<audio::Resampler> resampler;
  if (info.samplerate != job.Rate) resampler = MakeResampler(job.Path, info.samplerate, job.Rate, outChannels);

  std::vector<double> raw(kChunkFrames * inChannels);
  std::vector<double> picked(kChunkFrames * outChannels);
  std::vector<double> resampled;
  BlockFileWriter writer(job.OutPaths);
  DecodeResult result;
  const auto writeResampled = [&] {
    writer.Write(resampled.data(), static_cast<int64_t>(resampled.size() / outChannels), result);
  };
  for (int64_t done = 0; done < job.Frames;) {
    const sf_count_t want = std::min(kChunkFrames, job.Frames - done);
    const sf_count_t got = sf_readf_double(file.get(), raw.data(), want);
    if (got <= 0 && done == 0)
      throw audio::WavError(job.Path + ": no sample can be read (" + sf_strerror(file.get()) + ")");
    if (got <= 0) break;  // compressed files may hold fewer frames than announced
    for (sf_count_t i = 0; i < got; ++i)
      for (size_t c = 0; c < outChannels; ++c)
        picked[static_cast<size_t>(i) * outChannels + c] =
            raw[static_cast<size_t>(i) * inChannels + static_cast<size_t>(job.Channels[c])];
    if (resampler) {
      resampler->Process(picked.data(), static_cast<size_t>(got), resampled);
      writeResampled();
    } else {
      writer.Write(picked.data(), got, result);
    }
    done += got;
    if (progress) progress(static_cast<double>(done) / static_cast<double>(job.Frames));
  }
  if (resampler) {
    resampler->Flush(resampled);
    writeResampled();
  }
  return result;
}

}  // namespace playctl
