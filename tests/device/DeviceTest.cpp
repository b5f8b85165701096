// The sound card path, end to end: playsrv --output device:BACKEND plays into
// a private sound server that `make test` starts (scripts/sound-servers.sh),
// a recorder of the test's own takes what reaches the sink with the sink's
// own clock, and the recording is searched for the wave by correlation,
// 10 ms at a time. Latencies are measured against the recording's clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/Resampler.h"
#include "platform/os/Clock.h"
#include "platform/os/Process.h"
#include "tests/device/Recordings.h"
#include "tests/device/SoundSystems.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;
using testing_support::Playsrv;
using Reports = std::vector<std::string>;
using namespace device_test;

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kFrames = 66150;  // 1.5 s

void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double Ms(int64_t ns) { return static_cast<double>(ns) / 1e6; }

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  return {std::istreambuf_iterator<char>(f), {}};
}

// A backend and the engine its runs go through.
struct Case {
  const char* system;
  const char* engine;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.system) + "_" + info.param.engine;
}

class DeviceTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    system_ = FindSoundSystem(GetParam().system);
    env_ = std::make_unique<ScopedEnv>(system_.env);
    std::mt19937 random(2463534242u);
    for (int32_t i = 0; i < kFrames; ++i) left_.push_back(static_cast<int16_t>(static_cast<int32_t>(random() % 16000) - 8000));
  }

  // Whatever a test plays, the card never runs dry.
  void TearDown() override { EXPECT_EQ(Log().find("underrun"), std::string::npos) << Log(); }

  // What playsrv is asked to keep queued: its default, unless a slow build
  // (ThreadSanitizer) sets PLAY_TEST_LATENCY_MS.
  static int64_t LatencyMs() {
    const char* v = std::getenv("PLAY_TEST_LATENCY_MS");
    return v != nullptr ? std::atoll(v) : 0;
  }
  // The longest a start or a turn may take to be heard: 20 ms on JACK, 30 ms
  // on the others.
  int64_t BoundNs() const { return ((system_.name == "jack" ? 20 : 30) + LatencyMs()) * 1000000; }
  // How far the position may be from the recording: 5 ms; the waveOut
  // engine's position is as fresh as its 40-ms poll.
  double PositionBoundMs() const {
    return (std::string(GetParam().engine) == "waveout" ? 45.0 : 5.0) + static_cast<double>(LatencyMs());
  }

  std::unique_ptr<Playsrv> Start() {
    auto s = std::make_unique<Playsrv>(std::vector<std::string>{"--output", system_.output, "--engines",
                                                                GetParam().engine, "--latency-ms",
                                                                std::to_string(LatencyMs())},
                                       stderrPath_);
    const int hwnd = std::string(GetParam().engine) == "waveout" ? 2 : 1;
    EXPECT_EQ(s->Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", hwnd}}));
    return s;
  }

  // The left channel of the source, forward or reversed, as the card hears
  // it when the source plays at kRate.
  Samples Heard(bool reversed) const {
    Samples part = left_;
    if (reversed) std::reverse(part.begin(), part.end());
    return Converted(part, kRate, kCardRate);
  }

  // Starts the recorder (rec_) and playsrv, and hands left_ over at `rate`.
  std::unique_ptr<Playsrv> StartWith(int32_t rate, int32_t frames = kFrames) {
    rec_ = StartRecorder(system_);
    auto s = Start();
    HandOver(*s, rate, frames);
    return s;
  }

  // Ends the recording; the left channel heard.
  const Samples& StopRecording() {
    rec_->Stop();
    return rec_->Left();
  }

  // `wave` at `from` Hz converted to `to` Hz.
  static Samples Converted(const Samples& wave, int32_t from, int32_t to) {
    Samples out, tail;
    audio::Resampler resampler(from, to, 1);
    resampler.Process(wave.data(), wave.size(), out);
    resampler.Flush(tail);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  }

  // Hands left_ over (raw samples, read in place) as if it were recorded at `rate`.
  void HandOver(Playsrv& s, int32_t rate, int32_t frames = kFrames) {
    Samples stereo;
    for (const int16_t v : left_) stereo.insert(stereo.end(), {v, static_cast<int16_t>(-v / 2)});
    testing_support::WriteSamples(wavPath_, stereo);
    auto list = [&](int32_t offset) {
      return testing_support::HostList().Org(wavPath_, frames, 1, 1 + offset, 2, 16).Elements();
    };
    s.Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", rate}, {"WaveNos", frames},
                             {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}});
  }

  // Calls `method`; the steady time it was sent at.
  static int64_t CallAt(Playsrv& s, const std::string& method) {
    const int64_t at = os::SteadyNs();
    s.Call(method);
    return at;
  }

  // Polls the position until the run reports its end (whether it did); then the card drains.
  static bool PlayToTheEnd(Playsrv& s) {
    bool done = false;
    for (int i = 0; i < 300 && !done; ++i, Wait(20)) {
      const Reports r = Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications);
      done = std::find(r.begin(), r.end(), "Play Done") != r.end();
    }
    Wait(100);
    return done;
  }

  // The recorded `frame` was heard within the bound after `sent`.
  void ExpectHeardInTime(size_t frame, int64_t sent, const std::string& what) {
    const int64_t latency = rec_->TimeOfFrameNs(frame) - sent;
    EXPECT_LE(latency, BoundNs()) << what << " heard after " << Ms(latency) << " ms";
    std::cout << "[ measured ] " << system_.name << " " << what << " latency " << Ms(latency) << " ms\n";
  }

  std::string Log() const { return ReadFile(stderrPath_); }

  SoundSystem system_;
  std::unique_ptr<ScopedEnv> env_;
  std::unique_ptr<Recorder> rec_;
  testing_support::TempDir tmp_;
  std::string wavPath_ = tmp_.File("wave.raw");
  std::string stderrPath_ = tmp_.File("playsrv.log");
  Samples left_;
};

