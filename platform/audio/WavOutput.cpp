#include "platform/audio/WavOutput.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/audio/WavFile.h"
#include "platform/os/Errors.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Log.h"
#include "platform/os/MessageBox.h"

namespace audio {

namespace {

constexpr int64_t kHeaderBytes = kWavHeaderBytes;
// The RIFF size field (file length - 8) must fit 32 bits.
constexpr int64_t kMaxDataBytes = 0xFFFFFFFFLL - (kHeaderBytes - 8);

}  // namespace

WavOutput::WavOutput(std::string path, os::MessageBox* box) : path_(std::move(path)), box_(box) {
  // A regular file or a new path only: a FIFO nobody reads would hold the
  // server before it answers anything.
  fd_ = os::files::OpenRegular(path_, O_WRONLY | O_CREAT | O_TRUNC, "cannot create the wav output");
  WriteHeader();
  if (failed_) {
    os::CurrentFileSystem().Close(fd_);
    fd_ = -1;
    throw os::FileError("cannot write the wav output '" + path_ + "'");
  }
}

WavOutput::~WavOutput() {
  if (fd_ < 0) return;
  WriteHeader();
  os::CurrentFileSystem().Close(fd_);
}

void WavOutput::Start(int32_t channels, int32_t rate, OutputPump /*pump*/) {
  if (channels < 1 || channels > 2 || rate < 1) throw std::invalid_argument("wav output: bad format");
  playChannels_ = channels;
  if (fileChannels_ == 0) {
    fileChannels_ = channels;
    fileRate_ = rate;
    WriteHeader();
  }
}

void WavOutput::Play(const int16_t* frames, size_t frameCount, int64_t /*atUs*/) {
  if (playChannels_ == 0) throw std::logic_error("wav output: Play before Start");
  if (frameCount == 0 || failed_) return;
  if (playChannels_ == fileChannels_) {
    WriteData(frames, frameCount * static_cast<size_t>(fileChannels_) * 2);
    return;
  }
  converted_.resize(frameCount * static_cast<size_t>(fileChannels_));
  for (size_t k = 0; k < frameCount; ++k) {
    if (fileChannels_ == 2) {  // mono frames to both channels
      converted_[2 * k] = frames[k];
      converted_[2 * k + 1] = frames[k];
    } else {  // stereo frames to their mean
      converted_[k] = static_cast<int16_t>((static_cast<int32_t>(frames[2 * k]) + frames[2 * k + 1]) / 2);
    }
  }
  WriteData(converted_.data(), converted_.size() * 2);
}

void WavOutput::Stop() { WriteHeader(); }

void WavOutput::WriteHeader() {
  if (fd_ < 0) return;
  const auto h = WavHeader(fileChannels_ == 0 ? 1 : fileChannels_, fileRate_ == 0 ? 44100 : fileRate_, 16,
                           static_cast<uint32_t>(dataBytes_));
  if (!os::files::WriteAllAt(fd_, h.data(), h.size(), 0)) Fail(std::strerror(errno));
}

void WavOutput::WriteData(const void* data, size_t bytes) {
  if (dataBytes_ + static_cast<int64_t>(bytes) > kMaxDataBytes) {
    Fail("the file has reached the size a WAV header can describe");
    return;
  }
  if (!os::files::WriteAllAt(fd_, data, bytes, kHeaderBytes + dataBytes_)) {
    const int err = errno;
    // Part of the run may have reached the disk: cut it off, so that the
    // file holds exactly the data the header counts.
    (void)os::CurrentFileSystem().Ftruncate(fd_, kHeaderBytes + dataBytes_);
    Fail(std::strerror(err));
    return;
  }
  dataBytes_ += static_cast<int64_t>(bytes);
}

void WavOutput::Fail(const std::string& why) {
  if (failed_) return;
  failed_ = true;
  WriteHeader();
  const int64_t frameBytes = 2 * static_cast<int64_t>(fileChannels_ == 0 ? 1 : fileChannels_);
  const int64_t rate = fileRate_ == 0 ? 44100 : fileRate_;
  const int64_t ms = dataBytes_ / frameBytes * 1000 / rate;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  const std::string text = "wav output '" + path_ + "' failed after " + seconds + " s of sound: " + why +
                           "; the sound played from then on is not in the file";
  if (box_ != nullptr) {
    box_->Show(text);
  } else {
    os::LogError(text);
  }
}

}  // namespace audio
