// End-to-end: the command-line host, which starts playsrv beside it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/ChildProcess.h"
#include "tests/server/WavTestFiles.h"
#include "tests/support/TestWorld.h"

using testing_support::ChildProcess;
using testing_support::WavFormat;

namespace {

struct CtlRun {
  int Status;
  std::vector<std::string> Out;
  std::string Err;
};

CtlRun Playctl(std::vector<std::string> args) {
  args.insert(args.begin(), PLAY_BINARY_DIR "/playctl");
  ChildProcess p(args, /*captureStderr=*/true);
  p.CloseInput();
  CtlRun r{0, p.ReadToEnd(), ""};
  r.Status = p.Wait();
  r.Err = p.Stderr();
  return r;
}

bool HasLine(const CtlRun& r, const std::string& text) {
  for (const auto& l : r.Out)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

class PlayctlTest : public ::testing::Test {
 protected:
  testing_support::TempDir tmp;
  std::string out = tmp.File("played.wav");
};

TEST_F(PlayctlTest, RefusesWhatItCannotPlayWithAClearMessage) {
  const std::vector<uint8_t> data(600, 1);
  struct Case {
    WavFormat Format;
    const char* Message;
  };
  const std::vector<Case> cases{
      {{1, 2, 44100, 24, false}, "24-bit samples are not supported; only 8 or 16 bits"},
      {{3, 1, 44100, 32, false}, "not PCM (format tag 3); only plain PCM (format tag 1) can be played"},
      {{0xFFFE, 2, 44100, 16, false}, "WAVE_FORMAT_EXTENSIBLE is not supported"},
      {{1, 3, 44100, 16, true}, "3 channels are not supported; only mono or stereo"},
  };
  for (const Case& c : cases) {
    const std::string path = tmp.File("refused.wav");
    testing_support::WriteWav(path, c.Format, data);
    const CtlRun r = Playctl({"play", path, "--simulate"});
    EXPECT_EQ(r.Status, 2) << c.Message;
    EXPECT_NE(r.Err.find(path + ": " + c.Message), std::string::npos) << r.Err;
    EXPECT_FALSE(HasLine(r, "engine:")) << "no server was started for " << c.Message;
  }
  // A loop longer than the tool can count in milliseconds is refused up front.
  const std::string ok = tmp.File("ok.wav");
  testing_support::WriteWav(ok, {1, 1, 8000, 8, false}, data);
  const CtlRun tooLong = Playctl({"play", ok, "--loop", "--seconds", "3000000", "--simulate"});
  EXPECT_NE(tooLong.Status, 0);
  EXPECT_NE(tooLong.Err.find("--seconds"), std::string::npos) << tooLong.Err;
  EXPECT_FALSE(HasLine(tooLong, "engine:"));

  const std::string text = tmp.File("notes.txt");
  testing_support::WriteBytes(text, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'});
  const CtlRun r = Playctl({"play", text, "--simulate"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("not a RIFF/WAVE file"), std::string::npos) << r.Err;
}

TEST_F(PlayctlTest, PlaysAnEightBitMonoFileInPlaceAcrossTwoBlocks) {
  constexpr int32_t kFrames = 1048576 + 4410;  // one full block and a short one
  std::vector<uint8_t> bytes(kFrames);
  for (int32_t i = 0; i < kFrames; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 11 + i / 1000) % 256);
  const std::string wav = tmp.File("eight.wav");
  testing_support::WriteWav(wav, {1, 1, 44100, 8, true}, bytes);

  const CtlRun r = Playctl({"play", wav, "--simulate", "--output", "wav:" + out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(HasLine(r, "MsgBoxOb  S2  Play Done"));
  ASSERT_FALSE(r.Out.empty());
  EXPECT_EQ(r.Out.back(), "played sound written to " + out);

  const auto played = testing_support::ReadRecordedWav(out);
  EXPECT_EQ(played.Channels, 1);
  ASSERT_GE(played.Samples.size(), bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i)
    ASSERT_EQ(played.Samples[i], (bytes[i] - 128) * 256) << "sample " << i + 1;
  for (size_t i = bytes.size(); i < played.Samples.size(); ++i) ASSERT_EQ(played.Samples[i], 0) << i;
}

TEST_F(PlayctlTest, PlaysStereoBackwardsFromAPosition) {
  constexpr int32_t kFrames = 8000;
  std::vector<int16_t> samples;
  for (int32_t i = 0; i < kFrames; ++i) {
    samples.push_back(static_cast<int16_t>(i));
    samples.push_back(static_cast<int16_t>(-i));
  }
  const std::string wav = tmp.File("stereo.wav");
  testing_support::WriteWav(wav, {1, 2, 8000, 16, false}, testing_support::SamplesToBytes(samples));

  const CtlRun r = Playctl({"play", wav, "--reverse", "--from", "0.5", "--simulate", "--output", "wav:" + out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  // Position 4001 (0.5 s in) down to position 1: frames 4000 .. 0 of the file.
  const auto played = testing_support::ReadRecordedWav(out);
  ASSERT_GE(played.Samples.size(), 2u * 4001);
  for (int32_t k = 0; k <= 4000; ++k) {
    ASSERT_EQ(played.Samples[2 * static_cast<size_t>(k)], 4000 - k) << k;
    ASSERT_EQ(played.Samples[2 * static_cast<size_t>(k) + 1], k - 4000) << k;
  }
}

TEST_F(PlayctlTest, DemoTurnsRoundAfterOneSecondAndEndsAtTheStart) {
  const CtlRun r = Playctl({"demo", "--simulate", "--output", "wav:" + out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(HasLine(r, "-- U-turn at position 44100"));
  EXPECT_TRUE(HasLine(r, "MsgBoxOb  S2  Play Done"));
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