TEST_P(DeviceTest, ForwardAndReverseAreHeardWholeAndStartInTime) {
  auto s = StartWith(kRate);
  const int64_t forward = CallAt(*s, "PlayAgain");
  PlayToTheEnd(*s);
  const int64_t reverse = CallAt(*s, "PlayAgainRev");
  PlayToTheEnd(*s);
  const Samples& heard = StopRecording();
  const size_t first = Find(heard, Heard(false), 0);
  ExpectWhole(heard, Heard(false), first);
  const size_t second = Find(heard, Heard(true), first + kFrames);
  ExpectWhole(heard, Heard(true), second);
  if (first < heard.size()) ExpectHeardInTime(first, forward, "start");
  if (second < heard.size()) ExpectHeardInTime(second, reverse, "reverse start");
}

// At the card's own rate nothing is converted, so the recording holds the
// wave's samples exactly and a turn or a pause can be found to the sample.
TEST_P(DeviceTest, ATurnAndAPauseLoseAndRepeatNothingAndAreHeardInTime) {
  auto s = StartWith(kCardRate);
  s->Call("PlayAgain");
  Wait(700);
  const int64_t turned = CallAt(*s, "PlayUTurn");
  PlayToTheEnd(*s);
  s->Call("PlayAgain");
  Wait(600);
  s->Call("PlayPause");
  Wait(500);
  const int64_t continued = CallAt(*s, "PlayContinue");
  PlayToTheEnd(*s);
  const Samples& heard = StopRecording();

  // Forward from the start to the turn, then backwards from there, joined
  // without a gap. The engines place the turn by their own position
  // arithmetic, a sample or two apart; on the spot means within 1 ms.
  const size_t at = Find(heard, left_, 0);
  ASSERT_LT(at, heard.size());
  const size_t turn = Same(heard, at, left_, 0);
  ASSERT_GT(turn, 20 * kBlock);
  ASSERT_LT(turn, left_.size());
  const Samples back(left_.rend() - static_cast<long>(turn), left_.rend());
  size_t skipped = 0;
  while (skipped < 48 && Same(heard, at + turn, back, skipped) < kBlock) ++skipped;
  EXPECT_LT(skipped, 48u) << "not on the spot";
  EXPECT_EQ(Same(heard, at + turn, back, skipped), back.size() - skipped) << "not whole";

  // Pause and continue: silence, then on from the very sample it paused at.
  const size_t again = Find(heard, left_, at + 2 * turn);
  ASSERT_LT(again, heard.size());
  const size_t paused = Same(heard, again, left_, 0);
  ASSERT_LT(paused, left_.size());
  size_t resumed = again + paused;
  while (resumed < heard.size() && heard[resumed] == 0) ++resumed;
  EXPECT_GT(resumed - (again + paused), static_cast<size_t>(kCardRate / 4)) << "no pause heard";
  EXPECT_EQ(Same(heard, resumed, left_, paused), left_.size() - paused) << "lost or repeated samples at the pause";

  ExpectHeardInTime(at + turn, turned, "U-turn");
  ExpectHeardInTime(resumed, continued, "continue");
}

