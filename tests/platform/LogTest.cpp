// The logger: one prefix and level per line, the level filter, the thread's
// name, whole lines only, a log file that must be a regular file.

#include "platform/os/Log.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/os/Errors.h"
#include "tests/support/TestWorld.h"

namespace {

std::string Drain(int fd) {
  std::string all;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

TEST(Logger, LinesCarryPrefixLevelAndThreadAndAreFilteredCutAndAppended) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
  os::Logger log("playsrv", p[1]);
  log.SetLevel(os::LogLevel::Warning);
  log.Write(os::LogLevel::Error, "the output is gone");
  log.Write(os::LogLevel::Info, "not shown");
  std::thread([&] {
    os::Logger::SetThreadName("audio");
    log.Write(os::LogLevel::Warning, "late by 3 ms");
  }).join();
  log.Write(os::LogLevel::Warning, std::string(10000, 'x'));
  const std::string got = Drain(p[0]);
  const std::string expected = "playsrv: error: the output is gone\nplaysrv: warning: [audio] late by 3 ms\n";
  EXPECT_EQ(got.substr(0, expected.size()), expected);
  EXPECT_EQ(got.size(), expected.size() + os::Logger::kMaxLineBytes) << "an overlong line is cut, one line still";
  EXPECT_THROW(os::ParseLogLevel("loud"), std::invalid_argument);
  close(p[0]);
  close(p[1]);

  testing_support::TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_THROW(log.ToFile(dir.File("fifo")), os::FileError);
  log.ToFile(dir.File("log"));
  log.Write(os::LogLevel::Error, "one");
  log.ToFile(dir.File("log"));
  log.Write(os::LogLevel::Error, "two");
  const std::vector<uint8_t> text = testing_support::ReadBytes(dir.File("log"));
  EXPECT_EQ(std::string(text.begin(), text.end()), "playsrv: error: one\nplaysrv: error: two\n") << "appended";
}

}  // namespace
