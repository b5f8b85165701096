#pragma once
// Test support shared by the engine, facade and server suites: a writer of
// host block lists and a complete simulated world (manual clock, loop, message
// box, virtual output, audio platform, play context).

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blocks/HostListBuilder.h"
#include "platform/audio/VirtualOutput.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/os/Clock.h"
#include "platform/os/EventLoop.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"
#include "state/PlayContext.h"
#include "tests/support/TempDir.h"

namespace testing_support {

// A host block list written entry by entry as given (StartPos included, no
// checks), for tests that place blocks where they like; element 1 is N.
class HostList {
 public:
  HostList& Entry(int32_t type, const std::string& name, int32_t length, int32_t startPos, int32_t filePos,
                  int32_t channels = 1, int32_t bits = 16) {
    blocks::AppendHostListEntry(elements_, {name, length, type, startPos, filePos, channels, bits});
    return *this;
  }
  HostList& Org(const std::string& name, int32_t length, int32_t startPos, int32_t filePos, int32_t channels,
                int32_t bits) {
    return Entry(blocks::BlockOrg, name, length, startPos, filePos, channels, bits);
  }
  HostList& Blk(const std::string& name, int32_t length, int32_t startPos, int32_t filePos) {
    return Entry(blocks::BlockFile, name, length, startPos, filePos);
  }
  HostList& Silent(int32_t length, int32_t startPos) { return Entry(blocks::BlockSilent, "", length, startPos, 0); }

  // The host's array, lower bound 1.
  runtime::VbArray<int32_t> Build() const { return blocks::ToHostArray(elements_); }
  const std::vector<int32_t>& Elements() const { return elements_; }

 private:
  std::vector<int32_t> elements_{0};
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