// Polled every 20 ms, the position is the frame leaving the card: within
// 5 ms of where the recording has it (and half the call's round trip), never
// back, and "Play Done" comes once the last frame has been heard.
TEST_P(DeviceTest, ThePositionIsTheFrameLeavingTheCardAndPlayDoneFollowsTheLastOne) {
  auto s = StartWith(kCardRate);
  s->Call("PlayAgain");
  struct Poll {
    int64_t sent, answered;
    int32_t pos;
  };
  std::vector<Poll> polls;
  int64_t done = 0;
  for (int i = 0; i < 200 && done == 0; ++i, Wait(20)) {
    const int64_t sent = os::SteadyNs();
    const Playsrv::Exchange x = s->Call("PlayCurrentPosition");
    const Reports r = Playsrv::Reports(x.Notifications);
    if (std::find(r.begin(), r.end(), "Play Done") != r.end()) done = os::SteadyNs();
    polls.push_back({sent, os::SteadyNs(), x.Answer["result"].get<int32_t>()});
  }
  Wait(100);
  const Samples& heard = StopRecording();
  const size_t at = Find(heard, left_, 0);
  ASSERT_LT(at, heard.size());
  int32_t last = 0;
  double early = 0, late = 0;  // the position behind and ahead of the card, beyond the round trip
  for (const Poll& p : polls) {
    EXPECT_GE(p.pos, last) << "the position went back";
    last = std::max(last, p.pos);
    // The DirectSound 9 engine's device goes on handing silence over after
    // the end mark while its position holds there, so over the last frames
    // the silence still queued is taken off too: the position stalls up to a
    // queue's length before the end until "Play Done" (a known limit).
    const int32_t end = std::string(GetParam().engine) == "dx9" ? kFrames - kCardRate / 20 : kFrames;
    // Until the run's first frame leaves, the position holds at the run's
    // start (1): that answer is right however early it comes.
    if (p.pos <= 1 || p.pos >= end) continue;
    const int64_t leaving = rec_->TimeOfFrameNs(at + static_cast<size_t>(p.pos));
    early = std::max(early, Ms(p.sent - leaving));
    late = std::max(late, Ms(leaving - p.answered));
  }
  EXPECT_LE(std::max(early, late), PositionBoundMs()) << "the position is that far from what the card played";
  ASSERT_NE(done, 0) << "no \"Play Done\"";
  const int64_t after = done - rec_->TimeOfFrameNs(at + kFrames - 1);
  EXPECT_GT(after, 0) << "\"Play Done\" came " << Ms(-after) << " ms before the last frame was heard";
  // The engines find the end themselves: waveOut by two 40-ms polls and its
  // 40-ms stop timer, DirectSound 9 by its 100-ms poll, DirectSound 7 by a
  // stop timer that ends with the last frame. The card may add a period and
  // 10 ms to that, and this test's 20-ms poll sees it up to 20 ms late
  // (and its answer's way back up to 10 ms).
  const std::string engine = GetParam().engine;
  const int64_t ownMs = engine == "waveout" ? 120 : engine == "dx9" ? 100 : 0;
  EXPECT_LE(Ms(after), static_cast<double>(ownMs + 5 + 10 + 20 + 10 + LatencyMs())) << "\"Play Done\" held back";
  std::cout << "[ measured ] " << system_.name << " position behind up to " << early << " ms, ahead up to " << late
            << " ms, Play Done "
            << Ms(after) << " ms after the last frame\n";
}

