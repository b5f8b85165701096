// Fuzzer: playctl's WAV header reader on any file content. It must either
// describe a playable file whose data lies inside the file, or refuse it with
// an error; nothing else.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "platform/os/File.h"
#include "tools/WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/wavheader-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  os::files::WriteAt(path, data, size, 0, true);
  (void)os::files::SetLength(path, static_cast<int64_t>(size));
  try {
    const playctl::WavInfo info = playctl::ReadWavHeader(path);
    const int64_t bytes = int64_t{info.Frames} * info.Channels * (info.Bits / 8);
    if (info.Frames < 0 || info.DataOffset < 0 || info.DataOffset + bytes > static_cast<int64_t>(size)) __builtin_trap();
  } catch (const std::exception&) {
    // refused, as it should be when the file is not playable
  }
  return 0;
}
