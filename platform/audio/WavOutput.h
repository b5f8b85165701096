#pragma once
// The output that records to a file: every frame played is appended, in the
// order it sounded, to a 16-bit PCM WAV file (canonical 44-byte header, then
// the interleaved samples, little-endian).
//
// - The file is created (or emptied) at construction; an unusable path throws
//   os::FileError naming it. Until the first Start the header describes
//   an empty mono 44100 Hz file.
// - The header's format is the one of the first Start. If a later Start asks
//   for another format the file keeps the first one: frames with another
//   channel count are converted (mono to both channels; stereo to the mean of
//   left and right), frames at another rate are written unchanged and so play
//   at the file's rate.
// - The header sizes are brought up to date at each Stop and at destruction;
//   between them the data grows but the header lags.
// - The path must be a regular file or a new one; anything else (a FIFO, a
//   device) is refused at construction without waiting for it.
// - A write that fails later (disk full, for example) is cut back to the last
//   whole write, the header is brought up to date at once so that it counts
//   exactly the data in the file, and the failure is shown once on the message
//   box given at construction (logged when there is none); every later frame
//   is dropped and sound playback goes on. Data beyond the 4 GiB a WAV header
//   can describe is dropped the same way.
// Thread: loop thread.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/AudioOutput.h"

namespace os {
class MessageBox;
}  // namespace os

namespace audio {


class WavOutput final : public AudioOutput {
 public:
  // `box` (may be null; must outlive this object) hears of a failing write.
  explicit WavOutput(std::string path, os::MessageBox* box = nullptr);
  ~WavOutput() override;
  WavOutput(const WavOutput&) = delete;
  WavOutput& operator=(const WavOutput&) = delete;

  // REQUIRES: channels 1 or 2, rate >= 1 (std::invalid_argument otherwise).
  void Start(int32_t channels, int32_t rate, OutputPump pump) override;
  // REQUIRES: a Start before (std::logic_error otherwise).
  void Play(const int16_t* frames, size_t frameCount, int64_t atUs) override;
  void Stop() override;

  const std::string& Path() const { return path_; }
  // Bytes of sample data written so far.
  int64_t DataBytes() const { return dataBytes_; }
  // True once a write failed or the file reached its size limit.
  bool WriteFailed() const { return failed_; }

 private:
  void WriteHeader();
  void WriteData(const void* data, size_t bytes);
  void Fail(const std::string& why);

  std::string path_;
  os::MessageBox* box_;
  int fd_ = -1;
  int32_t fileChannels_ = 0;  // 0 until the first Start
  int32_t fileRate_ = 0;
  int32_t playChannels_ = 0;  // format of the frames of the present Start
  int64_t dataBytes_ = 0;
  bool failed_ = false;
  std::vector<int16_t> converted_;  // frames converted to the file's channel count
};

}  // namespace audio