// Random transport on the card, as a user's keys give it: restarts, reverse
// restarts, U-turns, pause and continue, a tempo change before a start.
TEST_P(DeviceTest, RandomTransportRaisesNoUnderrun) {
  auto s = StartWith(kRate);
  std::mt19937 random(7);
  const std::vector<std::pair<std::string, json>> commands{
      {"PlayAgain", nullptr}, {"PlayAgainRev", nullptr}, {"PlayUTurn", nullptr},    {"PlayPause", nullptr},
      {"PlayContinue", nullptr}, {"PlayTempoFor", {{"value", 1.5}}}, {"PlayTempoFor", {{"value", 1.0}}}};
  for (int i = 0; i < 40; ++i) {
    const auto& [method, params] = commands[random() % commands.size()];
    s->Call(method, params);
    Wait(150 + static_cast<int>(random() % 350));
  }
  s->Call("StopPlay");
  s.reset();  // TearDown reads the whole log for underruns
}

// The engines' runs start, turn and end differently, so the tests above run
// on PulseAudio with every engine and on each other sound system with one.
INSTANTIATE_TEST_SUITE_P(Backends, DeviceTest,
                         ::testing::Values(Case{"pulse", "dx9"}, Case{"pulse", "dx7"}, Case{"pulse", "waveout"},
                                           Case{"pipewire", "dx9"}, Case{"jack", "dx7"}, Case{"alsa", "waveout"}),
                         CaseName);

// Each sound system once, with an engine of its own.
const auto kEachSystem = ::testing::Values(Case{"pulse", "dx7"}, Case{"pipewire", "dx9"}, Case{"jack", "dx7"},
                                           Case{"alsa", "waveout"});

// What the device output does alone, the same under every engine: once per
// sound system.
class DeviceOutputTest : public DeviceTest {};

// Three seconds after a run the sound system is let go: the sink suspends
// once its own idle time has passed (1 s for the private servers' null
// sinks), or our JACK client leaves the graph; and the next start is heard
// as soon as ever. No recorder keeps the sink awake meanwhile (our JACK
// ports play into the recorder's, so it stays for JACK).
TEST_P(DeviceOutputTest, AnIdleServerLetsTheCardSleepAndStartsAgainInTime) {
  const bool jack = system_.name == "jack";
  if (jack) rec_ = StartRecorder(system_);
  auto s = Start();
  HandOver(*s, kCardRate, kCardRate / 5);
  s->Call("PlayAgain");
  PlayToTheEnd(*s);
  const std::string awake = jack ? "jack_lsp -c rec:in_left | grep -q playsrv"
                                 : "pactl -s " + system_.server + " list sinks short | grep -q RUNNING";
  EXPECT_EQ(Shell(system_, awake), 0) << "not playing right after the run";
  Wait(5000);
  EXPECT_NE(Shell(system_, awake), 0) << "the card is still held";
  if (!jack) {
    const std::string asleep = "pactl -s " + system_.server + " list sinks short | grep -q SUSPENDED";
    EXPECT_EQ(Shell(system_, asleep), 0) << "the sink did not suspend";
    rec_ = StartRecorder(system_);
    Wait(300);
  }
  const int64_t sent = CallAt(*s, "PlayAgain");
  PlayToTheEnd(*s);
  const Samples& heard = StopRecording();
  const size_t at = Find(heard, left_, jack ? Find(heard, left_, 0) + kCardRate / 5 : 0);
  ASSERT_LT(at, heard.size()) << "not heard after the idle time";
  ExpectHeardInTime(at, sent, "start after idle");
}

