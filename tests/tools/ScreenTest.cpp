// End-to-end on a pseudo-terminal: what playctl's status area looks like on a
// screen of a given width (read through a small terminal emulator), where
// the server's diagnostics go, and when the screen ends.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/WavFile.h"
#include "platform/os/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/TerminalScreen.h"

namespace {

constexpr char kWarning[] = "playsrv: warning: test stumble";

// playctl on a pseudo-terminal of `columns` x `rows`, its screen read as it comes.
class OnTerminal {
 public:
  OnTerminal(const std::string& program, const std::vector<std::string>& args, int columns, int rows)
      : process_(program, Options(args, columns, rows)), screen_(columns, rows) {}

  // Reads until `done` holds for the screen (true) or the output ends or 30 s pass (false).
  template <typename Done>
  bool ReadUntil(Done&& done) {
    for (int rounds = 0; rounds < 300; ++rounds) {
      if (done(screen_)) return true;
      std::string bytes;
      if (process_.ReadSome(bytes, 100) == os::Input::End) return done(screen_);
      screen_.Feed(bytes);
    }
    return false;
  }
  bool Shows(const std::string& text) {
    return ReadUntil([&](const testing_support::TerminalScreen& s) {
      const auto rows = s.Rows();
      return std::any_of(rows.begin(), rows.end(), [&](const std::string& r) { return r.find(text) != r.npos; });
    });
  }
  // Reads to the end of the output; the exit status.
  int End() {
    ReadUntil([](const testing_support::TerminalScreen&) { return false; });
    return process_.Wait(30000).value_or(-1);
  }
  os::Process& Process() { return process_; }
  testing_support::TerminalScreen& Screen() { return screen_; }

 private:
  static os::Process::Options Options(const std::vector<std::string>& args, int columns, int rows) {
    os::Process::Options options;
    options.Args = args;
    options.OnTerminal = true;
    options.Columns = columns;
    options.Rows = rows;
    return options;
  }

  os::Process process_;
  testing_support::TerminalScreen screen_;
};

class ScreenTest : public ::testing::Test {
 protected:
  // A mono 16-bit WAV at 8000 Hz of `seconds`, a slow ramp.
  std::string Wave(const std::string& name, double seconds) {
    std::vector<int16_t> samples(static_cast<size_t>(seconds * 8000));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i % 20000);
    audio::WriteWav16(tmp.File(name), 1, 8000, samples);
    return tmp.File(name);
  }
  // playctl beside a stand-in for playsrv: the real server, whose standard
  // error gets a warning when the host turns round.
  std::string PlayctlWithStumblingServer() {
    const std::string bin = tmp.File("bin");
    mkdir(bin.c_str(), 0700);
    testing_support::WriteBytes(bin + "/playctl", testing_support::ReadBytes(PLAY_BINARY_DIR "/playctl"));
    const std::string script = std::string("#!/bin/bash\nwhile IFS= read -r line; do\n  printf '%s\\n' \"$line\"\n") +
                               "  [[ $line == *PlayUTurn* ]] && echo '" + kWarning + "' >&2\ndone | exec " +
                               PLAY_BINARY_DIR "/playsrv \"$@\"\n";
    testing_support::WriteBytes(bin + "/playsrv", std::vector<uint8_t>(script.begin(), script.end()));
    chmod((bin + "/playctl").c_str(), 0700);
    chmod((bin + "/playsrv").c_str(), 0700);
    return bin + "/playctl";
  }

  testing_support::TempDir tmp;
};

// The status area: the rows from the one that shows the position on.
std::vector<std::string> StatusArea(const std::vector<std::string>& rows) {
  const auto first = std::find_if(rows.begin(), rows.end(), [](const std::string& r) { return r.find(" / 0:") != r.npos; });
  std::vector<std::string> area(first, rows.end());
  while (!area.empty() && area.back().empty()) area.pop_back();
  return area;
}

class ScreenWidthTest : public ScreenTest, public ::testing::WithParamInterface<int> {};

