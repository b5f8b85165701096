// Which resampler converts a source to the sound card's rate: libsoxr (the
// one the device output uses) against libsamplerate, at the qualities each
// offers. Quality is the signal-to-noise ratio of a 1-kHz sine converted from
// 44.1 to 48 kHz (against the exact sine at 48 kHz, edges left out); speed is
// how many times faster than real time one core converts stereo.

#include <benchmark/benchmark.h>
#include <samplerate.h>
#include <soxr.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double kIn = 44100;
constexpr double kOut = 48000;
constexpr double kHz = 1000;
constexpr size_t kFrames = 44100;  // one second, stereo

std::vector<int16_t> Sine(double rate, size_t frames) {
  std::vector<int16_t> s(frames * 2);
  for (size_t i = 0; i < frames; ++i)
    s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * kHz * i / rate)));
  return s;
}

// Signal-to-noise ratio of the left channel against the exact sine, in dB,
// leaving out 2000 frames at each edge (filter start-up and flush).
double Snr(const std::vector<int16_t>& out) {
  double signal = 0, noise = 0;
  for (size_t i = 2000; i + 2000 < out.size() / 2; ++i) {
    const double want = 16000 * std::sin(2 * M_PI * kHz * i / kOut);
    signal += want * want;
    noise += (out[2 * i] - want) * (out[2 * i] - want);
  }
  return 10 * std::log10(signal / std::max(noise, 1e-9));
}

std::vector<int16_t> Soxr(const std::vector<int16_t>& in, unsigned long recipe) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  const soxr_quality_spec_t q = soxr_quality_spec(recipe, 0);
  std::vector<int16_t> out(static_cast<size_t>(in.size() * kOut / kIn) + 4096);
  size_t done = 0;
  soxr_oneshot(kIn, kOut, 2, in.data(), in.size() / 2, nullptr, out.data(), out.size() / 2, &done, &io, &q, nullptr);
  out.resize(done * 2);
  return out;
}

std::vector<int16_t> Src(const std::vector<int16_t>& in, int converter) {
  std::vector<float> fin(in.size()), fout(static_cast<size_t>(in.size() * kOut / kIn) + 4096);
  src_short_to_float_array(in.data(), fin.data(), static_cast<int>(in.size()));
  SRC_DATA d{};
  d.data_in = fin.data();
  d.input_frames = static_cast<long>(in.size() / 2);
  d.data_out = fout.data();
  d.output_frames = static_cast<long>(fout.size() / 2);
  d.src_ratio = kOut / kIn;
  d.end_of_input = 1;
  src_simple(&d, converter, 2);
  std::vector<int16_t> out(static_cast<size_t>(d.output_frames_gen) * 2);
  src_float_to_short_array(fout.data(), out.data(), static_cast<int>(out.size()));
  return out;
}

template <typename Convert>
void Run(benchmark::State& state, Convert convert) {
  const std::vector<int16_t> in = Sine(kIn, kFrames);
  std::vector<int16_t> out;
  for (auto _ : state) {
    out = convert(in);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["snr_db"] = Snr(out);
  // Seconds of stereo sound converted per second of one core.
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(kFrames) / kIn, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Soxr_HQ(benchmark::State& s) { Run(s, [](const auto& in) { return Soxr(in, SOXR_HQ); }); }
void BM_Soxr_MQ(benchmark::State& s) { Run(s, [](const auto& in) { return Soxr(in, SOXR_MQ); }); }
void BM_Soxr_VHQ(benchmark::State& s) { Run(s, [](const auto& in) { return Soxr(in, SOXR_VHQ); }); }
void BM_Src_Best(benchmark::State& s) { Run(s, [](const auto& in) { return Src(in, SRC_SINC_BEST_QUALITY); }); }
void BM_Src_Medium(benchmark::State& s) { Run(s, [](const auto& in) { return Src(in, SRC_SINC_MEDIUM_QUALITY); }); }
void BM_Src_Fastest(benchmark::State& s) { Run(s, [](const auto& in) { return Src(in, SRC_SINC_FASTEST); }); }

BENCHMARK(BM_Soxr_MQ);
BENCHMARK(BM_Soxr_HQ);
BENCHMARK(BM_Soxr_VHQ);
BENCHMARK(BM_Src_Fastest);
BENCHMARK(BM_Src_Medium);
BENCHMARK(BM_Src_Best);

}  // namespace

BENCHMARK_MAIN();