INSTANTIATE_TEST_SUITE_P(Backends, DeviceOutputTest, kEachSystem, CaseName);

// A sound system that changes its period under a run (a JACK server's
// buffer size, a PipeWire graph's forced quantum) restarts its cycle: the
// card may have a period of silence there, but nothing is lost or repeated
// and no underrun is told (TearDown).
class GraphTest : public DeviceTest {
 protected:
  // The periods a run goes through: longer, shorter, and back. PipeWire's
  // graph is not taken below 256 frames: at 128 (2.7 ms) it misses cycles
  // on a loaded machine whatever its clients do.
  std::vector<std::string> Periods() const {
    if (system_.name == "jack") return {"1024", "128", "256"};
    return {"1024", "256", "512"};
  }
  // The shell command that sets the sound system's period ("0": its own again).
  std::string SetPeriod(const std::string& frames) const {
    if (system_.name == "jack") return "jack_bufsize " + (frames == "0" ? std::string("256") : frames) + " >/dev/null";
    return "pw-metadata -n settings 0 clock.force-quantum " + frames + " >/dev/null";
  }
  // The shell command that sets a JACK server's rate (jackdbus, through its
  // bus): the driver's new rate, then a switch of master.
  static std::string SetRate(int32_t rate) {
    const std::string control = "DBUS_SESSION_BUS_ADDRESS=unix:path=$PLAY_JACK_DIR/bus jack_control ";
    return control + "dps rate " + std::to_string(rate) + " >/dev/null && " + control + "sm >/dev/null";
  }

  // The sound system is set back to its own period whatever the test's outcome.
  void TearDown() override {
    Shell(system_, SetPeriod("0"));
    DeviceTest::TearDown();
  }
};

TEST_P(GraphTest, ANewPeriodMidRunLosesAndRepeatsNothing) {
  left_.insert(left_.end(), left_.begin(), left_.end());  // 2.8 s at the card's rate
  auto s = StartWith(kCardRate, static_cast<int32_t>(left_.size()));
  s->Call("PlayAgain");
  for (const std::string& frames : Periods()) {
    Wait(700);
    ASSERT_EQ(Shell(system_, SetPeriod(frames)), 0);
  }
  EXPECT_TRUE(PlayToTheEnd(*s)) << "no \"Play Done\"";
  const Samples& heard = StopRecording();
  const size_t at = Find(heard, left_, 0);
  ASSERT_LT(at, heard.size()) << "not heard";
  EXPECT_LE(ExpectExactWithPauses(heard, left_, at), 3) << "more pauses than periods";
}

INSTANTIATE_TEST_SUITE_P(Graphs, GraphTest, ::testing::Values(Case{"jack", "dx7"}, Case{"pipewire", "dx9"}),
                         CaseName);

// A JACK server that changes its rate under a run (jackdbus: the driver's
// new rate, then a switch of master) keeps our client: the run goes on,
// converted to the new rate from where the card had got to. The card pauses
// there, but the rest of the wave follows whole, 10 ms by 10 ms, at the new
// rate, and the position never goes back; the pause is told as the sound
// system's, not as an underrun.
class JackRateTest : public GraphTest {
 protected:
  void TearDown() override {
    Shell(system_, SetRate(kCardRate));
    DeviceTest::TearDown();
  }
};

