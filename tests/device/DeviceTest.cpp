// The sound card path, end to end: playsrv --output device plays into a
// private PulseAudio server's null sink (scripts/pulse-null-sink.sh, started
// by `make test`), parec records the sink's monitor, and the recording is
// searched for the wave by correlation, 10 ms at a time. The monitor only
// runs while something plays, so nothing here depends on when a frame came.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/Resampler.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;
using testing_support::Playsrv;
using Reports = std::vector<std::string>;
using Samples = std::vector<int16_t>;

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kCardRate = 48000;  // the null sink's
constexpr int32_t kFrames = 66150;    // 1.5 s
constexpr size_t kBlock = 480;        // 10 ms at the card's rate
constexpr double kSame = 0.9;         // correlation of a block that matches

void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double Correlation(const Samples& a, size_t at, const Samples& b, size_t from, size_t n) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = a[at + i], y = b[from + i];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// Where the first 20 ms of ref lie best in rec from `lo` on; rec.size() when nowhere.
size_t Find(const Samples& rec, const Samples& ref, size_t lo) {
  size_t best = rec.size();
  double bestC = kSame;
  for (size_t at = lo; at + 2 * kBlock <= rec.size(); ++at) {
    const double c = Correlation(rec, at, ref, 0, 2 * kBlock);
    if (c > bestC) bestC = c, best = at;
  }
  return best;
}

// How many samples from rec[at] on equal ref[from] on.
size_t Same(const Samples& rec, size_t at, const Samples& ref, size_t from) {
  size_t n = 0;
  while (at + n < rec.size() && from + n < ref.size() && rec[at + n] == ref[from + n]) ++n;
  return n;
}

// The whole of `ref` in one piece, from its first 20 ms on and without a
// gap, somewhere after rec[from]; returns where it ends.
size_t ExpectWhole(const Samples& rec, const Samples& ref, size_t from = 0) {
  const size_t at = Find(rec, ref, from);
  EXPECT_LT(at, rec.size()) << "the first 20 ms were not heard";
  size_t followed = 0;
  while (followed + kBlock <= ref.size() && at + followed + kBlock <= rec.size() &&
         Correlation(rec, at + followed, ref, followed, kBlock) > kSame)
    followed += kBlock;
  EXPECT_GE(followed + kBlock, ref.size()) << "heard in one piece only up to sample " << followed;
  const auto heard = rec.begin() + static_cast<long>(std::min(at, rec.size()));
  const auto end = rec.begin() + static_cast<long>(std::min(at + ref.size(), rec.size()));
  EXPECT_EQ(std::search_n(heard, end, 49, 0), end) << "a gap of more than 1 ms";
  return at + ref.size();
}

// Hands a wave of `frames` frames of silence, mono at 8000 Hz, over.
void HandOverSilence(Playsrv& s, int32_t frames) {
  s.Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 1}, {"FmtFriq", 8000}, {"WaveNos", frames},
                           {"BlkInLstL", testing_support::HostList().Silent(frames, 1).Elements()}});
}

class DeviceTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_EQ(std::system("pactl info >/dev/null 2>&1"), 0)
        << "no sound server: run through `make test`, which starts one (scripts/pulse-null-sink.sh)";
    uint32_t x = 2463534242u;
    Samples stereo;
    for (int32_t i = 0; i < kFrames; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      left_.push_back(static_cast<int16_t>(static_cast<int32_t>(x % 16000) - 8000));
      stereo.insert(stereo.end(), {left_.back(), static_cast<int16_t>(-left_.back() / 2)});
    }
    testing_support::WriteSamples(wavPath_, stereo);
  }

  // The left channel of the source, forward or reversed, as the card hears
  // it when the source plays at kRate.
  Samples Heard(bool reversed) const {
    Samples part = left_, out, tail;
    if (reversed) std::reverse(part.begin(), part.end());
    audio::Resampler resampler(kRate, kCardRate, 1);
    resampler.Process(part.data(), part.size(), out);
    resampler.Flush(tail);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  }

  // Hands the wave over (raw samples, read in place) as if it were recorded at `rate`.
  void HandOver(Playsrv& s, int32_t rate) {
    auto list = [&](int32_t offset) {
      return testing_support::HostList().Org(wavPath_, kFrames, 1, 1 + offset, 2, 16).Elements();
    };
    s.Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", rate}, {"WaveNos", kFrames},
                             {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}});
    // A null sink picks a new stream up only at its next wake-up, which can
    // be a second or two away; a sound card starts at once.
    Wait(2000);
  }

  // Polls the position until the run reports its end.
  static void PlayToTheEnd(Playsrv& s) {
    for (int i = 0; i < 200; ++i, Wait(50)) {
      const Reports r = Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications);
      if (std::find(r.begin(), r.end(), "Play Done") != r.end()) break;
    }
    Wait(1000);  // the card drains
  }

  testing_support::TempDir tmp_;
  std::string wavPath_ = tmp_.File("wave.raw");
  Samples left_;
};

