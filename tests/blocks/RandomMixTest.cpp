// A long seeded mix of every operation under a tight memory limit, checked
// against a model of each live block's samples: the running MemoryInUse and
// every slot's RefCount must equal a recount from the records after each step.

#include <iterator>
#include <map>
#include <random>

#include "tests/blocks/BlocksFixture.h"

namespace {

class RandomMix : public BlocksTest {
 protected:
  int32_t Rand(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
  int32_t AnyLive() { return std::next(model.begin(), Rand(0, static_cast<int32_t>(model.size()) - 1))->first; }

  // One to three entries from the block file, the stereo Orgfile (either
  // channel), the 8-bit Orgfile, or silence.
  void IngestSome() {
    std::vector<ListEntry> list;
    std::vector<std::vector<int16_t>> expected;
    for (int32_t e = Rand(1, 3); e > 0; --e) {
      const int32_t len = Rand(1, 60), at = Rand(0, 400 - len), start = Rand(1, 1000), kind = Rand(0, 3);
      const int32_t ch = Rand(0, 1);
      std::vector<int16_t> want(static_cast<size_t>(len));
      for (int32_t i = 0; i < len && kind < 3; ++i)
        want[static_cast<size_t>(i)] = kind == 0   ? rawData[static_cast<size_t>(at + i)]
                                       : kind == 1 ? stereoData[static_cast<size_t>(2 * (at + i) + ch)]
                                                   : static_cast<int16_t>((at + i) % 256 - 128);
      if (kind == 0) list.push_back({raw, len, blocks::BlockFile, start, 1 + 2 * at});
      if (kind == 1) list.push_back({stereo, len, blocks::BlockOrg, start, 1 + 4 * at + 2 * ch, 2, 16});
      if (kind == 2) list.push_back({mono8, len, blocks::BlockOrg, start, 1 + at, 1, 8});
      if (kind == 3) list.push_back({"", len, blocks::BlockSilent, start});
      expected.push_back(want);
    }
    const auto idx = Ingest(list);
    for (size_t i = 0; i < idx.size(); ++i) model[idx[i]] = expected[i];
  }

  void Step() {
    // Above 40 live blocks every other step releases one.
    const int32_t op = model.empty() ? 0 : model.size() > 40 && Rand(0, 1) ? 8 : Rand(0, 8);
    const int32_t s = model.empty() ? 0 : AnyLive();
    switch (op) {
      case 0: IngestSome(); break;
      case 1: {
        const int32_t len = Rand(1, 60);
        model[eng.NewBlock(len, Rand(0, 1) ? blocks::BlockMem : blocks::BlockSilent)] = std::vector<int16_t>(static_cast<size_t>(len));
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
      case 6: {
        const int32_t from = Rand(0, eng.Blocks(s).Length - 1), to = Rand(from, eng.Blocks(s).Length - 1);
        ASSERT_EQ(Range(s, eng.Blocks(s).StartPos + from, eng.Blocks(s).StartPos + to),
                  std::vector<int16_t>(model[s].begin() + from, model[s].begin() + to + 1));
        break;
      }
      case 7: eng.ReleaseUnusedFiles(); break;
      default:
        eng.ReleaseBlock(s);
        model.erase(s);
    }
  }

  void ExpectCountsExact() {
    ASSERT_EQ(eng.MemoryInUse, RecountMemory());
    std::vector<int32_t> blkUsers(static_cast<size_t>(eng.BlkFileCount) + 1), orgUsers(static_cast<size_t>(eng.OrgFileCount) + 1);
    for (int32_t s = 1; s <= eng.BlockCount; ++s) {
      const blocks::BlockRec& b = eng.Blocks(s);
      ASSERT_EQ(b.Samples.Count(), InMemory(s) ? b.Length : 1) << "block " << s;
      ASSERT_EQ(model.count(s), b.BlockType == blocks::BlockFree ? 0u : 1u) << "block " << s;
      if (b.BlockType == blocks::BlockMemFile || b.BlockType == blocks::BlockFile) ++blkUsers.at(static_cast<size_t>(b.FileSlot));
      if (b.BlockType == blocks::BlockOrg) ++orgUsers.at(static_cast<size_t>(b.FileSlot));
    }
    for (int32_t s = 1; s <= eng.BlkFileCount; ++s) ASSERT_EQ(eng.BlkFiles(s).RefCount, blkUsers[static_cast<size_t>(s)]);
    for (int32_t s = 1; s <= eng.OrgFileCount; ++s) ASSERT_EQ(eng.OrgFiles(s).RefCount, orgUsers[static_cast<size_t>(s)]);
  }

  std::mt19937 rng{20240611};
  std::map<int32_t, std::vector<int16_t>> model;  // live slot -> its samples
  std::vector<int16_t> rawData, stereoData;
  std::string raw, stereo, mono8;
};

TEST_F(RandomMix, CountsAndSamplesStayExactThroughEvictions) {
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; i < 400; ++i) {
    rawData.push_back(static_cast<int16_t>(i * 37 - 7000));
    stereoData.insert(stereoData.end(), {static_cast<int16_t>(i * 11), static_cast<int16_t>(-i * 13 - 1)});
    bytes.push_back(static_cast<uint8_t>(i % 256));
  }
  raw = WriteSamples("b.raw", rawData);
  stereo = WriteSamples("s16.wav", stereoData);
  mono8 = WriteBytes("m8.wav", bytes);
  memLimit = 2 * 200;

  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    ASSERT_NO_FATAL_FAILURE(Step());
    ASSERT_NO_FATAL_FAILURE(ExpectCountsExact());
  }
  EXPECT_GT(eng.BlkFileCount, 1);  // the limit did push blocks out to temporary files
  for (const std::string& text : box.Shown()) EXPECT_EQ(text, "Error - Could not brake a block");  // border splits
  for (const auto& [s, want] : model) {
    eng.LoadBlock(s);
    EXPECT_EQ(eng.Blocks(s).BlockType == blocks::BlockFile ? Whole(s) : Samples(s), want) << "block " << s;
  }
  EXPECT_EQ(eng.MemoryInUse, RecountMemory());
}

}  // namespace
