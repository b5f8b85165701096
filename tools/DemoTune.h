#pragma once
// A short stereo tune for the demo: a melody on the left, a lower voice on
// the right, eight notes of half a second each (four seconds in all).

#include <cstdint>
#include <vector>

namespace playctl {

inline constexpr double kDemoTuneSeconds = 4.0;

// Interleaved 16-bit stereo frames at `rate` frames per second.
std::vector<int16_t> SynthesizeDemoTune(int32_t rate);

}  // namespace playctl