// A U-turn after 1 s makes the server warn; the warning stands above the
// area, once, and every row of the area fits the width.
TEST_P(ScreenWidthTest, AServerWarningMidRunPrintsAboveTheStatusAreaWhichStaysWhole) {
  const int columns = GetParam();
  OnTerminal run(PlayctlWithStumblingServer(), {"play", Wave("ramp.wav", 7.5), "--simulate", "--script", "wait 1; u"},
                 columns, 30);
  ASSERT_TRUE(run.Shows("reverse")) << testing::PrintToString(run.Screen().Rows());
  ASSERT_TRUE(run.Shows("0:00.5"));  // the area redrawn since the warning came
  ASSERT_TRUE(run.Process().Send("q"));
  ASSERT_EQ(run.End(), 0);

  const std::vector<std::string> lines = run.Screen().AllLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kWarning), 1) << testing::PrintToString(lines);
  const std::vector<std::string> area = StatusArea(lines);
  ASSERT_GE(area.size(), 3u) << testing::PrintToString(lines);
  const auto warning = std::find(lines.begin(), lines.end(), kWarning);
  EXPECT_LT(warning - lines.begin(), static_cast<long>(lines.size() - area.size())) << "the warning is above the area";
  EXPECT_EQ(area[0].rfind("0:00.", 0), 0u) << area[0];
  std::string all;
  for (const std::string& row : area) {
    EXPECT_LT(row.size(), static_cast<size_t>(columns)) << row;
    EXPECT_EQ(row.find("warning"), std::string::npos) << row;
    all += row + "\n";
  }
  for (const char* field : {" / 0:07.500", "reverse", "stopped", "loop off", "tempo 1.00", "DirectSound", "default output"})
    EXPECT_NE(all.find(field), std::string::npos) << field << " in\n" << all;
  const std::string& overview = area[area.size() - 2];
  EXPECT_EQ(overview.size(), static_cast<size_t>(columns - 1)) << overview;
  EXPECT_EQ(std::count(overview.begin(), overview.end(), '|'), 1) << overview;
  EXPECT_EQ(area.back().rfind("[", 0), 0u) << "the level meter: " << area.back();
}

INSTANTIATE_TEST_SUITE_P(Columns, ScreenWidthTest, ::testing::Values(40, 120),
                         [](const ::testing::TestParamInfo<int>& p) { return std::to_string(p.param) + "Columns"; });

TEST_F(ScreenTest, TheScreenEndsWhenTheWaveHasPlayedToItsEnd) {
  OnTerminal run(PLAY_BINARY_DIR "/playctl", {"play", Wave("short.wav", 0.5), "--simulate"}, 80, 24);
  EXPECT_EQ(run.End(), 0);
  const std::vector<std::string> area = StatusArea(run.Screen().Rows());
  ASSERT_FALSE(area.empty());
  EXPECT_EQ(area[0].rfind("0:00.500 / 0:00.500  forward  at the end", 0), 0u) << area[0];
}

// Keys are read one by one, unechoed, while the screen stands, and the
// terminal is given back as it was.
TEST_F(ScreenTest, KeysSteerTheRunAndTheTerminalIsRestored) {
  OnTerminal run(PLAY_BINARY_DIR "/playctl", {"play", Wave("ramp.wav", 7.5), "--simulate"}, 80, 24);
  ASSERT_TRUE(run.Shows("0:01."));
  const auto raw = run.Process().ChildTerminalMode();
  ASSERT_TRUE(raw.has_value());
  EXPECT_FALSE(raw->EditsLines || raw->Echoes) << "keys are read one by one, not echoed";
  ASSERT_TRUE(run.Process().Send("u"));
  EXPECT_TRUE(run.Shows("reverse  playing")) << testing::PrintToString(run.Screen().Rows());
  ASSERT_TRUE(run.Process().Send("q"));
  EXPECT_EQ(run.End(), 0);
  const auto after = run.Process().ChildTerminalMode();
  ASSERT_TRUE(after.has_value());
  EXPECT_TRUE(after->EditsLines && after->Echoes) << "the terminal is restored";
}

TEST_F(ScreenTest, KeepOpenKeepsTheScreenAfterTheEndUntilQ) {
  OnTerminal run(PLAY_BINARY_DIR "/playctl", {"play", Wave("short.wav", 0.5), "--simulate", "--keep-open"}, 80, 24);
  ASSERT_TRUE(run.Shows("at the end"));
  EXPECT_EQ(run.Process().Wait(1000), std::nullopt) << "still open";
  ASSERT_TRUE(run.Process().Send("q"));
  EXPECT_EQ(run.End(), 0);
}

}  // namespace
