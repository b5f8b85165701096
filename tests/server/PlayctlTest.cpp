// End-to-end: the command-line host, which starts playsrv beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/server/ChildProcess.h"
#include "tests/server/WavTestFiles.h"
#include "tests/support/TestWorld.h"

using testing_support::WavFormat;

namespace {

class PlayctlTest : public ::testing::Test {
 protected:
  struct Run {
    int Status;
    std::vector<std::string> Out;
    std::string Err;
    bool Has(const std::string& text) const {
      return std::any_of(Out.begin(), Out.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
    }
  };
  Run Playctl(std::vector<std::string> args) {
    args.insert(args.begin(), PLAY_BINARY_DIR "/playctl");
    testing_support::ChildProcess p(args, tmp.File("stderr"));
    p.CloseInput();
    Run r{0, p.ReadToEnd(), ""};
    r.Status = p.Wait();
    std::ifstream err(tmp.File("stderr"));
    r.Err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return r;
  }

  testing_support::TempDir tmp;
  std::string out = tmp.File("played.wav");
};

TEST_F(PlayctlTest, RefusesWhatItCannotPlayWithAClearMessage) {
  const std::vector<uint8_t> data(600, 1);
  const std::vector<std::pair<WavFormat, std::string>> cases{
      {{1, 2, 44100, 24, false}, "24-bit samples are not supported; only 8 or 16 bits"},
      {{3, 1, 44100, 32, false}, "not PCM (format tag 3); only plain PCM (format tag 1) can be played"},
      {{0xFFFE, 2, 44100, 16, false}, "WAVE_FORMAT_EXTENSIBLE is not supported"},
      {{1, 3, 44100, 16, true}, "3 channels are not supported; only mono or stereo"},
  };
  const std::string path = tmp.File("refused.wav");
  for (const auto& [format, message] : cases) {
    testing_support::WriteWav(path, format, data);
    const Run r = Playctl({"play", path, "--simulate"});
    EXPECT_EQ(r.Status, 2) << message;
    EXPECT_NE(r.Err.find(path + ": " + message), std::string::npos) << r.Err;
    EXPECT_FALSE(r.Has("engine:")) << "no server was started for " << message;
  }
  testing_support::WriteBytes(path, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'});
  Run r = Playctl({"play", path, "--simulate"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("not a RIFF/WAVE file"), std::string::npos) << r.Err;
  // A loop longer than the tool can count in milliseconds is refused up front.
  testing_support::WriteWav(path, {1, 1, 8000, 8, false}, data);
  r = Playctl({"play", path, "--loop", "--seconds", "3000000", "--simulate"});
  EXPECT_NE(r.Status, 0);
  EXPECT_NE(r.Err.find("--seconds"), std::string::npos) << r.Err;
  EXPECT_FALSE(r.Has("engine:"));
}

TEST_F(PlayctlTest, PlaysAnEightBitFileInPlaceBackwardsAcrossItsTwoBlocks) {
  constexpr int32_t kFrames = 1048576 + 4410;  // one full block and a short one
  std::vector<uint8_t> bytes(kFrames);
  for (int32_t i = 0; i < kFrames; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 11 + i / 1000) % 256);
  const std::string wav = tmp.File("eight.wav");
  testing_support::WriteWav(wav, {1, 1, 8000, 8, true}, bytes);

  // 131.5 s in is frame 1052000, in the second block; from there back to frame 0.
  const Run r = Playctl({"play", wav, "--reverse", "--from", "131.5", "--simulate", "--output", "wav:" + out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Has("MsgBoxOb  S2  Play Done"));
  ASSERT_FALSE(r.Out.empty());
  EXPECT_EQ(r.Out.back(), "played sound written to " + out);
  const auto played = testing_support::ReadRecordedWav(out);
  EXPECT_EQ(played.Channels, 1);
  ASSERT_GE(played.Samples.size(), 1052001u);
  for (size_t k = 0; k <= 1052000; ++k) ASSERT_EQ(played.Samples[k], (bytes[1052000 - k] - 128) * 256) << k;
  for (size_t k = 1052001; k < played.Samples.size(); ++k) ASSERT_EQ(played.Samples[k], 0) << k;
}

TEST_F(PlayctlTest, DemoTurnsRoundAfterOneSecondAndEndsAtTheStart) {
  const Run r = Playctl({"demo", "--simulate", "--output", "wav:" + out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Has("-- U-turn at position 44100"));
  EXPECT_TRUE(r.Has("MsgBoxOb  S2  Play Done"));
  ASSERT_FALSE(r.Out.empty());
  EXPECT_EQ(r.Out.back(), "played sound written to " + out);
  // One second forwards, then the same frames backwards: a mirror round 44100.
  const auto played = testing_support::ReadRecordedWav(out);
  ASSERT_GE(played.Samples.size(), 2u * 88200);
  bool sound = false;
  for (size_t k = 0; k < 44100; ++k) {
    sound = sound || played.Samples[2 * k] != 0;
    ASSERT_EQ(played.Samples[2 * (44100 + k)], played.Samples[2 * (44099 - k)]) << k;
    ASSERT_EQ(played.Samples[2 * (44100 + k) + 1], played.Samples[2 * (44099 - k) + 1]) << k;
  }
  EXPECT_TRUE(sound);
}

}  // namespace
