// End-to-end: what a careless host or a failing machine does to playsrv and
// playctl: a standard error nobody reads, a full disk under the WAV output,
// and the termination signals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"
#include "tests/server/ChildProcess.h"
#include "tests/server/WavTestFiles.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;
using testing_support::ChildProcess;
using testing_support::ReadText;

namespace {

// Everything in the pipe now, without waiting.
std::string DrainPipe(int fd) {
  std::string all;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

// The next answer (a line without "method"), skipping notifications.
json NextAnswer(ChildProcess& p) {
  std::string line;
  while (p.ReadLine(line)) {
    json m = json::parse(line);
    if (!m.contains("method")) return m;
  }
  return json();
}

// The data size in the header and the data the file holds.
std::pair<int64_t, int64_t> WavSizes(const std::string& path) {
  uint8_t h[44] = {};
  platform::files::ReadAt(path, h, sizeof h, 0);
  const int64_t said = int64_t{h[40]} | int64_t{h[41]} << 8 | int64_t{h[42]} << 16 | int64_t{h[43]} << 24;
  return {said, platform::files::Length(path) - 44};
}

TEST(Reliability, AStandardErrorNobodyReadsNeverHoldsTheServer) {
  int err[2];
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  ChildProcess p({PLAY_BINARY_DIR "/playsrv", "--simulate", "--engines", "waveout"}, "", err[1]);
  close(err[1]);
  // Each DxObj logs why the DirectSound 7 engine was refused: far more than a pipe holds.
  json batch = json::array();
  for (int i = 1; i <= 3000; ++i) batch.push_back({{"jsonrpc", "2.0"}, {"id", i}, {"method", "DxObj"}, {"params", {{"MFrmHwnd", 5}}}});
  p.SendRaw(batch.dump() + "\n");
  const json answer = NextAnswer(p);
  ASSERT_TRUE(answer.is_array());
  EXPECT_EQ(answer.size(), 3000u);
  EXPECT_EQ(answer.back()["result"], json({{"MFrmHwnd", 2}}));

  fcntl(err[0], F_SETFL, O_NONBLOCK);
  const std::string before = DrainPipe(err[0]);
  EXPECT_EQ(before.back(), '\n') << "only whole lines";
  p.SendRaw(R"({"jsonrpc":"2.0","id":9,"method":"DxObj","params":{"MFrmHwnd":5}})" "\n");
  EXPECT_EQ(NextAnswer(p)["id"], 9);
  const std::string after = DrainPipe(err[0]);
  EXPECT_EQ(after.rfind("playsrv: warning: ", 0), 0u) << after;
  EXPECT_NE(after.find(" diagnostic lines were dropped because the error output was full\n"), std::string::npos)
      << after;
  p.CloseInput();
  EXPECT_EQ(p.Wait(), 0);
  close(err[0]);
}

class PlayctlReliability : public ::testing::Test {
 protected:
  PlayctlReliability() {
    std::vector<int16_t> samples(2 * 8000 * 4);  // four seconds of stereo
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 37);
    testing_support::WriteWav(wav, {1, 2, 8000, 16, false}, testing_support::SamplesToBytes(samples));
  }
  std::vector<std::string> Args(bool simulate) const {
    std::vector<std::string> a{PLAY_BINARY_DIR "/playctl", "play", wav, "--output", "wav:" + out};
    if (simulate) a.push_back("--simulate");
    return a;
  }
  testing_support::TempDir tmp;
  std::string wav = tmp.File("take.wav");
  std::string out = tmp.File("played.wav");
};

TEST_F(PlayctlReliability, EachTerminationSignalStopsBothProgramsWithTheWavHeaderTrue) {
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
    ChildProcess p(Args(false), tmp.File("stderr"));
    std::string line;
    while (p.ReadLine(line) && line.find("position") == std::string::npos) {
    }
    p.SignalGroup(signo);  // playctl and the server it started, as Ctrl-C in a shell
    EXPECT_EQ(p.Wait(), 128 + signo) << ReadText(tmp.File("stderr"));
    const auto [said, held] = WavSizes(out);
    EXPECT_GT(held, 0) << "signal " << signo;
    EXPECT_EQ(said, held) << "signal " << signo;
  }
}

TEST_F(PlayctlReliability, AFullDiskUnderTheWavOutputIsToldAndFailsTheRun) {
  // The children may write files of at most 60000 bytes, and get EFBIG beyond.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_IGN);
  rlimit small{60000, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto p = std::make_unique<ChildProcess>(Args(true), tmp.File("stderr"));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);
  const std::vector<std::string> lines = p->ReadToEnd();
  EXPECT_EQ(p->Wait(), 1);
  const auto [said, held] = WavSizes(out);
  EXPECT_EQ(said, held);
  EXPECT_GT(held, 0);
  EXPECT_LE(held, 60000 - 44);
  char seconds[32];
  const long long ms = held / 4 * 1000 / 8000;
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld", ms / 1000, ms % 1000);
  const std::string err = ReadText(tmp.File("stderr"));
  EXPECT_NE(err.find("the played sound was not all written: wav output '" + out + "' failed after " + seconds +
                     " s of sound: File too large"),
            std::string::npos)
      << err;
  for (const std::string& l : lines) EXPECT_EQ(l.find("played sound written to"), std::string::npos) << l;
}

}  // namespace
