// The file layer under faults: what is not a regular file is refused without
// waiting, and the WAV output on a full disk keeps a header that tells the
// truth and says so once on the message box. (Failing and short reads are
// driven through the block engine's suite.)

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <vector>

#include "platform/AudioOutputs.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/WavOutput.h"
#include "platform/FaultyFileSystem.h"
#include "tests/support/TestWorld.h"

using ::testing::HasSubstr;
using platform::FaultyFileSystem;
using testing_support::TempDir;

namespace {

// Runs `open` on a FIFO that nobody has open. An open that waits for the
// other end is released after 5 s (by opening that end) and fails the test.
std::string ErrorOpeningFifo(const std::string& fifo, const std::function<void()>& open) {
  auto pending = std::async(std::launch::async, [&]() -> std::string {
    try {
      open();
      return "opened";
    } catch (const platform::FileError& e) {
      return e.what();
    }
  });
  if (pending.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
    ADD_FAILURE() << "opening the FIFO waited for its other end";
    const int w = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    std::string result = pending.get();
    if (w >= 0) ::close(w);
    return result;
  }
  return pending.get();
}

TEST(FileLayer, AFifoIsRefusedAsNotARegularFileWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  char byte = 0;
  platform::ManualClock clock;
  platform::EventLoop loop(clock);
  const std::vector<std::pair<const char*, std::function<void()>>> opens{
      {"ReadOnlyFile::Open", [&] { platform::ReadOnlyFile::Open(fifo); }},
      {"files::ReadAt", [&] { platform::files::ReadAt(fifo, &byte, 1, 0); }},
      {"files::WriteAt", [&] { platform::files::WriteAt(fifo, &byte, 1, 0, false); }},
      {"wav output", [&] { platform::MakeAudioOutput("wav:" + fifo, loop); }},
  };
  for (const auto& [name, open] : opens) {
    EXPECT_THAT(ErrorOpeningFifo(fifo, open), ::testing::AllOf(HasSubstr(fifo), HasSubstr("not a regular file")))
        << name;
  }
}

TEST(FileLayer, WavOutputOnAFullDiskKeepsAHeaderThatMatchesTheFileAndSaysSoOnce) {
  TempDir dir;
  const std::string path = dir.File("out.wav");
  // The RIFF and data sizes in the header, and the file's length.
  const auto sizes = [&] {
    const std::vector<uint8_t> f = testing_support::ReadBytes(path);
    const auto u32 = [&](size_t at) { return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | int64_t{f[at + 3]} << 24; };
    return std::vector<int64_t>{u32(4), u32(40), static_cast<int64_t>(f.size())};
  };
  const std::vector<int64_t> expected{36 + 800, 800, 44 + 800};  // two whole writes, the third cut off
  platform::MessageBox box;
  box.SetQuiet(true);
  platform::ManualClock clock;
  platform::EventLoop loop(clock);
  FaultyFileSystem fs;
  platform::FileSystemOverride use(fs);
  fs.Only = "out.wav";
  fs.DiskBytes = 44 + 1000;  // the header, then 250 stereo frames and a half
  {
    auto out = platform::MakeAudioOutput("wav:" + path, loop, {}, &box);
    out->Start(2, 8000, {});
    const std::vector<int16_t> frames(2 * 100, 3);
    for (int i = 0; i < 5; ++i) out->Play(frames.data(), 100, i * 12500);  // the third write crosses the limit
    out->Stop();
    out->Start(2, 8000, {});
    out->Play(frames.data(), 100, 62500);
    EXPECT_EQ(sizes(), expected) << "while the output is still open";
  }
  EXPECT_EQ(sizes(), expected);
  ASSERT_EQ(box.Count(), 1u);
  EXPECT_THAT(box.Shown()[0], ::testing::AllOf(HasSubstr(path), HasSubstr("No space left on device"),
                                               HasSubstr("after 0.025 s")));
  EXPECT_EQ(fs.OpenCount(), 0);
}

}  // namespace
