#include "platform/audio/Resampler.h"

#include <soxr.h>

#include <stdexcept>
#include <string>
#include <type_traits>

#include "platform/os/Errors.h"

namespace audio {

Resampler::Resampler(int32_t inRate, int32_t outRate, int32_t channels, Samples samples)
    : inRate_(inRate), outRate_(outRate), channels_(channels), samples_(samples) {
  if (inRate <= 0 || outRate <= 0 || channels < 1)
    throw os::PlayError("resampler: bad format " + std::to_string(inRate) + " -> " + std::to_string(outRate));
  if (inRate == outRate) return;
  const soxr_datatype_t type = samples == Samples::Int16 ? SOXR_INT16_I : SOXR_FLOAT64_I;
  const soxr_io_spec_t io = soxr_io_spec(type, type);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  // Small transforms: the converter then holds back about 4 ms instead of
  // 14 (what a sound card's start waits for), at the same quality.
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  runtime.log2_min_dft_size = 6;
  runtime.log2_large_dft_size = 8;
  soxr_ = soxr_create(inRate, outRate, static_cast<unsigned>(channels), &error, &io, &quality, &runtime);
  if (soxr_ == nullptr || error != nullptr)
    throw os::PlayError("resampler " + std::to_string(inRate) + " -> " + std::to_string(outRate) + ": " +
                    (error != nullptr ? error : "cannot be made"));
}

Resampler::~Resampler() {
  if (soxr_ != nullptr) soxr_delete(soxr_);
}

int64_t Resampler::HeldFrames() const {
  return soxr_ == nullptr ? 0 : static_cast<int64_t>(soxr_delay(soxr_));
}

void Resampler::Process(const int16_t* in, size_t frames, std::vector<int16_t>& out) { Convert(in, frames, out); }
void Resampler::Process(const double* in, size_t frames, std::vector<double>& out) { Convert(in, frames, out); }
void Resampler::Flush(std::vector<int16_t>& out) { FlushAs(out); }
void Resampler::Flush(std::vector<double>& out) { FlushAs(out); }

template <typename T>
void Resampler::Expect() const {
  const Samples asked = std::is_same_v<T, int16_t> ? Samples::Int16 : Samples::Float64;
  if (asked != samples_) throw std::logic_error("resampler: made for another sample type");
}

template <typename T>
void Resampler::Convert(const T* in, size_t frames, std::vector<T>& out) {
  Expect<T>();
  if (soxr_ == nullptr) {
    out.assign(in, in + frames * static_cast<size_t>(channels_));
    return;
  }
  Run(in, frames, out);
}

template <typename T>
void Resampler::FlushAs(std::vector<T>& out) {
  Expect<T>();
  out.clear();
  if (soxr_ == nullptr) return;
  Run<T>(nullptr, 0, out);
  soxr_clear(soxr_);
}

// Calls the library until it has taken all the input (or, flushing, until it
// puts out less than it had room for), growing `out` as it goes.
template <typename T>
void Resampler::Run(const T* in, size_t frames, std::vector<T>& out) {
  const size_t ch = static_cast<size_t>(channels_);
  const bool flushing = in == nullptr;
  size_t made = 0;
  for (;;) {
    const size_t room = frames * static_cast<size_t>(outRate_) / static_cast<size_t>(inRate_) + 1024;
    out.resize((made + room) * ch);
    size_t used = 0;
    size_t got = 0;
    const soxr_error_t error = soxr_process(soxr_, in, frames, &used, out.data() + made * ch, room, &got);
    if (error != nullptr) throw os::PlayError(std::string("resampler: ") + error);
    made += got;
    if (flushing) {
      if (got < room) break;
    } else {
      if (used == 0 && got == 0) throw os::PlayError("resampler: the library takes no more input");
      in += used * ch;
      frames -= used;
      if (frames == 0 && got < room) break;
    }
  }
  out.resize(made * ch);
}

}  // namespace audio
