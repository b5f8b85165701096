#include "platform/AudioOutputs.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/NullOutput.h"
#include "platform/VirtualOutput.h"
#include "platform/WavOutput.h"

namespace {

class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = "/tmp/wavout-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void AppendU16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

void AppendU32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void AppendTag(std::vector<uint8_t>& v, const char* tag) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(tag[i]));
}

// The canonical header, written out field by field.
std::vector<uint8_t> ExpectedHeader(uint32_t channels, uint32_t rate, uint32_t dataBytes) {
  std::vector<uint8_t> h;
  AppendTag(h, "RIFF");
  AppendU32(h, 36 + dataBytes);
  AppendTag(h, "WAVE");
  AppendTag(h, "fmt ");
  AppendU32(h, 16);
  AppendU16(h, 1);
  AppendU16(h, channels);
  AppendU32(h, rate);
  AppendU32(h, rate * channels * 2);
  AppendU16(h, channels * 2);
  AppendU16(h, 16);
  AppendTag(h, "data");
  AppendU32(h, dataBytes);
  return h;
}

void AppendSamples(std::vector<uint8_t>& v, const std::vector<int16_t>& s) {
  for (int16_t x : s) AppendU16(v, static_cast<uint16_t>(x));
}

TEST(WavOutput, WritesHeaderAndFramesExactlyAndFixesSizesAtStop) {
  TempFolder dir;
  const std::string path = dir.File("out.wav");
  platform::WavOutput out(path);
  EXPECT_EQ(ReadAll(path), ExpectedHeader(1, 44100, 0));  // valid and empty before any Start

  out.Start(2, 8000);
  const std::vector<int16_t> first{1, -1, 32767, -32768, 0x1234, -2};
  out.Play(first.data(), 3, 0);
  // Before Stop the sizes lag behind the data.
  std::vector<uint8_t> expected = ExpectedHeader(2, 8000, 0);
  AppendSamples(expected, first);
  EXPECT_EQ(ReadAll(path), expected);

  out.Stop();
  expected = ExpectedHeader(2, 8000, 12);
  AppendSamples(expected, first);
  EXPECT_EQ(ReadAll(path), expected);

  const std::vector<int16_t> second{7, 8};
  out.Start(2, 8000);
  out.Play(second.data(), 1, 5000);
  out.Stop();
  expected = ExpectedHeader(2, 8000, 16);
  AppendSamples(expected, first);
  AppendSamples(expected, second);
  EXPECT_EQ(ReadAll(path), expected);
  EXPECT_EQ(out.DataBytes(), 16);
  EXPECT_FALSE(out.Failed());
}

TEST(WavOutput, KeepsTheFirstFormatConvertingChannelsAndFixesTheHeaderAtDestruction) {
  TempFolder dir;
  const std::string path = dir.File("mixed.wav");
  {
    platform::WavOutput out(path);
    out.Start(2, 22050);
    const std::vector<int16_t> stereo{100, 200};
    out.Play(stereo.data(), 1, 0);
    out.Stop();
    out.Start(1, 11025);  // another format: the file stays stereo at 22050
    const std::vector<int16_t> mono{-5, 9};
    out.Play(mono.data(), 2, 0);
  }  // no Stop: the destructor fixes the sizes
  std::vector<uint8_t> expected = ExpectedHeader(2, 22050, 12);
  AppendSamples(expected, {100, 200, -5, -5, 9, 9});
  EXPECT_EQ(ReadAll(path), expected);

  const std::string path2 = dir.File("down.wav");
  {
    platform::WavOutput out(path2);
    out.Start(1, 8000);
    out.Start(2, 8000);
    const std::vector<int16_t> stereo{100, 201, -32768, -32767, 32767, 32767};
    out.Play(stereo.data(), 3, 0);
  }
  expected = ExpectedHeader(1, 8000, 6);
  AppendSamples(expected, {150, -32767, 32767});
  EXPECT_EQ(ReadAll(path2), expected);
}

TEST(WavOutput, RefusesBadUseWithClearErrors) {
  TempFolder dir;
  EXPECT_THROW(platform::WavOutput(dir.File("missing-folder/x.wav")), platform::FileError);
  platform::WavOutput out(dir.File("x.wav"));
  const int16_t s[2] = {1, 2};
  EXPECT_THROW(out.Play(s, 1, 0), std::logic_error);
  EXPECT_THROW(out.Start(3, 8000), std::invalid_argument);
  EXPECT_THROW(out.Start(1, 0), std::invalid_argument);
}

TEST(AudioOutputs, MakesEachKindAndRefusesUnknownSpecs) {
  TempFolder dir;
  EXPECT_NE(dynamic_cast<platform::VirtualOutput*>(platform::MakeAudioOutput("virtual").get()), nullptr);
  auto null = platform::MakeAudioOutput("null");
  auto* nullOut = dynamic_cast<platform::NullOutput*>(null.get());
  ASSERT_NE(nullOut, nullptr);
  const int16_t frames[4] = {1, 2, 3, 4};
  nullOut->Start(2, 44100);
  nullOut->Play(frames, 2, 0);
  nullOut->Stop();
  EXPECT_EQ(nullOut->FramesPlayed(), 2);
  EXPECT_TRUE(nullOut->Available());

  const std::string path = dir.File("made.wav");
  auto wav = platform::MakeAudioOutput("wav:" + path);
  auto* wavOut = dynamic_cast<platform::WavOutput*>(wav.get());
  ASSERT_NE(wavOut, nullptr);
  EXPECT_EQ(wavOut->Path(), path);
  EXPECT_TRUE(std::filesystem::exists(path));

  EXPECT_THROW(platform::MakeAudioOutput("wav:"), std::invalid_argument);
  EXPECT_THROW(platform::MakeAudioOutput(""), std::invalid_argument);
  try {
    platform::MakeAudioOutput("speakers");
    FAIL() << "no error for an unknown output";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("'speakers'"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("wav:PATH"), std::string::npos);
  }
}

}  // namespace