TEST_P(JackRateTest, ANewRateMidRunGoesOnConvertedAndLosesNothing) {
  constexpr int32_t kNewRate = 44100;
  left_.insert(left_.end(), left_.begin(), left_.end());  // 2.8 s at the card's first rate
  auto s = StartWith(kCardRate, static_cast<int32_t>(left_.size()));
  s->Call("PlayAgain");
  Wait(700);
  ASSERT_EQ(Shell(system_, SetRate(kNewRate)), 0);
  // The position goes on across the change, never back, to "Play Done".
  bool done = false;
  for (int32_t i = 0, last = 0; i < 300 && !done; ++i, Wait(20)) {
    const Playsrv::Exchange x = s->Call("PlayCurrentPosition");
    const Reports r = Playsrv::Reports(x.Notifications);
    done = std::find(r.begin(), r.end(), "Play Done") != r.end();
    EXPECT_GE(x.Answer["result"].get<int32_t>(), last) << "the position went back";
    last = std::max(last, x.Answer["result"].get<int32_t>());
  }
  EXPECT_TRUE(done) << "no \"Play Done\"";
  Wait(100);
  const Samples& heard = StopRecording();
  const size_t at = Find(heard, left_, 0);
  ASSERT_LT(at, heard.size()) << "not heard";
  // Until the change nothing is converted: the wave's own samples.
  const size_t before = Same(heard, at, left_, 0);
  ASSERT_GT(before, 20 * kBlock);
  ASSERT_LT(before, left_.size() - 20 * kBlock) << "no change of rate heard";
  size_t resumed = at + before;
  while (resumed < heard.size() && heard[resumed] == 0) ++resumed;
  const Samples rest = Converted(Samples(left_.begin() + static_cast<long>(before), left_.end()), kCardRate, kNewRate);
  const size_t found = Find(heard, rest, at + before);
  ASSERT_LT(found, heard.size()) << "the wave after the change was not heard";
  const long late = static_cast<long>(found) - static_cast<long>(resumed);
  EXPECT_LE(std::labs(late), 10) << "the wave went on " << late << " samples from where the card resumed";
  ExpectWhole(heard, rest, found);
  std::cout << "[ measured ] jack rate change: a pause of " << 1000.0 * static_cast<double>(resumed - at - before) / kNewRate
            << " ms\n";
  EXPECT_NE(Log().find("the sound system reconfigured"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(Jack, JackRateTest, ::testing::Values(Case{"jack", "dx7"}), CaseName);

// Sixty seconds of a continuous sine at the default latency while two
// processes keep both cores busy: the recording holds no gap (more than 1 ms
// of near-silence between the sine's first and last loud sample) and the
// card never ran dry (TearDown). Run by `make soak`, not by `make test`.
class DeviceSoak : public DeviceTest {};

TEST_P(DeviceSoak, DISABLED_SixtySecondsBesideTwoBusyProcessesHoldNoGap) {
  constexpr int32_t kSeconds = 60;
  constexpr size_t kGap = kCardRate / 1000;
  left_.clear();
  for (int32_t i = 0; i < kRate * kSeconds; ++i)
    left_.push_back(static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * 441.0 * i / kRate))));
  auto s = StartWith(kRate, static_cast<int32_t>(left_.size()));
  std::vector<std::unique_ptr<os::Process>> busy;
  os::Process::Options spin;
  spin.Args = {"-c", "while :; do :; done"};
  spin.NullInput = true;
  for (int i = 0; i < 2; ++i) busy.push_back(std::make_unique<os::Process>("/bin/sh", spin));
  s->Call("PlayAgain");
  Wait(kSeconds * 1000 - 2000);
  EXPECT_TRUE(PlayToTheEnd(*s)) << "no \"Play Done\"";
  busy.clear();
  const Samples& heard = StopRecording();
  auto loud = [](int16_t v) { return std::abs(v) > 4000; };
  const auto first = std::find_if(heard.begin(), heard.end(), loud);
  ASSERT_NE(first, heard.end()) << "nothing heard";
  const auto last = std::find_if(heard.rbegin(), heard.rend(), loud).base();
  size_t gaps = 0, quiet = 0;
  std::ostringstream where;  // each gap's time into the sine and length
  for (auto it = first; it != last; ++it) {
    if (std::abs(*it) < 200) {
      ++quiet;
      continue;
    }
    if (quiet > kGap && ++gaps <= 10)
      where << " " << static_cast<double>(it - first - quiet) / kCardRate << " s (" << quiet * 1000 / kCardRate << " ms)";
    quiet = 0;
  }
  const double heardSeconds = static_cast<double>(last - first) / kCardRate;
  EXPECT_EQ(gaps, 0u) << "gaps at" << where.str();
  EXPECT_NEAR(heardSeconds, kSeconds, 0.05) << "the sine was not heard whole";
  std::cout << "[ measured ] " << system_.name << " " << heardSeconds << " s heard beside two busy processes, "
            << gaps << " gaps\n";
}

