// A long seeded mix of every operation under a tight memory limit, checked
// after each step against models: each live block's samples; the running
// MemoryInUse and every slot's RefCount against a recount from the records;
// and the file slot every ingest takes against a plain scan of the tables
// (the first live slot of the name, else the first free block file slot or
// the last free Orgfile slot, else a new last slot), which the engine finds
// through name indexes and free sets instead.

#include <iterator>
#include <map>
#include <random>

#include "tests/blocks/BlocksFixture.h"

namespace {

// The slot a scan of a file table gives a file named `name`.
template <typename Rec>
int32_t ScanFor(const runtime::VbArray<Rec>& table, int32_t count, const std::string& name, bool lastFree) {
  int32_t free = 0;
  for (int32_t s = 1; s <= count; ++s) {
    if (table(s).RefCount != 0 && table(s).Name == name) return s;
    if (table(s).RefCount == 0 && (lastFree || free == 0)) free = s;
  }
  return free != 0 ? free : count + 1;
}

class RandomMix : public BlocksTest {
 protected:
  int32_t Rand(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }

  // A run of a block file, of either channel of a stereo 16-bit Orgfile, of
  // an 8-bit Orgfile, or silence. There are three files of each kind, each
  // with samples of its own (Sample(k, i) is sample i of file k).
  void IngestRandom() {
    const int32_t len = Rand(1, 60), at = Rand(0, 400 - len), start = Rand(1, 1000), kind = Rand(0, 3);
    const int32_t ch = Rand(0, 1), k = Rand(0, 2);
    ListEntry e{"", len, blocks::BlockSilent, start};
    if (kind == 0) e = {FileName("b", k), len, blocks::BlockFile, start, 1 + 2 * at};
    if (kind == 1) e = {FileName("s", k), len, blocks::BlockOrg, start, 1 + 4 * at + 2 * ch, 2, 16};
    if (kind == 2) e = {FileName("m", k), len, blocks::BlockOrg, start, 1 + at, 1, 8};
    const int32_t want = kind == 3   ? 0
                         : kind == 0 ? ScanFor(eng.BlkFiles, eng.BlkFileCount, e.name, false)
                                     : ScanFor(eng.OrgFiles, eng.OrgFileCount, e.name, true);
    const int32_t b = Ingest({e}).at(0);
    ASSERT_EQ(eng.Blocks(b).FileSlot, want) << e.name;
    std::vector<int16_t>& samples = model[b];
    samples.assign(static_cast<size_t>(len), 0);
    for (int32_t i = at; i < at + len && kind < 3; ++i) {
      const uint8_t byte = static_cast<uint8_t>(Sample(k, i / 2) >> (i % 2 * 8));  // little-endian
      samples[static_cast<size_t>(i - at)] = kind == 0 ? Sample(k, i) : kind == 1 ? Sample(k, 2 * i + ch) : byte - 128;
    }
  }
  std::string FileName(const char* kind, int32_t k) { return dir + "/" + kind + std::to_string(k) + ".wav"; }
  static int16_t Sample(int32_t k, int32_t i) { return static_cast<int16_t>(i * 37 - 7000 + 1000 * k); }

