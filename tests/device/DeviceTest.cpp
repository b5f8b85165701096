// The sound card path, end to end: playsrv --output device plays into a
// private PulseAudio server's null sink (scripts/pulse-null-sink.sh, started
// by `make test`), parec records the sink's monitor, and the recording is
// searched for the wave by correlation, 10 ms at a time. The monitor only
// runs while something plays, so nothing here depends on when a frame came.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/Resampler.h"
#include "tests/server/ChildProcess.h"
#include "tests/server/WavTestFiles.h"
#include "tests/support/TestWorld.h"

extern char** environ;

using nlohmann::json;
using testing_support::Playsrv;
using Reports = std::vector<std::string>;

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kCardRate = 48000;  // the null sink's
constexpr int32_t kFrames = 66150;    // 1.5 s
constexpr size_t kBlock = 480;        // 10 ms at the card's rate
constexpr double kSame = 0.9;         // correlation of a block that matches

// parec on the null sink's monitor, raw 16-bit stereo at the card's rate.
class Recorder final {
 public:
  explicit Recorder(const std::string& path) : path_(path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args{"parec", "-d", "nul.monitor", "--latency-msec=10", "--format=s16le",
                                  "--rate=48000", "--channels=2"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "parec", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connected and recording
  }
  ~Recorder() {
    if (pid_ > 0) Finish();
  }
  // Stops parec (SIGINT keeps its buffered tail) and returns the left channel.
  std::vector<int16_t> Stop() {
    Finish();
    std::ifstream in(path_, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> left(bytes.size() / 4);
    for (size_t i = 0; i < left.size(); ++i) std::memcpy(&left[i], bytes.data() + 4 * i, 2);
    return left;
  }

 private:
  void Finish() {
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  std::string path_;
  pid_t pid_ = -1;
};

double Correlation(const std::vector<int16_t>& a, size_t at, const std::vector<int16_t>& b, size_t from, size_t n) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = a[at + i], y = b[from + i];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// Where ref[from, from + n) lies best in rec[lo, hi); -1 when nowhere.
long Find(const std::vector<int16_t>& rec, const std::vector<int16_t>& ref, size_t from, size_t n, size_t lo,
          size_t hi) {
  long best = -1;
  double bestC = kSame;
  for (size_t at = lo; at + n <= std::min(hi, rec.size()); ++at) {
    const double c = Correlation(rec, at, ref, from, n);
    if (c > bestC) bestC = c, best = static_cast<long>(at);
  }
  return best;
}

// Follows ref block by block from rec position `at` (ref offset `from`);
// returns how many ref samples lie there without a break.
size_t Follow(const std::vector<int16_t>& rec, size_t at, const std::vector<int16_t>& ref, size_t from) {
  size_t n = 0;
  while (from + n + kBlock <= ref.size() && at + n + kBlock <= rec.size() &&
         Correlation(rec, at + n, ref, from + n, kBlock) > kSame)
    n += kBlock;
  return n;
}

// How many samples from rec[at] on equal ref[from] on.
size_t Same(const std::vector<int16_t>& rec, size_t at, const std::vector<int16_t>& ref, size_t from) {
  size_t n = 0;
  while (at + n < rec.size() && from + n < ref.size() && rec[at + n] == ref[from + n]) ++n;
  return n;
}

// The longest run of zero samples in rec[at, at + n).
size_t LongestSilence(const std::vector<int16_t>& rec, size_t at, size_t n) {
  size_t longest = 0, run = 0;
  for (size_t i = at; i < at + n && i < rec.size(); ++i) {
    run = rec[i] == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

class DeviceTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_EQ(std::system("pactl info >/dev/null 2>&1"), 0)
        << "no sound server: run through `make test`, which starts one (scripts/pulse-null-sink.sh)";
    uint32_t x = 2463534242u;
    for (int32_t i = 0; i < kFrames; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      left_.push_back(static_cast<int16_t>(static_cast<int32_t>(x % 16000) - 8000));
      samples_.push_back(left_.back());
      samples_.push_back(static_cast<int16_t>(-left_.back() / 2));
    }
    testing_support::WavFormat format;
    format.Rate = kRate;
    dataPos_ = 1 + static_cast<int32_t>(
                       testing_support::WriteWav(wavPath_, format, testing_support::SamplesToBytes(samples_)));
  }

  // The left channel of source frames [from, to), forward or reversed, as
  // the card hears it when the source plays at `rate`.
  std::vector<int16_t> Heard(int32_t from, int32_t to, bool reversed, int32_t rate = kRate) const {
    std::vector<int16_t> part(left_.begin() + from, left_.begin() + to);
    if (reversed) std::reverse(part.begin(), part.end());
    platform::Resampler resampler(rate, kCardRate, 1);
    std::vector<int16_t> out, tail;
    resampler.Process(part.data(), part.size(), out);
    resampler.Flush(tail);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  }

  // Starts playsrv on the card with only this engine, hands over the wave
  // as if it were recorded at `rate`.
  Playsrv& Open(int32_t rate = kRate) {
    // A queue that outlasts the stalls of a sanitizer build on a busy machine.
    server_ = std::make_unique<Playsrv>(
        std::vector<std::string>{"--output", "device", "--latency-ms", "200", "--engines", GetParam()}, false);
    const int expected = std::string(GetParam()) == "waveout" ? 2 : 1;
    EXPECT_EQ(server_->Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", expected}}));
    auto list = [&](int32_t offset) {
      return testing_support::HostList().Org(wavPath_, kFrames, 1, dataPos_ + offset, 2, 16).Elements();
    };
    server_->Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", rate}, {"WaveNos", kFrames},
                                    {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}});
    // A null sink picks a new stream up only at its next wake-up, which can
    // be a second or two away; a sound card starts at once.
    Wait(2000);
    return *server_;
  }

  // Polls the position until the run reports its end; the reports in order.
  static Reports PlayToTheEnd(Playsrv& s) {
    Reports all;
    for (int i = 0; i < 200; ++i) {
      for (const auto& r : Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications)) all.push_back(r);
      if (std::find(all.begin(), all.end(), "Play Done") != all.end()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the card drains
    return all;
  }

  static void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  // The whole of `ref` in one piece, from its first 20 ms on and without a
  // gap, somewhere after rec[from]; returns where it ends.
  static size_t ExpectWhole(const std::vector<int16_t>& rec, const std::vector<int16_t>& ref, size_t from = 0) {
    const long at = Find(rec, ref, 0, 2 * kBlock, from, rec.size());
    EXPECT_GE(at, 0) << "the first 20 ms were not heard";
    if (at < 0) return rec.size();
    EXPECT_GE(Follow(rec, static_cast<size_t>(at), ref, 0) + kBlock, ref.size());
    EXPECT_LE(LongestSilence(rec, static_cast<size_t>(at), ref.size()), 48u) << "a gap of more than 1 ms";
    return static_cast<size_t>(at) + ref.size();
  }

  testing_support::TempDir tmp_;
  std::string wavPath_ = tmp_.File("wave.wav");
  std::vector<int16_t> samples_, left_;
  int32_t dataPos_ = 0;
  std::unique_ptr<Playsrv> server_;
};

// The recorder starts before the server opens the card: the null sink takes
// its pace from the recorder, and a stream that joins a sink nobody records
// can wait a long time for its first requests.
TEST_P(DeviceTest, ForwardAndReverseAreHeardWholeFromTheFirstMillisecondOn) {
  Recorder recorder(tmp_.File("rec.raw"));
  Playsrv& s = Open();
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
  PlayToTheEnd(s);
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgainRev").Notifications), Reports{"Playing"});
  PlayToTheEnd(s);
  const std::vector<int16_t> rec = recorder.Stop();
  ExpectWhole(rec, Heard(0, kFrames, true), ExpectWhole(rec, Heard(0, kFrames, false)));
}

// At the card's own rate nothing is converted, so the recording holds the
// wave's samples exactly and a turn or a pause can be found to the sample.
TEST_P(DeviceTest, AUTurnTurnsOnTheSpotAndPauseLosesNothing) {
  Recorder recorder(tmp_.File("rec.raw"));
  Playsrv& s = Open(kCardRate);
  s.Call("PlayAgain");
  Wait(700);
  s.Call("PlayUTurn");
  PlayToTheEnd(s);
  s.Call("PlayAgain");
  Wait(600);
  s.Call("PlayPause");
  Wait(500);
  s.Call("PlayContinue");
  PlayToTheEnd(s);
  const std::vector<int16_t> rec = recorder.Stop();

  // Forward from the start to the turn, then backwards from there, joined
  // without a gap.
  const long at = Find(rec, left_, 0, 2 * kBlock, 0, rec.size());
  ASSERT_GE(at, 0);
  const size_t turn = Same(rec, static_cast<size_t>(at), left_, 0);
  ASSERT_GT(turn, 20 * kBlock);
  ASSERT_LT(turn, left_.size());
  std::vector<int16_t> back(left_.begin(), left_.begin() + static_cast<long>(turn));
  std::reverse(back.begin(), back.end());
  // The engines place the turn by their own position arithmetic, a sample
  // or two apart; on the spot means within a millisecond.
  size_t skipped = 0;
  while (skipped < 48 && Same(rec, static_cast<size_t>(at) + turn, back, skipped) < kBlock) ++skipped;
  EXPECT_LT(skipped, 48u) << "not on the spot";
  EXPECT_EQ(Same(rec, static_cast<size_t>(at) + turn, back, skipped), back.size() - skipped) << "not whole";

  // Pause and continue: silence, then on from the very sample it paused at.
  const long again = Find(rec, left_, 0, 2 * kBlock, static_cast<size_t>(at) + 2 * turn, rec.size());
  ASSERT_GE(again, 0);
  const size_t paused = Same(rec, static_cast<size_t>(again), left_, 0);
  ASSERT_LT(paused, left_.size());
  size_t resumed = static_cast<size_t>(again) + paused;
  while (resumed < rec.size() && rec[resumed] == 0) ++resumed;
  EXPECT_GT(resumed - (static_cast<size_t>(again) + paused), static_cast<size_t>(kCardRate / 4)) << "no pause heard";
  EXPECT_EQ(Same(rec, resumed, left_, paused), left_.size() - paused) << "lost or repeated samples at the pause";
}

TEST_P(DeviceTest, TempoTwoIsHeardInHalfTheTimeAnOctaveUp) {
  if (std::string(GetParam()) == "waveout") GTEST_SKIP() << "the waveOut engine plays at the wave's rate";
  Recorder recorder(tmp_.File("rec.raw"));
  Playsrv& s = Open();
  s.Call("PlayTempoFor", {{"value", 2.0}});
  s.Call("PlayAgain");
  PlayToTheEnd(s);
  ExpectWhole(recorder.Stop(), Heard(0, kFrames, false, 2 * kRate));
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
  const char* before = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = before != nullptr ? before : "";
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    // No server yet: DirectSound 7 finds no device and the host falls back to
    // waveOut, which has none either.
    Playsrv none({"--output", "device", "--engines", "dx7,waveout"}, false);
    EXPECT_EQ(none.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 2}}));
    none.Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 1}, {"FmtFriq", 8000}, {"WaveNos", 8000},
                                {"BlkInLstL", testing_support::HostList().Silent(8000, 1).Elements()}});
    EXPECT_EQ(Playsrv::Reports(none.Call("PlayAgain").Notifications), (Reports{"Play Failed", "Play Failed"}));
  }
  ASSERT_EQ(std::system(start.c_str()), 0);
  {
    Playsrv s({"--output", "device"}, false);
    EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
    s.Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 1}, {"FmtFriq", 8000}, {"WaveNos", 24000},
                             {"BlkInLstL", testing_support::HostList().Silent(24000, 1).Elements()}});
    EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
    ASSERT_EQ(std::system(("kill $(cat " + runtime + "/pulse/pid)").c_str()), 0);
    Reports seen;
    for (int i = 0; i < 100 && seen.empty(); ++i) {
      for (const auto& r : Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications)) seen.push_back(r);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(seen.empty()) << "the lost device did not end the run";
    // The server goes on serving; once the sound server is back, the next
    // start opens the device again.
    ASSERT_EQ(std::system(start.c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
    s.Call("StopPlay");
  }
  std::system(("kill $(cat " + runtime + "/pulse/pid) 2>/dev/null").c_str());
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
