#pragma once
// Helpers of the libplaydll tests: a handle on the simulated clock, the
// reports a callback saw, and a test wave written as a WAV file.

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "embed/playdll.h"
#include "platform/audio/WavFile.h"
#include "tests/support/ScriptedWorld.h"
#include "tests/support/TempDir.h"

namespace testing_support {

// A report as the tests compare them: the Ttl of a status report, "Msg|Ttl"
// of an error box, "box: text" of a message box.
inline std::string ReportText(const playdll_event& e) {
  if (e.kind == PLAYDLL_EVENT_MESSAGEBOX) return std::string("box: ") + e.Msg;
  if (std::string(e.Msg) == "S2") return e.Ttl;
  return std::string(e.Msg) + "|" + e.Ttl;
}

// What a callback was given, in order. Thread-safe.
class Reports {
 public:
  static void Callback(void* self, const playdll_event* e) { static_cast<Reports*>(self)->Add(ReportText(*e)); }
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    texts_.push_back(text);
  }
  std::vector<std::string> Texts() const {
    std::lock_guard<std::mutex> lock(mu_);
    return texts_;
  }
  size_t Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const std::string& t : texts_) n += t == text ? 1 : 0;
    return n;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> texts_;
};

// A handle on the virtual clock; `output` "" for the virtual output.
inline HandlePtr MakeSimulatedHandle(const std::string& output = "", const char* engines = nullptr) {
  playdll_options o{};
  o.simulate = 1;
  o.output = output.c_str();
  o.engines = engines;
  o.sound_service = PLAY_BINARY_DIR "/libsoundservice.so";
  HandlePtr handle(playdll_create(&o));
  EXPECT_NE(handle, nullptr) << playdll_last_error();
  return handle;
}

// The samples of the test wave: `frames` stereo frames of two ramps that
// never repeat within a few seconds, interleaved.
inline std::vector<int16_t> TestWaveSamples(int32_t frames) {
  std::vector<int16_t> s;
  for (int32_t i = 0; i < frames; ++i) {
    s.push_back(static_cast<int16_t>((i * 7) % 20000 - 10000));
    s.push_back(static_cast<int16_t>(12000 - (i * 13) % 24000));
  }
  return s;
}

}  // namespace testing_support
