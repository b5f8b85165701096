// Host block lists: the layout checks and their texts, names told apart by
// case, packed names, and what ingest leaves in the records.

#include "tests/blocks/BlocksFixture.h"

namespace {

using os::ListFormatError;

std::string ValidationError(const runtime::VbArray<int32_t>& list) {
  try {
    blocks::VodoRaraZodorUze::ValidateBlockList(list, "BlkInLstL");
  } catch (const ListFormatError& e) {
    return e.what();
  }
  return "accepted";
}

TEST_F(BlocksTest, MalformedListsAreRefusedNamingEntryAndElement) {
  const ListEntry silent{"", 4};
  EXPECT_EQ(ValidationError(runtime::VbArray<int32_t>()), "BlkInLstL: element 1 (N) is missing");
  EXPECT_EQ(ValidationError(Array({-1})), "BlkInLstL: element 1 (N) is -1, it cannot be negative");
  auto list = MakeList({silent, silent, silent});
  list(1 + 8 + 8 + 1) = 0;  // K of entry 3
  EXPECT_EQ(ValidationError(list), "BlkInLstL, entry 3: element 1 (K) is 0, at least 1 is needed");
  // A name of 5 bytes packed into one element: K must be 3.
  EXPECT_EQ(ValidationError(Array({1, 2, 5, 0x64636261, 10, 5, 1, 1, 1, 16})),
            "BlkInLstL, entry 1: element 1 (K) is 2, at least 3 is needed for a name of 5 bytes");
  list = MakeList({silent, silent});
  list.ReDimPreserve(list.UBound() - 1);
  EXPECT_EQ(ValidationError(list), "BlkInLstL, entry 2: element 8 (Bits) is missing, the list ends at element 16");
  EXPECT_EQ(ValidationError(Array({2, 1, 0, 4, 5, 1, 1, 1, 16})),
            "BlkInLstL, entry 2: element 1 (K) is missing, the list ends at element 9");
  // Well-formed: lower bound 0, trailing elements, no entries.
  EXPECT_EQ(ValidationError(MakeList({silent, {"/a", 3, blocks::BlockFile}}, 0)), "accepted");
  EXPECT_EQ(ValidationError(Array({0, 99, 98})), "accepted");
}

TEST_F(BlocksTest, ABadLastEntryRefusesTheWholeListBeforeAnyRecordOrSlotIsMade) {
  const auto list = MakeList({{dir + "/a.raw", 4, blocks::BlockFile}, {dir + "/o.wav", 4, blocks::BlockOrg}, {"", -3}});
  EXPECT_EQ(ValidationError(list), "BlkInLstL, entry 3: element 3 (Length) is -3, it cannot be negative");
  runtime::VbArray<int32_t> idx;
  EXPECT_THROW(eng.BlockListIngest(list, idx), ListFormatError);
  EXPECT_EQ(eng.BlockCount + eng.BlkFileCount + eng.OrgFileCount, 0);
  EXPECT_FALSE(idx.Dimensioned());
}

// Which slot a name gets is checked against a scan of the tables by RandomMixTest.
class IngestTest : public BlocksTest {
 protected:
  // Two block files whose names differ in case, an Orgfile in two layouts
  // (8-bit stereo first) and an entry of unknown type 7.
  IngestTest()
      : idx(Ingest({{dir + "/Take.raw", 10, blocks::BlockFile},
                    {dir + "/take.raw", 5, blocks::BlockFile},
                    {dir + "/song.wav", 7, blocks::BlockOrg, 16, 45, 2, 8},
                    {dir + "/song.wav", 2, blocks::BlockOrg, 26, 3, 1, 16},
                    {dir + "/Take.raw", 9, 7, 34, 5}})) {}
  const std::vector<int32_t> idx;
};

TEST_F(IngestTest, NamesThatDifferInCaseAreTwoFiles) { EXPECT_EQ(eng.BlkFileCount, 2); }

TEST_F(IngestTest, AnOrgfileKeepsTheLayoutOfItsFirstEntry) {
  EXPECT_EQ(eng.OrgFileCount, 1);
  EXPECT_EQ(std::pair(eng.OrgFiles(1).Channels, eng.OrgFiles(1).Bits), std::pair(2, 8));
}

TEST_F(IngestTest, AnUnknownTypeIsShownAndStaysSilentWithTheEntrysFields) {
  EXPECT_EQ(box.Shown(), std::vector<std::string>{"Error - Block type can not be converted to Block"});
  EXPECT_EQ(std::tuple(Type(idx[4]), eng.Blocks(idx[4]).Length, eng.Blocks(idx[4]).StartPos),
            std::tuple(blocks::BlockSilent, 9, 34));
}

TEST_F(BlocksTest, NamesUnpackLeastSignificantByteFirstKeepingBytesAbove127) {
  EXPECT_EQ(blocks::VodoRaraZodorUze::LongsToName(Array({2, static_cast<int32_t>(0xFFFFE92F)})), "/\xE9");
}

}  // namespace
