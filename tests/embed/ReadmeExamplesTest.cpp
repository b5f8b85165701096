// The README's three examples (written out and built by the build, run here
// as a user would, in simulate mode into a WAV file): every report printed,
// and every frame played: a second forward, the way back, then silence.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EmbedTestPaths.h"
#include "tests/embed/EmbedFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordedWav.h"

namespace {

constexpr int32_t kRate = 8000;

// How each example is started: a program and the arguments before its own.
std::pair<std::string, std::vector<std::string>> Command(const std::string& example) {
  if (example == "python") {
    std::vector<std::string> args{PLAY_PYTHON_ENV};
    args.push_back(PLAY_PYTHON);
    args.push_back(PLAY_EXAMPLES_DIR "/example.py");
    return {"/usr/bin/env", args};
  }
  return {PLAY_EXAMPLES_DIR "/example_" + example, {}};
}

class ReadmeExamplesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ReadmeExamplesTest, PlaysForwardTurnsRoundPlaysBackAndPrintsEveryReport) {
  testing_support::TempDir tmp;
  const std::vector<int16_t> wave = testing_support::TestWaveSamples(2 * kRate);
  audio::WriteWav16(tmp.File("take.wav"), 2, kRate, wave);
  auto [program, args] = Command(GetParam());
  for (const std::string& a : {tmp.File("take.wav"), "wav:" + tmp.File("out.wav"), std::string("simulate")})
    args.push_back(a);
  testing_support::ChildProcess example(program, args);
  EXPECT_EQ(example.ReadToEnd(), (std::vector<std::string>{"S2: Writing to Play Buffer", "S2: Stopped", "S2: Done",
                                                           "S2: Playing", "S2: Playing", "S2: Play Done", "S2: Stopped",
                                                           "S2: Driver is Off"}));
  EXPECT_EQ(example.Wait(), 0);
  // Frames 1 to 8000 forward, then 8000 back to 1, then silence.
  std::vector<int16_t> heard(wave.begin(), wave.begin() + 2 * kRate);
  for (int32_t frame = kRate - 1; frame >= 0; --frame) {
    heard.push_back(wave[2 * static_cast<size_t>(frame)]);
    heard.push_back(wave[2 * static_cast<size_t>(frame) + 1]);
  }
  const std::vector<int16_t> played = testing_support::ReadRecordedWav(tmp.File("out.wav")).Samples;
  ASSERT_GE(played.size(), heard.size());
  heard.resize(played.size(), 0);
  EXPECT_EQ(played, heard);
}

INSTANTIATE_TEST_SUITE_P(Languages, ReadmeExamplesTest, ::testing::Values("c", "cpp", "python"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
