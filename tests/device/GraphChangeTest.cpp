// A JACK server that changes its buffer size under a run (through
// jack_bufsize): the run goes on.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/device/Recordings.h"
#include "tests/device/SoundSystems.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;
using testing_support::Playsrv;

namespace device_test {
namespace {

constexpr int32_t kFrames = 3 * kCardRate;

void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A sound system's graph set back as it was whatever the test's outcome.
class Restore final {
 public:
  Restore(const SoundSystem& system, std::string command) : system_(system), command_(std::move(command)) {}
  ~Restore() { Shell(system_, command_); }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  const SoundSystem& system_;
  std::string command_;
};

// playsrv on `system` with the DirectSound 7 engine, given `left` (and its
// negative on the right) at the card's rate, its log in `log`.
std::unique_ptr<Playsrv> StartPlaying(const SoundSystem& system, const Samples& left, testing_support::TempDir& tmp,
                                      const std::string& log) {
  Samples stereo;
  for (const int16_t v : left) stereo.insert(stereo.end(), {v, static_cast<int16_t>(-v)});
  const std::string wave = tmp.File("wave.raw");
  testing_support::WriteSamples(wave, stereo);
  auto s = std::make_unique<Playsrv>(std::vector<std::string>{"--output", system.output, "--engines", "dx7"}, log);
  EXPECT_EQ(s->Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
  auto list = [&](int32_t offset) {
    return testing_support::HostList().Org(wave, kFrames, 1, 1 + offset, 2, 16).Elements();
  };
  s->Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", kCardRate}, {"WaveNos", kFrames},
                            {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}});
  s->Call("PlayAgain");
  return s;
}

// Polls until the run reports its end; whether it did.
bool PlayedToTheEnd(Playsrv& s) {
  for (int i = 0; i < 300; ++i, Wait(20)) {
    const auto r = Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications);
    if (std::find(r.begin(), r.end(), "Play Done") != r.end()) return true;
  }
  return false;
}

std::string Text(const std::string& path) {
  std::ifstream f(path);
  std::stringstream text;
  text << f.rdbuf();
  return text.str();
}

// A new buffer size restarts jackd's cycle: the card may have a period of
// silence there, but nothing is lost or repeated and no underrun is told.
TEST(JackGraph, ANewBufferSizeMidRunLosesAndRepeatsNothing) {
  const SoundSystem jack = FindSoundSystem("jack");
  ScopedEnv env(jack.env);
  Restore period(jack, "jack_bufsize 256 >/dev/null");
  std::mt19937 random(99);
  Samples left;
  for (int32_t i = 0; i < kFrames; ++i) left.push_back(static_cast<int16_t>(static_cast<int32_t>(random() % 16000) - 8000));
  testing_support::TempDir tmp;
  const std::string log = tmp.File("playsrv.log");
  auto rec = StartRecorder(jack);
  auto s = StartPlaying(jack, left, tmp, log);
  for (const char* frames : {"1024", "128", "256"}) {
    Wait(700);
    ASSERT_EQ(Shell(jack, std::string("jack_bufsize ") + frames + " >/dev/null"), 0);
  }
  EXPECT_TRUE(PlayedToTheEnd(*s)) << "no \"Play Done\"";
  Wait(100);
  rec->Stop();
  const size_t at = Find(rec->Left(), left, 0);
  ASSERT_LT(at, rec->Left().size()) << "not heard";
  const int pauses = ExpectExactWithPauses(rec->Left(), left, at);
  EXPECT_LE(pauses, 3) << "more pauses than buffer sizes";
  s.reset();
  EXPECT_EQ(Text(log).find("underrun"), std::string::npos) << Text(log);
}

}  // namespace
}  // namespace device_test
