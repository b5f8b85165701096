// The logger: one prefix and level per line, the level filter, the thread's
// name, and writing that never waits for a reader.

#include "platform/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Errors.h"
#include "tests/support/TestWorld.h"

namespace {

std::string Drain(int fd) {
  std::string all;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

TEST(Logger, WritesOneLinePerCallFilteredByLevelWithTheThreadNamed) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
  platform::Logger log("playsrv", p[1]);
  log.SetLevel(platform::LogLevel::Warning);
  log.Write(platform::LogLevel::Error, "the output is gone");
  log.Write(platform::LogLevel::Info, "not shown");
  std::thread([&] {
    platform::Logger::SetThreadName("audio");
    log.Write(platform::LogLevel::Warning, "late by 3 ms");
  }).join();
  log.Write(platform::LogLevel::Warning, std::string(10000, 'x'));
  const std::string got = Drain(p[0]);
  const std::string expected = "playsrv: error: the output is gone\nplaysrv: warning: [audio] late by 3 ms\n";
  EXPECT_EQ(got.substr(0, expected.size()), expected);
  EXPECT_EQ(got.size(), expected.size() + platform::Logger::kMaxLineBytes) << "an overlong line is cut, one line still";
  EXPECT_EQ(got.back(), '\n');
  EXPECT_EQ(platform::ParseLogLevel("debug"), platform::LogLevel::Debug);
  EXPECT_THROW(platform::ParseLogLevel("loud"), std::invalid_argument);
  close(p[0]);
  close(p[1]);
}

TEST(Logger, APipeNobodyReadsNeverBlocksTheWriterAndTheDropsAreToldOnceItDrains) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);  // a blocking pipe, as a host's stderr is
  platform::Logger log("playsrv", p[1]);
  const std::string line(100, 'd');
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5000; ++i) log.Write(platform::LogLevel::Error, line);  // far more than a pipe holds
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "the writer waited";
  const uint64_t dropped = log.Dropped();
  EXPECT_GT(dropped, 0u);
  fcntl(p[0], F_SETFL, O_NONBLOCK);
  const std::string first = Drain(p[0]);
  EXPECT_EQ(first.size() % (line.size() + 17), 0u) << "only whole lines reach the pipe";
  EXPECT_EQ(first.size() / (line.size() + 17), 5000 - dropped);
  log.Write(platform::LogLevel::Info, "back");
  EXPECT_EQ(Drain(p[0]), "playsrv: warning: " + std::to_string(dropped) +
                             " diagnostic lines were dropped because the error output was full\nplaysrv: info: back\n");
  close(p[0]);
  close(p[1]);
}

TEST(Logger, ALogFileMustBeARegularFile) {
  testing_support::TempDir dir;
  platform::Logger log("playsrv", -1);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_THROW(log.ToFile(dir.File("fifo")), platform::FileError);
  EXPECT_THROW(log.ToFile(dir.File("no/such/folder")), platform::FileError);
  log.ToFile(dir.File("log"));
  log.Write(platform::LogLevel::Error, "one");
  log.ToFile(dir.File("log"));
  log.Write(platform::LogLevel::Error, "two");
  std::string text(100, '\0');
  const int fd = open(dir.File("log").c_str(), O_RDONLY);
  text.resize(static_cast<size_t>(read(fd, text.data(), text.size())));
  close(fd);
  EXPECT_EQ(text, "playsrv: error: one\nplaysrv: error: two\n") << "appended, not overwritten";
}

}  // namespace
