// File slots are found by name through an index and taken from free sets;
// the slot numbers must be exactly those of a plain scan of the tables: the
// first live slot of the name, else the first free block file slot or the
// last free Orgfile slot, else a new last slot. A seeded mix of ingests,
// releases and clean-ups runs against such a scanning model.

#include <random>
#include <utility>

#include "tests/blocks/BlocksFixture.h"

namespace {

struct SlotModel {
  std::vector<std::pair<std::string, int32_t>> slots{{"", 0}};  // name, RefCount; slot 0 unused

  int32_t Live(const std::string& name) const {
    for (size_t s = 1; s < slots.size(); ++s)
      if (slots[s].second != 0 && slots[s].first == name) return static_cast<int32_t>(s);
    return 0;
  }
  int32_t Take(bool lastFree) {
    int32_t found = 0;
    for (size_t s = 1; s < slots.size() && (lastFree || found == 0); ++s)
      if (slots[s].second == 0) found = static_cast<int32_t>(s);
    if (found != 0) return found;
    slots.emplace_back("", 0);
    return static_cast<int32_t>(slots.size() - 1);
  }
  int32_t Ingest(const std::string& name, bool org) {
    int32_t s = Live(name);
    if (s == 0) {
      s = Take(org);
      slots[static_cast<size_t>(s)].first = name;
    }
    ++slots[static_cast<size_t>(s)].second;
    return s;
  }
  void ClearUnused() {
    for (auto& [name, ref] : slots)
      if (ref == 0) name.clear();
  }
};

TEST_F(BlocksTest, FileSlotsAreTheSlotsATableScanWouldChoose) {
  std::mt19937 rng(1234);
  const auto rand = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  SlotModel blk, org;
  std::vector<int32_t> live;  // blocks of types 3 and 4
  for (int step = 0; step < 3000; ++step) {
    const int what = rand(0, 9);
    if (what < 5 || live.empty()) {
      const bool isOrg = rand(0, 1) == 1;
      const std::string name = "/f/" + std::string(isOrg ? "o" : "b") + std::to_string(rand(0, 12));
      const int32_t b = IngestOne({name, 4, isOrg ? blocks::BlockOrg : blocks::BlockFile});
      const int32_t want = (isOrg ? org : blk).Ingest(name, isOrg);
      ASSERT_EQ(eng.Blocks(b).FileSlot, want) << "step " << step << " " << name;
      live.push_back(b);
    } else if (what < 9) {
      const size_t i = static_cast<size_t>(rand(0, static_cast<int>(live.size()) - 1));
      const int32_t b = live[i];
      live[i] = live.back();
      live.pop_back();
      const bool isOrg = eng.Blocks(b).BlockType == blocks::BlockOrg;
      auto& slot = (isOrg ? org : blk).slots[static_cast<size_t>(eng.Blocks(b).FileSlot)];
      eng.ReleaseBlock(b);
      if (--slot.second == 0 && isOrg) slot.first.clear();  // a released Orgfile forgets its name at once
    } else if (rand(0, 1) == 0) {
      eng.ReleaseUnusedFiles();
      blk.ClearUnused();
      org.ClearUnused();
    } else {
      // A temporary block file takes the first free slot too, under a name no slot holds.
      const int32_t s = eng.NewBlkFileSlot();
      ASSERT_EQ(s, blk.Take(false));
      for (int32_t other = 1; other <= eng.BlkFileCount; ++other) {
        if (other != s) {
          ASSERT_NE(eng.BlkFiles(other).Name, eng.BlkFiles(s).Name);
        }
      }
      blk.slots[static_cast<size_t>(s)].first = eng.BlkFiles(s).Name;
    }
    ASSERT_EQ(eng.BlkFileCount + 1, static_cast<int32_t>(blk.slots.size()));
    ASSERT_EQ(eng.OrgFileCount + 1, static_cast<int32_t>(org.slots.size()));
    for (int32_t s = 1; s <= eng.BlkFileCount; ++s)
      ASSERT_EQ(std::pair(eng.BlkFiles(s).Name, eng.BlkFiles(s).RefCount), blk.slots[static_cast<size_t>(s)]) << s;
    for (int32_t s = 1; s <= eng.OrgFileCount; ++s)
      ASSERT_EQ(std::pair(eng.OrgFiles(s).Name, eng.OrgFiles(s).RefCount), org.slots[static_cast<size_t>(s)]) << s;
  }
}

}  // namespace
