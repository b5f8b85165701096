#include "platform/AudioOutputs.h"
#include "platform/FanOutput.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/NullOutput.h"
#include "platform/VirtualOutput.h"
#include "platform/WavOutput.h"
#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& v, uint32_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
// Byte by byte: a ranged insert of the four bytes makes GCC 12 at -O2 warn
// (-Wstringop-overflow) about a write it misreads.
void PutTag(Bytes& v, const char* tag) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(tag[i]));
}

// The canonical header written out field by field, then the samples.
Bytes ExpectedFile(uint32_t channels, uint32_t rate, uint32_t dataBytes, const std::vector<int16_t>& samples) {
  Bytes h;
  PutTag(h, "RIFF");
  Put(h, 36 + dataBytes, 4);
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  for (auto [x, n] : {std::pair<uint32_t, int>{16, 4}, {1, 2}, {channels, 2}, {rate, 4}, {rate * channels * 2, 4},
                      {channels * 2, 2}, {16, 2}})
    Put(h, x, n);
  PutTag(h, "data");
  Put(h, dataBytes, 4);
  for (int16_t s : samples) Put(h, static_cast<uint16_t>(s), 2);
  return h;
}

TEST(WavOutput, WritesHeaderAndFramesExactlyKeepsTheFirstFormatAndFixesSizesAtStopOrEnd) {
  testing_support::TempDir dir;
  const std::string path = dir.File("out.wav");
  platform::WavOutput out(path);
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(1, 44100, 0, {}));  // valid and empty before any Start
  out.Start(2, 8000, {});
  const std::vector<int16_t> first{1, -1, 32767, -32768, 0x1234, -2};
  out.Play(first.data(), 3, 0);
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(2, 8000, 0, first));  // before Stop the sizes lag behind
  out.Stop();
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(2, 8000, 12, first));
  const std::vector<int16_t> second{7, 8};
  out.Start(2, 8000, {});
  out.Play(second.data(), 1, 5000);
  out.Stop();
  EXPECT_EQ(testing_support::ReadBytes(path), ExpectedFile(2, 8000, 16, {1, -1, 32767, -32768, 0x1234, -2, 7, 8}));
  EXPECT_FALSE(out.WriteFailed());

  EXPECT_THROW(platform::WavOutput(dir.File("missing-folder/x.wav")), platform::FileError);
  platform::WavOutput bad(dir.File("x.wav"));
  EXPECT_THROW(bad.Play(first.data(), 1, 0), std::logic_error);
  EXPECT_THROW(bad.Start(3, 8000, {}), std::invalid_argument);
  EXPECT_THROW(bad.Start(1, 0, {}), std::invalid_argument);

  // The first format stays, other channel counts are converted, and without
  // a Stop the destructor fixes the sizes.
  {
    platform::WavOutput mixed(dir.File("mixed.wav"));
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
    platform::WavOutput down(dir.File("down.wav"));
    down.Start(1, 8000, {});
    down.Start(2, 8000, {});
    const std::vector<int16_t> stereo{100, 201, -32768, -32767, 32767, 32767};
    down.Play(stereo.data(), 3, 0);
  }
  EXPECT_EQ(testing_support::ReadBytes(dir.File("down.wav")), ExpectedFile(1, 8000, 6, {150, -32767, 32767}));
}

TEST(AudioOutputs, MakesEachKindAndRefusesUnknownSpecs) {
  platform::ManualClock clock;
  platform::EventLoop loop(clock);
  auto make = [&](const std::string& spec) { return platform::MakeAudioOutput(spec, loop); };
  EXPECT_NE(dynamic_cast<platform::VirtualOutput*>(make("virtual").get()), nullptr);
  EXPECT_NE(dynamic_cast<platform::NullOutput*>(make("null").get()), nullptr);
  EXPECT_NE(dynamic_cast<platform::FanOutput*>(make("null,virtual").get()), nullptr);
  for (const char* bad : {"wav:", "", "device:", "null,"}) EXPECT_THROW(make(bad), std::invalid_argument) << bad;
  using ::testing::HasSubstr;
  EXPECT_THAT([&] { make("speakers"); }, ::testing::ThrowsMessage<std::invalid_argument>(
                                             ::testing::AllOf(HasSubstr("'speakers'"), HasSubstr("wav:PATH"))));
}

}  // namespace
