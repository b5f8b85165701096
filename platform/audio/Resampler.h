#pragma once
// Sample-rate conversion of interleaved 16-bit frames (libsoxr, high
// quality), for a sound card whose rate is not the rate a device plays its
// source at. Equal rates pass the frames through untouched.
// Thread: whichever thread owns the object; it allocates, so not the audio
// callback's.

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

namespace audio {

class Resampler final {
 public:
  // Throws PlayError naming the rates when the library refuses them.
  Resampler(int32_t inRate, int32_t outRate, int32_t channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  int32_t InRate() const { return inRate_; }
  int32_t OutRate() const { return outRate_; }
  // Output frames held back at present (0 when the rates are equal): the
  // next ones put out belong to input already taken.
  int64_t HeldFrames() const;
  // Converts `frames` frames; the converted frames replace the content of
  // `out`. The converter holds back a few frames (its filter's delay) until
  // more input or Flush pushes them out.
  void Process(const int16_t* in, size_t frames, std::vector<int16_t>& out);
  // Puts out what is held back; the next Process starts a new stream.
  void Flush(std::vector<int16_t>& out);

 private:
  void Run(const int16_t* in, size_t frames, std::vector<int16_t>& out);

  int32_t inRate_;
  int32_t outRate_;
  int32_t channels_;
  soxr* soxr_ = nullptr;  // null when the rates are equal
};

}  // namespace audio
