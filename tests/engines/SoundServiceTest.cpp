// The sound service library through its loader, on the simulated world's
// manual clock and virtual output. A small format keeps the arithmetic
// visible: mono at 1000 frames/s, halves of 400 frames (0.4 s). Its end mark
// is checked frame for frame through the DirectSound 9 engine (AllEnginesTest).

#include "engines/SoundServiceLibrary.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "platform/Errors.h"
#include "tests/support/EngineWave.h"

namespace {

using testing_support::Concat;

constexpr int32_t kRate = 1000;
constexpr int32_t kHalfFrames = 400;
constexpr int32_t kHalfBytes = 2 * kHalfFrames;

struct Flags {
  int32_t half2 = -1, half1 = -1, playing = -1, end = -1;
  bool operator==(const Flags&) const = default;
};

std::vector<int16_t> Ramp(int16_t first, int32_t count) {
  std::vector<int16_t> v(static_cast<size_t>(count));
  std::iota(v.begin(), v.end(), first);
  return v;
}

class SoundServiceTest : public ::testing::Test {
 protected:
  SoundServiceTest() : lib(std::make_unique<engines::SoundServiceLibrary>(world.audio)) {
    handle = lib->Service02(0, 1, 1, kRate, 2 * kHalfBytes, 200);
  }

  Flags Poll() {
    Flags f;
    lib->Service08(handle, f.half2, f.half1, f.playing, f.end);
    return f;
  }
  // Frames played since the run started, from passes and byte position.
  int64_t Position() {
    int32_t passes = -1, bytePos = -1;
    EXPECT_NE(lib->Service07(handle, passes, bytePos), 0);
    return static_cast<int64_t>(passes) * 2 * kHalfFrames + bytePos / 2;
  }
  int32_t Write(const std::vector<int16_t>& half, int32_t offset, int32_t endHalf = 0, int32_t endTicks = 0) {
    return lib->Service06(handle, half.data(), kHalfBytes, offset, endHalf, endTicks);
  }

  testing_support::SimWorld world;
  std::unique_ptr<engines::SoundServiceLibrary> lib;
  int32_t handle = 0;
  const std::vector<int16_t> first = Ramp(1, kHalfFrames);
  const std::vector<int16_t> second = Ramp(1001, kHalfFrames);
};

TEST_F(SoundServiceTest, FlagsEachHalfAsItIsPlayedAndPlaysTheBufferExactly) {
  ASSERT_NE(handle, 0);
  ASSERT_EQ(Write(first, 0), 1);
  ASSERT_EQ(Write(second, kHalfBytes), 1);
  ASSERT_EQ(lib->Service04(handle, 1, kRate), 1);
  // A start from byte 0 counts half 2 as just played; reading clears it.
  EXPECT_EQ(Poll(), (Flags{1, 0, 1, 0}));
  EXPECT_EQ(Poll(), (Flags{0, 0, 1, 0}));
  world.loop.RunFor(399);
  EXPECT_EQ(Poll(), (Flags{0, 0, 1, 0}));
  world.loop.RunFor(1);
  EXPECT_EQ(Poll(), (Flags{0, 1, 1, 0}));
  EXPECT_EQ(Position(), kHalfFrames);
  world.loop.RunFor(400);
  EXPECT_EQ(Poll(), (Flags{1, 0, 1, 0}));
  EXPECT_EQ(Position(), 2 * kHalfFrames);
  ASSERT_EQ(world.output.Segments().size(), 1u);
  EXPECT_EQ(world.output.Segments()[0].rate, kRate);
  EXPECT_EQ(world.output.Segments()[0].channels, 1);
  EXPECT_EQ(world.output.Samples(), Concat({first, second}));

  // A long gap flags both halves in one poll; not refilled in time, the wrap
  // plays what half 1 still holds.
  world.loop.RunFor(850);
  EXPECT_EQ(Poll(), (Flags{1, 1, 1, 0}));
  EXPECT_EQ(Position(), 2 * 2 * kHalfFrames + 50);
  EXPECT_EQ(world.output.Samples(), Concat({first, second, first, second, Ramp(1, 50)}));
}

TEST(SoundServiceLoading, RefusedWhenNotOfferedNotInstalledOrNotALibrary) {
  testing_support::SimWorld world;
  testing_support::WriteBytes(world.tmp.File("junk.so"), {1, 2, 3, 4});
  const std::pair<platform::AudioOffer, std::string> refused[] = {
      {{false, true, true}, testing_support::SoundServiceLibraryPath()},
      {{}, ""},
      {{}, world.tmp.File("none.so")},
      {{}, world.tmp.File("junk.so")}};
  for (const auto& [offer, path] : refused) {
    platform::AudioPlatform audio(world.loop, world.output, offer, path);
    EXPECT_THROW(engines::SoundServiceLibrary{audio}, platform::PlayError) << path;
  }
  EXPECT_NO_THROW(engines::SoundServiceLibrary{world.audio});
}

}  // namespace
