// The Debian package as `make deb` makes it, checked by Debian's own lintian:
// it reports no error (warnings may stand).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/os/Process.h"
#include "tests/support/TempDir.h"

namespace {

// Packing and checking take long on a busy machine: a generous limit.
constexpr int kLimitMs = 600000;

// Runs `program` with `args`; its output lines, and its exit status (-1 when
// it did not end within the limit).
std::vector<std::string> Output(const std::string& program, const std::vector<std::string>& args, int& status) {
  os::Process::Options options;
  options.Args = args;
  options.NullInput = true;
  os::Process child(program, options);
  std::vector<std::string> lines;
  for (std::string line; child.ReadLine(line, kLimitMs) == os::Input::Data;) lines.push_back(line);
  status = child.Wait(kLimitMs).value_or(-1);
  return lines;
}

TEST(PackageTest, LintianFindsNoErrorInTheDebianPackage) {
  testing_support::TempDir tmp;
  int status = -1;
  const std::vector<std::string> packed =
      Output(PLAY_CPACK, {"-G", "DEB", "-B", tmp.Path(), "--config", PLAY_BINARY_DIR "/CPackConfig.cmake"}, status);
  ASSERT_EQ(status, 0) << testing::PrintToString(packed);
  std::string deb;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.Path()))
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  ASSERT_FALSE(deb.empty()) << testing::PrintToString(packed);
  const std::vector<std::string> report = Output("/usr/bin/lintian", {"--fail-on", "error", deb}, status);
  std::vector<std::string> errors;
  for (const std::string& line : report)
    if (line.rfind("E: ", 0) == 0) errors.push_back(line);
  EXPECT_EQ(errors, std::vector<std::string>{});
  EXPECT_EQ(status, 0) << testing::PrintToString(report);
}

}  // namespace
