// The Debian package as `make deb` makes it, checked by Debian's own lintian:
// it reports no error (warnings may stand).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

// Runs `program` with `args`; its output lines (standard error joined in).
std::vector<std::string> Output(const std::string& program, const std::vector<std::string>& args, int& status) {
  os::Process::Options options;
  options.Args = args;
  options.NullInput = true;
  testing_support::ChildProcess child(program, options);
  std::vector<std::string> lines = child.ReadToEnd();
  status = child.Wait();
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
