// Fuzzer: one JSON-RPC line, as playsrv reads it, handled by the real service
// over the simulated platform with every engine offered. Each input gets a
// fresh handle; what the line makes the server write must be JSON lines.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "embed/playdll.h"
#include "platform/os/Log.h"
#include "platform/os/SharedLibrary.h"
#include "server/JsonRpcEndpoint.h"
#include "server/PlayService.h"
#include "server/RpcError.h"
#include "tests/support/TestWorld.h"

namespace {

// Virtual time an input may ask for, at most, so that one input stays quick.
constexpr int32_t kMaxAdvanceMs = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The sound service library stays loaded: the engine loads and unloads it
  // with each world, and unloading would take its coverage counters away
  // from under the fuzzer.
  static const auto keepLoaded = [] {
    os::ProcessLog().SetLevel(os::LogLevel::Error);
    return os::SharedLibrary::Open(testing_support::SoundServiceLibraryPath());
  }();
  (void)keepLoaded;
  const std::string service = testing_support::SoundServiceLibraryPath();
  playdll_options options{};
  options.simulate = 1;
  options.sound_service = service.c_str();
  playdll_handle* play = playdll_create(&options);
  if (play == nullptr) __builtin_trap();
  server::JsonRpcEndpoint endpoint([&](const std::string& line) {
    if (line.find('\n') != std::string::npos) __builtin_trap();  // one message, one line
    (void)nlohmann::json::parse(line);                           // throws (and so fails) on anything but JSON
  });
  server::PlayService playService(play, endpoint, true, kMaxAdvanceMs);
  // A line may hold several requests in a batch; the line splitter has cut
  // it at its newline, so the fuzzer's bytes stand for the bytes before it.
  std::string_view line(reinterpret_cast<const char*>(data), size);
  if (const size_t nl = line.find('\n'); nl != std::string_view::npos) line = line.substr(0, nl);
  try {
    endpoint.HandleLine(line);
  } catch (const std::bad_alloc&) {
    endpoint.WriteError(server::kServerError, "out of memory");
  }
  playdll_advance_time(play, 1000, nullptr);
  playdll_destroy(play);
  return 0;
}