// The recorder (parec on the sink's monitor, raw 16-bit stereo at the card's
// rate) starts before the server opens the card: the null sink takes its pace
// from the recorder, and a stream that joins a sink nobody records can wait a
// long time for its first requests.
TEST_P(DeviceTest, ForwardAndReverseAreHeardWholeAndAUTurnAndAPauseOnTheSpot) {
  const std::string raw = tmp_.File("rec.raw");
  testing_support::ChildProcess recorder("/bin/sh", {"-c", "exec parec -d nul.monitor --latency-msec=10 --format=s16le "
                                                           "--rate=48000 --channels=2 >" + raw});
  Wait(300);  // connected and recording
  // A queue that outlasts the stalls of a sanitizer build on a busy machine.
  Playsrv s({"--output", "device", "--latency-ms", "200", "--engines", GetParam()});
  EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", std::string(GetParam()) == "waveout" ? 2 : 1}}));
  HandOver(s, kRate);
  for (const char* method : {"PlayAgain", "PlayAgainRev"}) {
    EXPECT_EQ(Playsrv::Reports(s.Call(method).Notifications), Reports{"Playing"}) << method;
    PlayToTheEnd(s);
  }
  // At the card's own rate nothing is converted, so the recording holds the
  // wave's samples exactly and a turn or a pause can be found to the sample.
  HandOver(s, kCardRate);
  // Each call, then how long the card plays before the next (0: to the end).
  for (const auto& [method, ms] : std::vector<std::pair<std::string, int>>{
           {"PlayAgain", 700}, {"PlayUTurn", 0}, {"PlayAgain", 600}, {"PlayPause", 500}, {"PlayContinue", 0}}) {
    s.Call(method);
    ms > 0 ? Wait(ms) : PlayToTheEnd(s);
  }
  recorder.SignalGroup(SIGINT);  // parec keeps its buffered tail
  recorder.Wait();
  const std::vector<uint8_t> bytes = testing_support::ReadBytes(raw);
  Samples rec(bytes.size() / 4);  // the left channel
  for (size_t i = 0; i < rec.size(); ++i) std::memcpy(&rec[i], bytes.data() + 4 * i, 2);

  const size_t reversed = ExpectWhole(rec, Heard(true), ExpectWhole(rec, Heard(false)));

  // Forward from the start to the turn, then backwards from there, joined
  // without a gap.
  const size_t at = Find(rec, left_, reversed);
  ASSERT_LT(at, rec.size());
  const size_t turn = Same(rec, at, left_, 0);
  ASSERT_GT(turn, 20 * kBlock);
  ASSERT_LT(turn, left_.size());
  const Samples back(left_.rend() - static_cast<long>(turn), left_.rend());  // from the turn back to the start
  // The engines place the turn by their own position arithmetic, a sample
  // or two apart; on the spot means within a millisecond.
  size_t skipped = 0;
  while (skipped < 48 && Same(rec, at + turn, back, skipped) < kBlock) ++skipped;
  EXPECT_LT(skipped, 48u) << "not on the spot";
  EXPECT_EQ(Same(rec, at + turn, back, skipped), back.size() - skipped) << "not whole";

  // Pause and continue: silence, then on from the very sample it paused at.
  const size_t again = Find(rec, left_, at + 2 * turn);
  ASSERT_LT(again, rec.size());
  const size_t paused = Same(rec, again, left_, 0);
  ASSERT_LT(paused, left_.size());
  size_t resumed = again + paused;
  while (resumed < rec.size() && rec[resumed] == 0) ++resumed;
  EXPECT_GT(resumed - (again + paused), static_cast<size_t>(kCardRate / 4)) << "no pause heard";
  EXPECT_EQ(Same(rec, resumed, left_, paused), left_.size() - paused) << "lost or repeated samples at the pause";
}

INSTANTIATE_TEST_SUITE_P(Engines, DeviceTest, ::testing::Values("dx9", "dx7", "waveout"));

TEST(DeviceFaults, NoSoundServerIsNoDeviceAndALostOneEndsOnlyTheRun) {
  // A server of its own, so that this one can be killed.
  testing_support::TempDir dir;
  const std::string runtime = dir.Path();
  const std::string start = "XDG_RUNTIME_DIR=" + runtime + " HOME=" + runtime +
                            " pulseaudio -n --daemonize=yes --exit-idle-time=-1 --use-pid-file=yes "
                            "--load='module-null-sink sink_name=nul rate=48000' --load=module-native-protocol-unix "
                            ">/dev/null 2>&1";
  const std::string saved = std::getenv("XDG_RUNTIME_DIR") != nullptr ? std::getenv("XDG_RUNTIME_DIR") : "";
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    // No server yet: DirectSound 7 finds no device and the host falls back to
    // waveOut, which has none either.
    Playsrv none({"--output", "device", "--engines", "dx7,waveout"});
    EXPECT_EQ(none.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 2}}));
    HandOverSilence(none, 8000);
    EXPECT_EQ(Playsrv::Reports(none.Call("PlayAgain").Notifications), (Reports{"Play Failed", "Play Failed"}));
  }
  ASSERT_EQ(std::system(start.c_str()), 0);
  {
    Playsrv s({"--output", "device"});
    EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
    HandOverSilence(s, 24000);
    EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
    ASSERT_EQ(std::system(("kill $(cat " + runtime + "/pulse/pid)").c_str()), 0);
    Reports seen;
    for (int i = 0; i < 100 && seen.empty(); ++i, Wait(50))
      seen = Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications);
    EXPECT_FALSE(seen.empty()) << "the lost device did not end the run";
    // The server goes on serving; once the sound server is back, the next
    // start opens the device again.
    ASSERT_EQ(std::system(start.c_str()), 0);
    Wait(600);
    EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
    s.Call("StopPlay");
  }
  std::system(("kill $(cat " + runtime + "/pulse/pid) 2>/dev/null").c_str());
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