INSTANTIATE_TEST_SUITE_P(Backends, DeviceSoak, kEachSystem, CaseName);

// Each sound system killed mid-play ends only that run, and once it is back
// the next start opens it again. (An absent one at start is no device: the
// fallback test's last row.)
class DeviceFaults : public ::testing::TestWithParam<const char*> {};

TEST_P(DeviceFaults, AKilledSoundSystemEndsOnlyTheRunAndIsOpenedAgain) {
  const std::string system = GetParam();
  OwnServer server(system == "alsa" ? "pulse" : system);
  ScopedEnv env(server.Env(system));
  server.Start();
  Playsrv s({"--output", "device:" + system + (system == "alsa" ? ":nul" : "")});
  EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
  s.Call("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 1}, {"FmtFriq", 8000}, {"WaveNos", 24000},
                           {"BlkInLstL", testing_support::HostList().Silent(24000, 1).Elements()}});
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
  Wait(300);
  server.Kill();
  Reports seen;
  for (int i = 0; i < 100 && seen.empty(); ++i, Wait(50))
    seen = Playsrv::Reports(s.Call("PlayCurrentPosition").Notifications);
  EXPECT_FALSE(seen.empty()) << "the lost device did not end the run";
  server.Start();
  Wait(600);
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), Reports{"Playing"});
  s.Call("StopPlay");
}

INSTANTIATE_TEST_SUITE_P(Backends, DeviceFaults, ::testing::Values("pulse", "pipewire", "jack", "alsa"));

// `--output device` takes the first sound system that opens, in the order
// jack, pipewire, pulse, alsa, and says which; with none it is no device.
TEST(DeviceFallback, TheFirstSoundSystemThatOpensIsTaken) {
  testing_support::TempDir tmp;
  const std::string nothing = tmp.Path(), log = tmp.File("playsrv.log");
  const std::string nullAlsa = tmp.File("null.conf"), noAlsa = tmp.File("none.conf");
  std::ofstream(nullAlsa) << "pcm.!default { type null }\n";
  std::ofstream(noAlsa) << "pcm.!default { type pulse }\n";
  const std::string jack = FindSoundSystem("jack").server;
  const std::string pipewire = FindSoundSystem("pipewire").env.front().second;
  const std::string pulse = FindSoundSystem("pulse").env.front().second;
  struct Row {
    std::string jack, pipewire, pulse, alsa, said;
  };
  for (const Row& row : {Row{jack, pipewire, pulse, noAlsa, "sound device: jack"},
                         Row{"none", pipewire, pulse, noAlsa, "sound device: pipewire"},
                         Row{"none", nothing, pulse, noAlsa, "sound device: pulse"},
                         Row{"none", nothing, nothing, nullAlsa, "sound device: alsa"},
                         Row{"none", nothing, nothing, noAlsa, ""}}) {
    ScopedEnv env({{"JACK_DEFAULT_SERVER", row.jack}, {"PIPEWIRE_RUNTIME_DIR", row.pipewire},
                                {"XDG_RUNTIME_DIR", row.pulse}, {"PULSE_SERVER", ""}, {"ALSA_CONFIG_PATH", row.alsa}});
    {
      Playsrv s({"--output", "device", "--engines", "dx7,waveout"}, log);
      EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", row.said.empty() ? 2 : 1}})) << row.said;
      s.Call("Release");
      s.Wait();
    }
    const std::string text = ReadFile(log);
    if (row.said.empty()) {
      EXPECT_EQ(text.find("sound device:"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find(row.said), std::string::npos) << text;
    }
  }
}

}  // namespace
