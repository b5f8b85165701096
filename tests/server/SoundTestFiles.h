#pragma once
// Sound files of any libsndfile format for the playctl tests.

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Interleaved samples as 32-bit full-scale integers (a 16-bit sample v is
// v << 16, a 24-bit one v << 8); `format` is libsndfile's, e.g.
// SF_FORMAT_FLAC | SF_FORMAT_PCM_16.
void WriteSoundInts(const std::string& path, int format, int channels, int rate, const std::vector<int32_t>& samples);
// Interleaved float samples, written unchanged (no clipping on the way).
void WriteSoundFloats(const std::string& path, int format, int channels, int rate, const std::vector<float>& samples);

}  // namespace testing_support
