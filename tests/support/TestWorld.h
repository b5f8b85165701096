#pragma once
// Test support shared by the engine, facade and server suites: a builder for
// host block lists and a complete simulated world (manual clock, loop, message
// box, virtual output, audio platform, play context).

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/VirtualOutput.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/os/Clock.h"
#include "platform/os/EventLoop.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"
#include "state/PlayContext.h"
#include "tests/support/TempDir.h"

namespace testing_support {

// Builds a host block list: element 1 is N, then the entries.
class HostList {
 public:
  HostList& Entry(int32_t type, const std::string& name, int32_t length, int32_t startPos, int32_t filePos,
                  int32_t channels = 1, int32_t bits = 16) {
    const int32_t n = static_cast<int32_t>(name.size());
    std::vector<int32_t> packed((name.size() + 3) / 4, 0);
    std::copy(name.begin(), name.end(), reinterpret_cast<char*>(packed.data()));  // little-endian: byte b of word i
    entries_.push_back(1 + static_cast<int32_t>(packed.size()));  // K
    entries_.push_back(n);
    entries_.insert(entries_.end(), packed.begin(), packed.end());
    entries_.insert(entries_.end(), {length, type, startPos, filePos, channels, bits});
    ++count_;
    return *this;
  }
  HostList& Org(const std::string& name, int32_t length, int32_t startPos, int32_t filePos, int32_t channels,
                int32_t bits) {
    return Entry(4, name, length, startPos, filePos, channels, bits);
  }
  HostList& Blk(const std::string& name, int32_t length, int32_t startPos, int32_t filePos) {
    return Entry(3, name, length, startPos, filePos);
  }
  HostList& Silent(int32_t length, int32_t startPos) { return Entry(5, "", length, startPos, 0); }

  // The host's array, lower bound 1.
  runtime::VbArray<int32_t> Build() const {
    runtime::VbArray<int32_t> a(1, static_cast<int32_t>(entries_.size()) + 1);
    a(1) = count_;
    for (size_t i = 0; i < entries_.size(); ++i) a(static_cast<int32_t>(i) + 2) = entries_[i];
    return a;
  }
  std::vector<int32_t> Elements() const {
    std::vector<int32_t> v{count_};
    v.insert(v.end(), entries_.begin(), entries_.end());
    return v;
  }

 private:
  int32_t count_ = 0;
  std::vector<int32_t> entries_;
};

inline std::string SoundServiceLibraryPath() {
#ifdef PLAY_BINARY_DIR
  return std::string(PLAY_BINARY_DIR) + "/libsoundservice.so";
#else
  return "";
#endif
}

// The whole simulated world a facade or engine runs in.
struct SimWorld {
  explicit SimWorld(devices::AudioOffer offer = {})
      : loop(clock), audio(loop, output, offer, SoundServiceLibraryPath()), ctx(loop, box, audio) {
    box.SetQuiet(true);
    ctx.Mod.AppTmpDir = tmp.Path();
  }
  TempDir tmp;
  os::ManualClock clock;
  os::EventLoop loop;
  os::MessageBox box;
  audio::VirtualOutput output;
  devices::AudioPlatform audio;
  state::PlayContext ctx;
};

}  // namespace testing_support
