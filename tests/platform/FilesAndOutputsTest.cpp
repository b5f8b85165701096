// The WAV output and the factory of outputs, and the file layer under faults:
// the WAV file's header and frames exactly, what is not a regular file
// refused without waiting, and the WAV output on a full disk keeping a header
// that tells the truth and saying so once on the message box. (Failing and
// short reads are driven through the block engine's suite.)

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "platform/audio/AudioOutputs.h"
#include "platform/audio/WavOutput.h"
#include "platform/os/Clock.h"
#include "platform/os/Errors.h"
#include "platform/os/EventLoop.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "platform/os/MessageBox.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/RecordedWav.h"
#include "tests/support/TestWorld.h"

using ::testing::HasSubstr;
using testing_support::FaultyFileSystem;
using testing_support::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

// The canonical header, its data size `dataBytes`, then the samples.
Bytes ExpectedFile(uint32_t channels, uint32_t rate, uint32_t dataBytes, const std::vector<int16_t>& samples) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
  return testing_support::WavBytes(channels, rate, 16, Bytes(bytes, bytes + 2 * samples.size()), false, dataBytes);
}

TEST(WavOutput, WritesHeaderAndFramesExactlyKeepsTheFirstFormatAndFixesSizesAtStopOrEnd) {
  TempDir dir;
  const std::string path = dir.File("out.wav");
  audio::WavOutput out(path);
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(1, 44100, 0, {}));  // valid and empty before any Start
  out.Start(2, 8000, {});
  const std::vector<int16_t> first{1, -1, 32767, -32768, 0x1234, -2};
  out.Play(first.data(), 3, 0);
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(2, 8000, 0, first));  // before Stop the sizes lag behind
  out.Stop();
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(2, 8000, 12, first));
  EXPECT_FALSE(out.WriteFailed());

  EXPECT_THROW(audio::WavOutput(dir.File("missing-folder/x.wav")), os::FileError);
  audio::WavOutput bad(dir.File("x.wav"));
  EXPECT_THROW(bad.Play(first.data(), 1, 0), std::logic_error);
  EXPECT_THROW(bad.Start(3, 8000, {}), std::invalid_argument);

  // The first format stays, other channel counts are converted, and without
  // a Stop the destructor fixes the sizes.
  {
    audio::WavOutput mixed(dir.File("mixed.wav"));
    mixed.Start(2, 22050, {});
    const std::vector<int16_t> stereo{100, 200};
    mixed.Play(stereo.data(), 1, 0);
    mixed.Stop();
    mixed.Start(1, 11025, {});  // another format: the file stays stereo at 22050
    const std::vector<int16_t> mono{-5, 9};
    mixed.Play(mono.data(), 2, 0);
  }
  EXPECT_EQ(testing_support::ReadBytes(dir.File("mixed.wav")), ExpectedFile(2, 22050, 12, {100, 200, -5, -5, 9, 9}));
  {
    audio::WavOutput down(dir.File("down.wav"));
    down.Start(1, 8000, {});
    down.Start(2, 8000, {});
    const std::vector<int16_t> stereo{100, 201, -32768, -32767, 32767, 32767};
    down.Play(stereo.data(), 3, 0);
  }
  EXPECT_EQ(testing_support::ReadBytes(dir.File("down.wav")), ExpectedFile(1, 8000, 6, {150, -32767, 32767}));
}

// Each kind of output is made by the server and playctl tests end to end.
TEST(AudioOutputs, UnknownOrIncompleteSpecsAreRefused) {
  os::ManualClock clock;
  os::EventLoop loop(clock);
  auto make = [&](const std::string& spec) { return audio::MakeAudioOutput(spec, loop); };
  for (const char* bad : {"wav:", "", "device:", "null,", "device:oss", "device:pulse:", "null,system:playback_2"})
    EXPECT_THROW(make(bad), std::invalid_argument) << bad;
  // A JACK port pair goes with its device, whatever follows; nothing opens yet.
  EXPECT_NO_THROW(make("device:jack:system:playback_1,system:playback_2,null"));
  EXPECT_THAT([&] { make("speakers"); }, ::testing::ThrowsMessage<std::invalid_argument>(
                                             ::testing::AllOf(HasSubstr("'speakers'"), HasSubstr("wav:PATH"))));
}

// Runs `open` on a FIFO that nobody has open. An open that waits for the
// other end is released after 5 s (by opening that end) and fails the test.
std::string ErrorOpeningFifo(const std::string& fifo, const std::function<void()>& open) {
  auto pending = std::async(std::launch::async, [&]() -> std::string {
    try {
      open();
      return "opened";
    } catch (const os::FileError& e) {
      return e.what();
    }
  });
  if (pending.wait_for(std::chrono::seconds(5)) != std::future_status::timeout) return pending.get();
  ADD_FAILURE() << "opening the FIFO waited for its other end";
  const int w = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  std::string result = pending.get();
  if (w >= 0) ::close(w);
  return result;
}

TEST(FileLayer, AFifoIsRefusedAsNotARegularFileWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  char byte = 0;
  os::ManualClock clock;
  os::EventLoop loop(clock);
  const std::vector<std::pair<const char*, std::function<void()>>> opens{
      {"ReadOnlyFile::Open", [&] { os::ReadOnlyFile::Open(fifo); }},
      {"files::ReadAt", [&] { os::files::ReadAt(fifo, &byte, 1, 0); }},
      {"files::WriteAt", [&] { os::files::WriteAt(fifo, &byte, 1, 0, false); }},
      {"wav output", [&] { audio::MakeAudioOutput("wav:" + fifo, loop); }},
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
  os::MessageBox box;
  box.SetQuiet(true);
  os::ManualClock clock;
  os::EventLoop loop(clock);
  FaultyFileSystem fs;
  os::FileSystemOverride use(fs);
  fs.Only = "out.wav";
  fs.DiskBytes = 44 + 1000;  // the header, then 250 stereo frames and a half
  {
    auto out = audio::MakeAudioOutput("wav:" + path, loop, {}, &box);
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
