// The sound service library through its loader, on the simulated world's
// manual clock and virtual output. A small format keeps the arithmetic
// visible: mono at 1000 frames/s, halves of 400 frames (0.4 s), 100 frames
// per 100-ms step of the end mark.

#include "engines/SoundServiceLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "platform/Errors.h"
#include "tests/support/TestWorld.h"

namespace {

using ::testing::Each;
using ::testing::ElementsAreArray;

constexpr int32_t kRate = 1000;
constexpr int32_t kHalfFrames = 400;
constexpr int32_t kHalfBytes = 2 * kHalfFrames;
constexpr int32_t kBufferBytes = 2 * kHalfBytes;
constexpr int32_t kBytesPer100Ms = 200;

struct Flags {
  int32_t half2 = -1, half1 = -1, playing = -1, end = -1;
  bool operator==(const Flags&) const = default;
};

std::vector<int16_t> Ramp(int16_t first, int32_t count) {
  std::vector<int16_t> v(static_cast<size_t>(count));
  std::iota(v.begin(), v.end(), first);
  return v;
}

std::vector<int16_t> Concat(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class SoundServiceTest : public ::testing::Test {
 protected:
  SoundServiceTest() : lib(std::make_unique<SoundServiceLibrary>(world.audio)) {
    handle = lib->Service02(0, 1, 1, kRate, kBufferBytes, kBytesPer100Ms);
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
  std::unique_ptr<SoundServiceLibrary> lib;
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
  EXPECT_EQ(world.output.Segments()[0].firstUs, 0);
  EXPECT_THAT(world.output.Samples(), ElementsAreArray(Concat({first, second})));
}

TEST_F(SoundServiceTest, BothHalvesFlaggedInOnePollAfterALongGap) {
  Write(first, 0);
  Write(second, kHalfBytes);
  lib->Service04(handle, 1, kRate);
  Poll();
  world.loop.RunFor(850);
  EXPECT_EQ(Poll(), (Flags{1, 1, 1, 0}));
  int32_t passes = -1, bytePos = -1;
  EXPECT_EQ(lib->Service07(handle, passes, bytePos), 1);
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(bytePos, 100);
  // Not refilled in time: the wrap plays what half 1 still holds.
  EXPECT_THAT(world.output.Samples(),
              ElementsAreArray(Concat({first, second, std::vector<int16_t>(first.begin(), first.begin() + 50)})));
}

TEST_F(SoundServiceTest, EndAtTheHalfsEndThenSilenceWithThePositionHeld) {
  Write(first, 0);
  lib->Service04(handle, 1, kRate);
  Poll();
  world.loop.RunFor(100);
  Write(second, kHalfBytes, 2, -1);  // the wave ends on half 2's last frame
  world.loop.RunFor(699);
  EXPECT_EQ(Poll(), (Flags{0, 1, 1, 0}));
  world.loop.RunFor(1);
  EXPECT_EQ(Poll().end, 1);
  EXPECT_EQ(Poll().end, 0);  // reported once

  world.loop.RunFor(300);
  EXPECT_EQ(Poll(), (Flags{0, 0, 1, 0}));  // no more halves come round
  EXPECT_EQ(Position(), 2 * kHalfFrames);
  lib->Service05(handle);
  EXPECT_EQ(world.output.Stops(), 1);
  const auto played = world.output.Samples();
  ASSERT_EQ(played.size(), 2u * kHalfFrames + 300);
  EXPECT_THAT(std::vector<int16_t>(played.begin(), played.begin() + 2 * kHalfFrames),
              ElementsAreArray(Concat({first, second})));
  EXPECT_THAT(std::vector<int16_t>(played.begin() + 2 * kHalfFrames, played.end()), Each(0));

  // Polled late, long after the mark: nothing of the buffer beyond the mark
  // sounds, and the position is the mark's.
  world.output.Clear();
  Write(second, kHalfBytes, 2, -1);
  lib->Service04(handle, 1, kRate);
  world.loop.RunFor(1000);
  EXPECT_EQ(Poll(), (Flags{1, 1, 1, 1}));
  EXPECT_EQ(Position(), 2 * kHalfFrames);
  EXPECT_THAT(world.output.Samples(), ElementsAreArray(Concat({first, second, std::vector<int16_t>(200, 0)})));
}

TEST_F(SoundServiceTest, EndOfAShortLastChunkAfterItsTicksAndARestartClearsIt) {
  // A last chunk of 150 frames, the rest of the half silent; the mark three
  // 100-ms steps into the half.
  std::vector<int16_t> last(kHalfFrames, 0);
  std::iota(last.begin(), last.begin() + 150, int16_t{501});
  Write(last, 0, 1, 3);
  lib->Service04(handle, 1, kRate);
  world.loop.RunFor(299);
  EXPECT_EQ(Poll(), (Flags{1, 0, 1, 0}));
  world.loop.RunFor(1);
  EXPECT_EQ(Poll(), (Flags{0, 0, 1, 1}));
  world.loop.RunFor(200);
  EXPECT_EQ(Position(), 300);
  EXPECT_THAT(world.output.Samples(), ElementsAreArray(Concat({std::vector<int16_t>(last.begin(), last.begin() + 300),
                                                               std::vector<int16_t>(200, 0)})));

  // Mode 1 starts over from byte 0 with the buffer as it stands; the mark
  // written with half 1 holds for the new run too. A mark beyond the half's
  // end is taken at the half's end.
  lib->Service05(handle);
  world.output.Clear();
  Write(first, 0, 1, 9);
  ASSERT_EQ(lib->Service04(handle, 1, kRate), 1);
  EXPECT_EQ(Position(), 0);
  world.loop.RunFor(399);
  EXPECT_EQ(Poll(), (Flags{1, 0, 1, 0}));
  world.loop.RunFor(1);
  EXPECT_EQ(Poll(), (Flags{0, 1, 1, 1}));
  EXPECT_THAT(world.output.Samples(), ElementsAreArray(first));
}

TEST_F(SoundServiceTest, StopHoldsModeZeroResumesModeOneRestartsAndTheRateCounts) {
  Write(first, 0);
  Write(second, kHalfBytes);
  lib->Service04(handle, 1, kRate);
  world.loop.RunFor(250);
  lib->Service05(handle);
  world.loop.RunFor(5000);
  EXPECT_EQ(Position(), 250);
  EXPECT_EQ(Poll(), (Flags{1, 0, 0, 0}));
  ASSERT_EQ(lib->Service04(handle, 0, kRate), 1);
  world.loop.RunFor(250);
  EXPECT_EQ(Position(), 500);
  EXPECT_EQ(Poll(), (Flags{0, 1, 1, 0}));
  EXPECT_THAT(world.output.Samples(),
              ElementsAreArray(Concat({first, std::vector<int16_t>(second.begin(), second.begin() + 100)})));
  EXPECT_EQ(world.output.Segments()[0].firstUs, 0);

  // Twice the rate: the same frames in half the time, on a new segment.
  lib->Service04(handle, 1, 2 * kRate);
  EXPECT_EQ(Position(), 0);
  world.loop.RunFor(200);
  EXPECT_EQ(Position(), 400);
  ASSERT_EQ(world.output.Segments().size(), 2u);
  EXPECT_EQ(world.output.Segments()[1].rate, 2 * kRate);
  EXPECT_EQ(world.output.Segments()[1].firstUs, 5'500'000);
  EXPECT_THAT(world.output.Segments()[1].samples, ElementsAreArray(first));
}

TEST_F(SoundServiceTest, BadArgumentsAndUnknownHandlesAreRefused) {
  EXPECT_EQ(lib->Service02(0, 1, 3, kRate, kBufferBytes, kBytesPer100Ms), 0);  // channels
  EXPECT_EQ(lib->Service02(0, 1, 2, kRate, 1602, kBytesPer100Ms), 0);         // halves of whole frames
  EXPECT_EQ(lib->Service02(0, 1, 1, 0, kBufferBytes, kBytesPer100Ms), 0);
  EXPECT_EQ(Write(first, kHalfBytes + 2), 0);  // past the buffer's end
  EXPECT_EQ(Write(first, 0, 3, 0), 0);
  EXPECT_EQ(lib->Service04(handle, 2, kRate), 0);
  EXPECT_EQ(lib->Service04(handle, 1, 0), 0);

  // A new buffer for the same caller releases the old one.
  const int32_t renewed = lib->Service02(handle, 1, 1, kRate, kBufferBytes, kBytesPer100Ms);
  ASSERT_NE(renewed, 0);
  EXPECT_EQ(lib->Service04(handle, 1, kRate), 0);
  int32_t passes = 0, bytePos = 0;
  EXPECT_EQ(lib->Service07(handle, passes, bytePos), 0);
  Flags f;
  lib->Service08(handle, f.half2, f.half1, f.playing, f.end);
  EXPECT_EQ(f, (Flags{0, 0, 0, 0}));
  EXPECT_EQ(lib->Service04(renewed, 1, kRate), 1);
  lib->Service03(renewed);
  EXPECT_EQ(lib->Service04(renewed, 1, kRate), 0);

  // No output to play on: no buffer.
  world.output.SetAvailable(false);
  EXPECT_EQ(lib->Service02(0, 1, 1, kRate, kBufferBytes, kBytesPer100Ms), 0);
}

TEST(SoundServiceLoading, RefusedWhenNotOfferedNotInstalledOrNotALibrary) {
  testing_support::SimWorld world;
  platform::AudioPlatform notOffered(world.loop, world.output, platform::AudioOffer{false, true, true},
                                     testing_support::SoundServiceLibraryPath());
  platform::AudioPlatform noPath(world.loop, world.output, platform::AudioOffer{}, "");
  platform::AudioPlatform missing(world.loop, world.output, platform::AudioOffer{}, world.tmp.File("none.so"));
  testing_support::WriteBytes(world.tmp.File("junk.so"), {1, 2, 3, 4});
  platform::AudioPlatform junk(world.loop, world.output, platform::AudioOffer{}, world.tmp.File("junk.so"));
  EXPECT_THROW(SoundServiceLibrary{notOffered}, platform::PlayError);
  EXPECT_THROW(SoundServiceLibrary{noPath}, platform::PlayError);
  EXPECT_THROW(SoundServiceLibrary{missing}, platform::PlayError);
  EXPECT_THROW(SoundServiceLibrary{junk}, platform::PlayError);
  EXPECT_NO_THROW(SoundServiceLibrary{world.audio});
}

}  // namespace
