// The list builder of the C API: each refusal with its status and message.

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/embed/EmbedFixture.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

std::vector<int32_t> Elements(const playdll_list* list) {
  const int32_t* data = playdll_list_data(list);
  return std::vector<int32_t>(data, data + playdll_list_size(list));
}

TEST(HostListTest, EachRefusedEntryIsAnArgumentErrorNamingTheEntryAndLeavesTheListAsItWas) {
  using Add = std::function<int(playdll_list*)>;
  const std::vector<std::pair<Add, std::string>> cases{
      {[](playdll_list* l) { return playdll_list_add_block_file(l, "/b.raw", 10, 0); },
       "left channel, entry 2 (block file '/b.raw'): FilePos 0 is below 1"},
      {[](playdll_list* l) { return playdll_list_add_wav_file(l, "/w.wav", 10, -4, 1, 16); },
       "left channel, entry 2 (WAV '/w.wav'): FilePos -4 is below 1"},
      {[](playdll_list* l) { return playdll_list_add_silence(l, 0); },
       "left channel, entry 2 (silence): Length 0 is below 1"},
      {[](playdll_list* l) { return playdll_list_add_silence(l, kMax - 99); },
       "left channel, entry 2 (silence): its last sample would lie at position 2147483648, beyond the "
       "2147483647 positions a channel counts"},
      {[](playdll_list* l) { return playdll_list_add_block_file(l, "/b.raw", 1000, kMax - 1998); },
       "left channel, entry 2 (block file '/b.raw'): its last byte would lie at byte 2147483648 of the file, "
       "beyond the 2147483647 bytes that positions count"},
      {[](playdll_list* l) { return playdll_list_add_block_file(l, nullptr, 10, 1); },
       "left channel, entry 2 (block file ''): a file needs a name"},
      {[](playdll_list* l) { return playdll_list_add_wav_file(l, "/w.wav", 10, 45, 3, 16); },
       "left channel, entry 2 (WAV '/w.wav'): 3 channel(s) of 16 bits; only 1 or 2 channels of 8 or 16 bits "
       "are read in place"},
  };
  for (const auto& [add, message] : cases) {
    playdll_list* list = playdll_list_create("left channel");
    ASSERT_EQ(playdll_list_add_silence(list, 100), PLAYDLL_OK);
    const std::vector<int32_t> before = Elements(list);
    EXPECT_EQ(add(list), PLAYDLL_ERROR_ARGUMENT) << message;
    EXPECT_EQ(playdll_last_error(), message);
    EXPECT_EQ(Elements(list), before) << message;
    playdll_list_destroy(list);
  }
}

}  // namespace
