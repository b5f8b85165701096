// Fuzzer: a host block list (the bytes as 32-bit integers, the first the
// entry count) checked and ingested by the facade's hand-over, on both
// channels, then played for a few seconds of virtual time on the waveOut
// engine. Two small files, /tmp/blocklist-fuzz/a and .../b, exist so that
// entries naming them (as the seeds do) resolve.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "platform/os/Log.h"
#include "tests/support/TestWorld.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    os::ProcessLog().SetLevel(os::LogLevel::Error);
    mkdir("/tmp/blocklist-fuzz", 0700);
    testing_support::WriteSamples("/tmp/blocklist-fuzz/a", std::vector<int16_t>(4096, 1000));
    testing_support::WriteSamples("/tmp/blocklist-fuzz/b", std::vector<int16_t>(100, -7));
    return true;
  }();
  if (!ready || size < 8) return 0;
  testing_support::SimWorld world(devices::AudioOffer{false, false, true});
  facade::PlayDllClass play(world.ctx, facade::MakeEngineFactory(world.ctx));
  int32_t hwnd = 1;
  play.DxObj(hwnd);

  // The first 8 bytes: FmtBits/FmtChannal selector and WaveNos; then the list.
  int32_t wanted = 0;
  std::memcpy(&wanted, data + 4, 4);
  int32_t bits = (data[0] & 1) != 0 ? 8 : 16;
  int32_t channels = (data[1] & 1) != 0 ? 2 : 1;
  int32_t friq = 8000;
  int32_t waveNos = wanted;
  const size_t count = (size - 8) / 4;
  runtime::VbArray<int32_t> list(1, static_cast<int32_t>(count == 0 ? 1 : count));
  for (size_t i = 0; i < count; ++i) std::memcpy(&list(static_cast<int32_t>(i) + 1), data + 8 + 4 * i, 4);
  play.WriteWaveMemo(bits, channels, friq, waveNos, list, list);
  play.PlayAgain();
  world.loop.RunFor(3000);
  play.PlayAgainRev();
  world.loop.RunFor(3000);
  return 0;
}
