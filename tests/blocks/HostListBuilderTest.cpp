// The host-list builder: the layout it writes, lists that ingest back into
// exactly the entries appended, and what it refuses, naming the entry.

#include "blocks/HostListBuilder.h"

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/blocks/BlocksFixture.h"

namespace {

using blocks::HostListBuilder;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

TEST(HostListBuilderTest, WritesNameBytesFourToAnElementFirstByteLowestAndStartPositionsRunOn) {
  HostListBuilder list;
  list.AddSilence(8000).AddBlockFile("abcde", 10, 7);
  EXPECT_EQ(list.Elements(), (std::vector<int32_t>{2,                                        // N
                                                   1, 0, 8000, 5, 1, 0, 1, 16,               // silence
                                                   3, 5, 0x64636261, 0x65, 10, 3, 8001, 7, 1, 16}));
  EXPECT_EQ(list.Samples(), 8010);
  EXPECT_EQ(list.Build()(1), 2);  // element 1 holds N
}

// Each kind of entry, names of one to nine bytes (every way the last element
// is filled), read back by the block engine's ingest.
TEST_F(BlocksTest, EveryListTheBuilderWritesIngestsBackIntoTheEntriesAppended) {
  HostListBuilder list;
  struct Want {
    int32_t type, length, startPos, filePos;
    std::string name;
    int32_t channels, bits;
  };
  std::vector<Want> want;
  int32_t start = 1;
  for (int32_t n = 1; n <= 9; ++n) {
    const std::string name = dir + "/" + std::string(static_cast<size_t>(n), static_cast<char>('a' + n));
    const int32_t length = 100 * n;
    if (n % 3 == 0) {
      list.AddSilence(length);
      want.push_back({blocks::BlockSilent, length, start, 0, "", 0, 0});
    } else if (n % 3 == 1) {
      list.AddBlockFile(name, length, 2 * n + 1);
      want.push_back({blocks::BlockFile, length, start, 2 * n + 1, name, 0, 0});
    } else {
      list.AddWavFile(name, length, 45 + n, 2, n % 2 == 0 ? 8 : 16);
      want.push_back({blocks::BlockOrg, length, start, 45 + n, name, 2, n % 2 == 0 ? 8 : 16});
    }
    start += length;
  }
  runtime::VbArray<int32_t> idx;
  eng.BlockListIngest(list.Build(), idx);
  ASSERT_EQ(idx.UBound(), static_cast<int32_t>(want.size()));
  for (size_t i = 0; i < want.size(); ++i) {
    const Want& w = want[i];
    const blocks::BlockRec& b = eng.Blocks(idx(static_cast<int32_t>(i) + 1));
    SCOPED_TRACE("entry " + std::to_string(i + 1));
    EXPECT_EQ(b.BlockType, w.type);
    EXPECT_EQ(b.Length, w.length);
    EXPECT_EQ(b.StartPos, w.startPos);
    EXPECT_EQ(b.FilePos, w.filePos);
    if (w.type == blocks::BlockFile) {
      EXPECT_EQ(eng.BlkFiles(b.FileSlot).Name, w.name);
    }
    if (w.type == blocks::BlockOrg) {
      const blocks::OrgFileRec& org = eng.OrgFiles(b.FileSlot);
      EXPECT_EQ(org.Name, w.name);
      EXPECT_EQ(org.Channels, w.channels);
      EXPECT_EQ(org.Bits, w.bits);
    }
  }
}

TEST(HostListBuilderTest, RefusesWhatTheServerWouldMisreadNamingTheEntry) {
  using Add = std::function<void(HostListBuilder&)>;
  const std::vector<std::pair<Add, std::string>> cases{
      {[](HostListBuilder& l) { l.AddBlockFile("/b.raw", 10, 0); },
       "left channel, entry 2 (block file '/b.raw'): FilePos 0 is below 1"},
      {[](HostListBuilder& l) { l.AddWavFile("/w.wav", 10, -4, 1, 16); },
       "left channel, entry 2 (WAV '/w.wav'): FilePos -4 is below 1"},
      {[](HostListBuilder& l) { l.AddSilence(0); }, "left channel, entry 2 (silence): Length 0 is below 1"},
      {[](HostListBuilder& l) { l.AddSilence(kMax - 99); },
       "left channel, entry 2 (silence): its last sample would lie at position 2147483648, beyond the "
       "2147483647 positions a channel counts"},
      {[](HostListBuilder& l) { l.AddBlockFile("/b.raw", 1000, kMax - 1998); },
       "left channel, entry 2 (block file '/b.raw'): its last byte would lie at byte 2147483648 of the file, "
       "beyond the 2147483647 bytes that positions count"},
      {[](HostListBuilder& l) { l.AddWavFile("/w.wav", 1000, kMax - 3996, 2, 16); },
       "left channel, entry 2 (WAV '/w.wav'): its last byte would lie at byte 2147483648 of the file, "
       "beyond the 2147483647 bytes that positions count"},
      {[](HostListBuilder& l) { l.AddBlockFile("", 10); }, "left channel, entry 2 (block file ''): a file needs a name"},
      {[](HostListBuilder& l) { l.AddBlockFile(std::string("/a\0b", 4), 10); },
       "left channel, entry 2 (block file '/a\\0b'): the name holds a NUL byte"},
      {[](HostListBuilder& l) { l.AddWavFile("/w.wav", 10, 45, 3, 16); },
       "left channel, entry 2 (WAV '/w.wav'): 3 channel(s) of 16 bits; only 1 or 2 channels of 8 or 16 bits "
       "are read in place"},
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
