// Fuzzer: the WAV header reader (files played in place) on any file content.
// It must either describe a playable file whose data lies inside the file,
// or refuse it with a reason; nothing else.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/audio/WavFile.h"
#include "platform/os/File.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = os::files::MakeTempFolder("/tmp", "wavheader-fuzz-") + "/input.wav";
  os::files::WriteAt(path, data, size, 0, true);
  (void)os::files::SetLength(path, static_cast<int64_t>(size));
  const audio::WavProbe probe = audio::ProbeWav(path);
  if (!probe.Info) {
    if (probe.Refusal.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  const audio::WavInfo& info = *probe.Info;
  const int64_t bytes = int64_t{info.Frames} * info.Channels * (info.Bits / 8);
  if (info.Frames < 0 || info.DataOffset < 0 || info.DataOffset + bytes > static_cast<int64_t>(size)) __builtin_trap();
  return 0;
}
