#pragma once
// Test support shared by the engine, facade and server suites: a temporary
// folder, raw file writers, a builder for host block lists, and a complete
// simulated world (manual clock, loop, message box, virtual output, audio
// platform, play context).

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "state/PlayContext.h"
#include "platform/AudioPlatform.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/MessageBox.h"
#include "platform/VbArray.h"
#include "platform/VirtualOutput.h"

namespace testing_support {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = "/tmp/playtest-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteSamples(const std::string& path, const std::vector<int16_t>& samples) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
}

// Builds a host block list: element 1 is N, then the entries.
class HostList {
 public:
  HostList& Entry(int32_t type, const std::string& name, int32_t length, int32_t startPos, int32_t filePos,
                  int32_t channels = 1, int32_t bits = 16) {
    const int32_t n = static_cast<int32_t>(name.size());
    const int32_t packed = (n + 3) / 4;
    entries_.push_back(1 + packed);  // K
    entries_.push_back(n);
    for (int32_t i = 0; i < packed; ++i) {
      uint32_t v = 0;
      for (int32_t b = 0; b < 4 && 4 * i + b < n; ++b)
        v |= static_cast<uint32_t>(static_cast<uint8_t>(name[static_cast<size_t>(4 * i + b)])) << (8 * b);
      entries_.push_back(static_cast<int32_t>(v));
    }
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
  platform::VbArray<int32_t> Build() const {
    platform::VbArray<int32_t> a(1, static_cast<int32_t>(entries_.size()) + 1);
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
  explicit SimWorld(platform::AudioOffer offer = {})
      : loop(clock), audio(loop, output, offer, SoundServiceLibraryPath()), ctx(loop, box, audio) {
    box.SetQuiet(true);
    ctx.Mod.AppTmpDir = tmp.Path();
  }
  TempDir tmp;
  platform::ManualClock clock;
  platform::EventLoop loop;
  platform::MessageBox box;
  platform::VirtualOutput output;
  platform::AudioPlatform audio;
  state::PlayContext ctx;
};

}  // namespace testing_support
