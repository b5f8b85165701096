#include "tests/server/SoundTestFiles.h"

#include <stdexcept>

namespace testing_support {

namespace {

template <typename T, typename Write>
void WriteSound(const std::string& path, int format, int channels, int rate, const std::vector<T>& samples,
                Write write) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
  const sf_count_t wrote = write(f, samples.data(), frames);
  sf_close(f);
  if (wrote != frames) throw std::runtime_error(path + ": short write");
}

}  // namespace

void WriteSoundInts(const std::string& path, int format, int channels, int rate, const std::vector<int32_t>& samples) {
  WriteSound(path, format, channels, rate, samples, sf_writef_int);
}

void WriteSoundFloats(const std::string& path, int format, int channels, int rate, const std::vector<float>& samples) {
  WriteSound(path, format, channels, rate, samples, sf_writef_float);
}

}  // namespace testing_support
