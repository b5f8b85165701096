// playctl's reading of what a person types: keys as a terminal sends them,
// scripts, edit-list pieces, channel picks and output lists.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TempDir.h"
#include "tools/Commands.h"
#include "tools/EditList.h"
#include "tools/TerminalKeys.h"
#include "tools/Transport.h"

namespace playctl {
namespace {

using A = Action;

// Bytes as a terminal sends them, and what they mean: each key alone, keys
// arriving together in their order, a sequence split across reads left
// pending until its end comes, and the time typed after g left for the prompt.
TEST(CommandLineTest, KeysDecodeFromTheBytesATerminalSends) {
  struct Row {
    std::string bytes;
    std::vector<Action> actions;
    std::string left = "";
  };
  const std::vector<Row> rows{
      {" ", {A::Pause}},   {"u", {A::UTurn}},       {"+", {A::Faster}},      {"=", {A::Faster}},
      {"-", {A::Slower}},  {"s", {A::Stop}},        {"l", {A::Loop}},        {"q", {A::Quit}},
      {"\033[D", {A::Back}}, {"\033OD", {A::Back}}, {"\033[C", {A::Forward}}, {"\033OC", {A::Forward}},
      {"\033[H", {A::Home}}, {"\033OH", {A::Home}}, {"\033[1~", {A::Home}},  {"\033[7~", {A::Home}},
      {"\033[F", {A::End}},  {"\033OF", {A::End}},  {"\033[4~", {A::End}},   {"\033[8~", {A::End}},
      {"[", {A::SelectFrom}}, {"]", {A::SelectTo}}, {"x", {A::ClearSelection}}, {"g", {A::GoTo}},
      {",", {A::StepBack}}, {".", {A::StepForward}},
      // keys and sequences that mean nothing are dropped whole (no '[' of theirs selects)
      {"z", {}}, {"\033[Z", {}}, {"\033[1;5A", {}}, {"\033OQ", {}},
      {" u\033[Dz\033[4~q", {A::Pause, A::UTurn, A::Back, A::End, A::Quit}},
      {"u\033[", {A::UTurn}, "\033["},
      {"ug1:02.5\r", {A::UTurn, A::GoTo}, "1:02.5\r"},
  };
  for (const Row& row : rows) {
    std::string pending = row.bytes;
    EXPECT_EQ(DecodeKeys(pending), row.actions) << testing::PrintToString(row.bytes);
    EXPECT_EQ(pending, row.left) << testing::PrintToString(row.bytes);
  }
}

TEST(CommandLineTest, ScriptStepsTakeTheirTimesFromTheWaitsBeforeThem) {
  const auto steps =
      ParseScript(" wait 1.0; u;wait 0.25 ; space; left ;wait 0;right; home; end; l; +; -; s; q; [; ]; x; ,; .; g 1:02.5");
  std::string got;
  for (const ScriptStep& s : steps) got += std::to_string(s.AtMs) + ":" + ActionName(s.What) + " ";
  EXPECT_EQ(got, "1000:u 1250:space 1250:left 1250:right 1250:home 1250:end 1250:l 1250:+ 1250:- 1250:s 1250:q "
                 "1250:[ 1250:] 1250:x 1250:, 1250:. 1250:g ");
  EXPECT_EQ(steps.back().Seconds, 62.5);
}

TEST(CommandLineTest, ATimeReadsAsSecondsOrMinutesAndSeconds) {
  for (const auto& [text, seconds] : std::vector<std::pair<std::string, double>>{
           {"75.5", 75.5}, {" 0 ", 0}, {"1:15.5", 75.5}, {"0:05", 5}, {"10:00", 600}})
    EXPECT_EQ(ParseTime(text), seconds) << text;
  for (const char* bad : {"", "-1", "1:60", "1.5:00", "a", "1:", ":5", "1:2:3"})
    EXPECT_EQ(ParseTime(bad), std::nullopt) << bad;
}

TEST(CommandLineTest, AScriptStepNotUnderstoodIsRefused) {
  for (const char* bad : {"wait", "wait -1", "wait 1s", "jump", "u u", "g", "g soon", "g 1:99"})
    EXPECT_THROW(ParseScript(bad), std::invalid_argument) << bad;
}

TEST(CommandLineTest, APieceReadsAsAFileARangeOfItOrSilence) {
  const auto absolute = [](const std::string& p) { return "/abs/" + p; };
  // The text, then what it reads as: silence, path, from, to, seconds.
  using Read = std::tuple<bool, std::string, double, double, double>;
  for (const auto& [text, read] : std::vector<std::pair<std::string, Read>>{
           {"take.flac", {false, "/abs/take.flac", 0, -1, 0}},
           {"take.flac@1.5-3.0", {false, "/abs/take.flac", 1.5, 3.0, 0}},
           {"a@b.wav@2-", {false, "/abs/a@b.wav", 2, -1, 0}},
           {"x.wav@0.5", {false, "/abs/x.wav", 0.5, -1, 0}},
           {"silence:0.25", {true, "", 0, -1, 0.25}}}) {
    const Piece p = ParsePiece(text, absolute);
    EXPECT_EQ(Read(p.Silence, p.Path, p.From, p.To, p.Seconds), read) << text;
  }
}

TEST(CommandLineTest, APieceWithABadRangeOrSilenceIsRefused) {
  const auto absolute = [](const std::string& p) { return "/abs/" + p; };
  for (const char* bad : {"x.wav@", "x.wav@2-1", "x.wav@-1-2", "x.wav@a-b", "x.wav@1-2-3", "silence:", "silence:0"})
    EXPECT_THROW(ParsePiece(bad, absolute), audio::WavError) << bad;
}

TEST(CommandLineTest, AFileThatCannotBeOpenedIsRefusedWithTheSystemsReason) {
  testing_support::TempDir tmp;
  const std::string path = tmp.File("locked.wav");
  testing_support::WriteSamples(path, std::vector<int16_t>(100, 1));
  testing_support::FaultyFileSystem fs;
  fs.Only = "locked";
  fs.OpenErrno = EACCES;
  const os::FileSystemOverride faulty(fs);
  try {
    EditList({ParsePiece(path, [](const std::string& p) { return p; })}, {});
    FAIL() << "refused";
  } catch (const audio::WavError& e) {
    EXPECT_STREQ(e.what(), (path + ": cannot be read (Permission denied)").c_str());
  }
}

TEST(CommandLineTest, ChannelPicksAreOneOrTwoNumbersFromOne) {
  std::vector<int32_t> channels;
  EXPECT_TRUE(ParseChannels("3", channels));
  EXPECT_EQ(channels, std::vector<int32_t>{3});
  EXPECT_TRUE(ParseChannels("1,2", channels));
  EXPECT_EQ(channels, (std::vector<int32_t>{1, 2}));
  for (const char* bad : {"", "0", "1,", ",2", "1,2,3", "a", "-1", "1;2"})
    EXPECT_FALSE(ParseChannels(bad, channels)) << bad;
}

TEST(CommandLineTest, AWavOutputInAListGetsAnAbsolutePathAndTheOthersStayAsGiven) {
  const std::string cwd = std::filesystem::current_path().string();
  for (const auto& [given, passed] : std::vector<std::pair<std::string, std::string>>{
           {"device,wav:out.wav,null", "device,wav:" + cwd + "/out.wav,null"},
           {"wav:/tmp/a.wav", "wav:/tmp/a.wav"},
           {"device:USB Headset", "device:USB Headset"}})
    EXPECT_EQ(AbsoluteOutput(given), passed) << given;
}

}  // namespace
}  // namespace playctl
