// The host-list builder: what it refuses, naming the entry. The layout it
// writes is ingested and played end to end (PlaysrvTest, playctl's tests); most
// refusals, with their texts, are checked through the C library by the Python
// package's tests (tests/embed/python).

#include "blocks/HostListBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/os/Errors.h"

namespace {

using blocks::HostListBuilder;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

// The refusals the Python tests do not make: a stereo WAV's last byte (four
// bytes a frame) and a name with a NUL byte, which no C string can carry.
TEST(HostListBuilderTest, RefusesWhatTheServerWouldMisreadNamingTheEntry) {
  using Add = std::function<void(HostListBuilder&)>;
  const std::vector<std::pair<Add, std::string>> cases{
      {[](HostListBuilder& l) { l.AddWavFile("/w.wav", 1000, kMax - 3996, 2, 16); },
       "left channel, entry 2 (WAV '/w.wav'): its last byte would lie at byte 2147483648 of the file, "
       "beyond the 2147483647 bytes that positions count"},
      {[](HostListBuilder& l) { l.AddBlockFile(std::string("/a\0b", 4), 10); },
       "left channel, entry 2 (block file '/a\\0b'): the name holds a NUL byte"},
  };
  for (const auto& [add, message] : cases) {
    HostListBuilder list("left channel");
    list.AddSilence(100);
    const std::vector<int32_t> before = list.Elements();
    try {
      add(list);
      ADD_FAILURE() << "accepted: " << message;
    } catch (const os::ListFormatError& e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_EQ(list.Elements(), before) << "a refused entry leaves the list as it was: " << message;
  }
}

}  // namespace
