#pragma once
// Sample-rate conversion of interleaved frames (libsoxr, high quality): 16-bit
// frames for a sound card whose rate is not the rate a device plays its
// source at (rounded to 16 bits with the library's dither), or 64-bit float
// frames for a decoder that rounds them itself. Equal rates pass the frames
// through untouched.
// Thread: whichever thread owns the object; it allocates, so not the audio
// callback's.

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

namespace audio {

class Resampler final {
 public:
  enum class Samples { Int16, Float64 };

  // Throws PlayError naming the rates when the library refuses them.
  Resampler(int32_t inRate, int32_t outRate, int32_t channels, Samples samples = Samples::Int16);
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
  // REQUIRES: the sample type the object was made for (std::logic_error).
  void Process(const int16_t* in, size_t frames, std::vector<int16_t>& out);
  void Process(const double* in, size_t frames, std::vector<double>& out);
  // Puts out what is held back; the next Process starts a new stream.
  void Flush(std::vector<int16_t>& out);
  void Flush(std::vector<double>& out);

 private:
  template <typename T>
  void Convert(const T* in, size_t frames, std::vector<T>& out);
  template <typename T>
  void FlushAs(std::vector<T>& out);
  template <typename T>
  void Run(const T* in, size_t frames, std::vector<T>& out);
  template <typename T>
  void Expect() const;

  int32_t inRate_;
  int32_t outRate_;
  int32_t channels_;
  Samples samples_;
  soxr* soxr_ = nullptr;  // null when the rates are equal
};

}  // namespace audio
