#include "tools/DemoTune.h"

#include <array>
#include <cmath>

namespace playctl {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A plucked note: quick attack, exponential decay, a little second harmonic.
double Note(double freq, double t) {
  const double attack = std::min(1.0, t / 0.01);
  const double envelope = attack * std::exp(-3.0 * t);
  return envelope * (std::sin(2 * kPi * freq * t) + 0.3 * std::sin(4 * kPi * freq * t)) / 1.3;
}

}  // namespace

std::vector<int16_t> SynthesizeDemoTune(int32_t rate) {
  // C major: melody C5 E5 G5 C6 G5 E5 D5 C5 over C3 C3 E3 E3 G2 G2 G2 C3.
  constexpr std::array<double, 8> melody{523.25, 659.26, 783.99, 1046.50, 783.99, 659.26, 587.33, 523.25};
  constexpr std::array<double, 8> bass{130.81, 130.81, 164.81, 164.81, 98.00, 98.00, 98.00, 130.81};
  const auto frames = static_cast<size_t>(kDemoTuneSeconds * rate);
  const size_t noteFrames = frames / melody.size();
  std::vector<int16_t> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const size_t note = std::min(i / noteFrames, melody.size() - 1);
    const double t = static_cast<double>(i - note * noteFrames) / rate;
    out[2 * i] = static_cast<int16_t>(std::lround(9000.0 * Note(melody[note], t)));
    out[2 * i + 1] = static_cast<int16_t>(std::lround(9000.0 * Note(bass[note], t)));
  }
  return out;
}

}  // namespace playctl
