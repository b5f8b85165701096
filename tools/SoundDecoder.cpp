#include "tools/SoundDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "platform/audio/Resampler.h"
#include "platform/audio/WavFile.h"
#include "platform/os/File.h"
#include "platform/os/Stdio.h"

namespace playctl {

namespace {

constexpr int64_t kChunkFrames = 65536;

// The file as libsndfile reads it: positioned reads through the OS layer,
// and how far it got.
class TrackedFile final {
 public:
  explicit TrackedFile(const std::string& path) : file_(os::ReadOnlyFile::Open(path)), length_(os::files::Length(path)) {}

  int64_t Length() const { return length_; }
  int64_t Reach() const { return reach_; }  // the furthest byte read up to
  const std::string& ReadError() const { return readError_; }

  static SF_VIRTUAL_IO* Io() {
    static SF_VIRTUAL_IO io{
        [](void* self) -> sf_count_t { return static_cast<TrackedFile*>(self)->length_; },
        [](sf_count_t offset, int whence, void* self) { return static_cast<TrackedFile*>(self)->Seek(offset, whence); },
        [](void* dst, sf_count_t bytes, void* self) { return static_cast<TrackedFile*>(self)->Read(dst, bytes); },
        [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
        [](void* self) -> sf_count_t { return static_cast<TrackedFile*>(self)->at_; },
    };
    return &io;
  }

 private:
  sf_count_t Seek(sf_count_t offset, int whence) {
    const int64_t base = whence == SEEK_CUR ? at_ : whence == SEEK_END ? length_ : 0;
    at_ = std::max<int64_t>(0, base + offset);
    return at_;
  }
  sf_count_t Read(void* dst, sf_count_t bytes) {
    if (!readError_.empty() || bytes <= 0) return 0;
    size_t got = 0;
    try {
      got = file_->ReadSomeAt(dst, static_cast<size_t>(bytes), at_);
    } catch (const os::FileError& e) {
      readError_ = e.what();
      return 0;
    }
    at_ += static_cast<int64_t>(got);
    reach_ = std::max(reach_, at_);
    return static_cast<sf_count_t>(got);
  }

  std::unique_ptr<os::ReadOnlyFile> file_;
  int64_t length_;
  int64_t at_ = 0;
  int64_t reach_ = 0;
  std::string readError_;
};

struct SndCloser {
  void operator()(SNDFILE* f) const {
    const os::QuietStandardError quiet;
    sf_close(f);
  }
};
using SndFile = std::unique_ptr<SNDFILE, SndCloser>;

// What is wrong with a file libsndfile refuses, in words about the file.
std::string Refusal(int code, const std::string& text, const TrackedFile& tracked) {
  if (!tracked.ReadError().empty()) return "cannot be read (" + tracked.ReadError() + ")";
  if (code == SF_ERR_MALFORMED_FILE) return "is a damaged sound file (" + text + ")";
  if (code == SF_ERR_UNSUPPORTED_ENCODING) return "holds sound in an encoding that cannot be decoded (" + text + ")";
  return "is not a sound file";
}

SndFile OpenSound(const std::string& path, TrackedFile& tracked, SF_INFO& info) {
  info = SF_INFO{};
  const os::QuietStandardError quiet;
  SndFile file(sf_open_virtual(TrackedFile::Io(), SFM_READ, &info, &tracked));
  if (!file) throw audio::WavError(path + ": " + Refusal(sf_error(nullptr), sf_strerror(nullptr), tracked));
  return file;
}

std::unique_ptr<TrackedFile> Track(const std::string& path) {
  try {
    return std::make_unique<TrackedFile>(path);
  } catch (const os::FileError& e) {
    throw audio::WavError(path + ": cannot be read (" + e.what() + ")");
  }
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

// Why decoding stopped before the end of the run.
std::string WhyItStopped(const TrackedFile& tracked, const std::string& libraryError) {
  std::string why;
  if (!tracked.ReadError().empty()) {
    why = "reading stopped at byte " + std::to_string(tracked.Reach()) + ": " + tracked.ReadError();
  } else if (tracked.Reach() >= tracked.Length()) {
    why = "the file ends there, cut short after " + std::to_string(tracked.Length()) + " bytes";
  } else {
    why = "the data before byte " + std::to_string(tracked.Reach()) + " of " + std::to_string(tracked.Length()) +
          " is damaged and the decoder stopped there";
  }
  if (!libraryError.empty()) why += " (" + libraryError + ")";
  return why;
}

// What decoded of the run and why the rest did not; "" when it decoded whole.
std::string DamageOf(const DecodeJob& job, int32_t rate, bool lengthKnown, int64_t decoded, const std::string& why) {
  const bool whole = job.Frames >= 0 ? decoded >= job.Frames : lengthKnown;
  if (whole) return "";
  std::string what = SecondsText(static_cast<double>(decoded) / rate);
  if (job.Frames >= 0) {
    what += " of " + SecondsText(static_cast<double>(job.Frames) / rate) + " decoded (" + std::to_string(decoded) +
            " of " + std::to_string(job.Frames) + " samples)";
  } else {
    what += " decoded (" + std::to_string(decoded) + " samples); the file does not say how long it is";
  }
  return what + "; " + why;
}

}  // namespace

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

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
  const std::unique_ptr<TrackedFile> tracked = Track(path);
  const SndFile file = OpenSound(path, *tracked, info);
  if (info.samplerate <= 0)
    throw audio::WavError(path + ": sample rate " + std::to_string(info.samplerate) + " is not usable");
  const int64_t frames = info.frames == SF_COUNT_MAX ? -1 : info.frames;
  return {info.channels, info.samplerate, frames, FormatName(info.format)};
}

DecodeResult DecodeToBlockFiles(const DecodeJob& job, const std::function<void(double)>& progress) {
  SF_INFO info;
  const std::unique_ptr<TrackedFile> tracked = Track(job.Path);
  const SndFile file = OpenSound(job.Path, *tracked, info);
  sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
  if (job.FromFrame > 0) {
    const os::QuietStandardError quiet;
    if (sf_seek(file.get(), job.FromFrame, SEEK_SET) < 0)
      throw audio::WavError(job.Path + ": cannot find " + SecondsText(static_cast<double>(job.FromFrame) / info.samplerate) +
                            " in the file (" + sf_strerror(file.get()) + ")");
  }
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
  const int64_t wanted = job.Frames >= 0 ? job.Frames : std::numeric_limits<int64_t>::max();
  int64_t& done = result.SourceFrames;
  while (done < wanted) {
    const sf_count_t want = std::min(kChunkFrames, wanted - done);
    sf_count_t got = 0;
    {
      const os::QuietStandardError quiet;
      got = sf_readf_double(file.get(), raw.data(), want);
    }
    if (got <= 0) break;
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
    if (progress) {
      progress(job.Frames > 0 ? static_cast<double>(done) / static_cast<double>(job.Frames)
                              : static_cast<double>(tracked->Reach()) / static_cast<double>(tracked->Length()));
    }
  }
  const std::string libraryError = sf_error(file.get()) != SF_ERR_NO_ERROR ? sf_strerror(file.get()) : "";
  const std::string why = WhyItStopped(*tracked, libraryError);
  if (done == 0) throw audio::WavError(job.Path + ": no sample could be decoded: " + why);
  // A read error after the run's last frame does not touch the run.
  result.Damage = DamageOf(job, info.samplerate, info.frames != SF_COUNT_MAX, done, why);
  if (resampler) {
    resampler->Flush(resampled);
    writeResampled();
  }
  return result;
}

}  // namespace playctl