  void Step() {
    // Above 40 live blocks every other step releases one.
    const int32_t op = model.empty() ? 0 : model.size() > 40 && Rand(0, 1) ? 7 : Rand(0, 7);
    const int32_t s =
        model.empty() ? 0 : std::next(model.begin(), Rand(0, static_cast<int32_t>(model.size()) - 1))->first;
    switch (op) {
      case 0: IngestRandom(); break;
      case 1: {
        const int32_t len = Rand(1, 60);
        const int32_t b = eng.NewBlock(len, Rand(0, 1) ? blocks::BlockMem : blocks::BlockSilent);
        model[b] = std::vector<int16_t>(static_cast<size_t>(len));
        break;
      }
      case 2: model[eng.CopyBlock(s)] = model[s]; break;
      case 3: {  // split (the borders are refused), keeping only the parts
        const int32_t leftLen = Rand(0, eng.Blocks(s).Length);
        int32_t left = 0, right = 0;
        eng.SplitBlock(s, eng.Blocks(s).StartPos + leftLen, left, right);
        if (left == 0) break;
        model[left].assign(model[s].begin(), model[s].begin() + leftLen);
        model[right].assign(model[s].begin() + leftLen, model[s].end());
        eng.ReleaseBlock(s);
        model.erase(s);
        break;
      }
      case 4: eng.LoadBlock(s); break;
      case 5: {
        eng.MakeBlockWritable(s);
        const int32_t k = Rand(0, eng.Blocks(s).Length - 1);
        model[s][static_cast<size_t>(k)] = eng.Blocks(s).Samples(k) = static_cast<int16_t>(Rand(-32768, 32767));
        break;
      }
      case 6:
        eng.ReleaseUnusedFiles();
        for (int32_t f = 1; f <= eng.BlkFileCount; ++f)
          ASSERT_TRUE(eng.BlkFiles(f).RefCount != 0 || eng.BlkFiles(f).Name.empty()) << f;
        for (int32_t f = 1; f <= eng.OrgFileCount; ++f)
          ASSERT_TRUE(eng.OrgFiles(f).RefCount != 0 || eng.OrgFiles(f).Name.empty()) << f;
        break;
      default: {
        const int32_t orgSlot = Type(s) == blocks::BlockOrg ? eng.Blocks(s).FileSlot : 0;
        eng.ReleaseBlock(s);
        model.erase(s);
        // A released Orgfile forgets its name at once.
        if (orgSlot != 0 && eng.OrgFiles(orgSlot).RefCount == 0) {
          ASSERT_EQ(eng.OrgFiles(orgSlot).Name, "");
        }
      }
    }
  }

  void ExpectCountsExact() {
    ASSERT_EQ(eng.MemoryInUse, RecountMemory());
    std::vector<int32_t> blkUsers(static_cast<size_t>(eng.BlkFileCount) + 1);
    std::vector<int32_t> orgUsers(static_cast<size_t>(eng.OrgFileCount) + 1);
    for (int32_t s = 1; s <= eng.BlockCount; ++s) {
      const blocks::BlockRec& b = eng.Blocks(s);
      ASSERT_EQ(b.Samples.Count(), InMemory(s) ? b.Length : 1) << "block " << s;
      ASSERT_EQ(model.count(s), b.BlockType == blocks::BlockFree ? 0u : 1u) << "block " << s;
      if (b.BlockType == blocks::BlockMemFile || b.BlockType == blocks::BlockFile)
        ++blkUsers.at(static_cast<size_t>(b.FileSlot));
      if (b.BlockType == blocks::BlockOrg) ++orgUsers.at(static_cast<size_t>(b.FileSlot));
    }
    for (int32_t s = 1; s <= eng.BlkFileCount; ++s)
      ASSERT_EQ(eng.BlkFiles(s).RefCount, blkUsers[static_cast<size_t>(s)]);
    for (int32_t s = 1; s <= eng.OrgFileCount; ++s)
      ASSERT_EQ(eng.OrgFiles(s).RefCount, orgUsers[static_cast<size_t>(s)]);
  }

  std::mt19937 rng{20240611};
  std::map<int32_t, std::vector<int16_t>> model;  // live slot -> its samples
};

TEST_F(RandomMix, CountsSamplesAndFileSlotsStayExactThroughEvictions) {
  for (int32_t k = 0; k <= 2; ++k) {
    std::vector<int16_t> samples(800);
    for (int32_t i = 0; i < 800; ++i) samples[static_cast<size_t>(i)] = Sample(k, i);
    for (const char* kind : {"b", "s", "m"}) testing_support::WriteSamples(FileName(kind, k), samples);
  }
  memLimit = 2 * 200;

  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    ASSERT_NO_FATAL_FAILURE(Step());
    ASSERT_NO_FATAL_FAILURE(ExpectCountsExact());
  }
  EXPECT_GT(eng.BlkFileCount, 4);  // the limit did push blocks out to temporary files
  for (const std::string& text : box.Shown()) EXPECT_EQ(text, "Error - Could not brake a block");  // border splits
  for (const auto& [s, want] : model) {
    const blocks::BlockRec& b = eng.Blocks(s);
    EXPECT_EQ(Range(s, b.StartPos, b.StartPos + b.Length - 1), want) << "block " << s;
  }
}

}  // namespace
