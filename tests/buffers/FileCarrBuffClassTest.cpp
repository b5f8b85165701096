// The file-carried channel buffer, by what its header promises: files taken by
// copy or in place, runs through a window written back when it moves, and
// resizing. The server never creates one; the tests keep to its contract.

#include "buffers/FileCarrBuffClass.h"

#include <algorithm>
#include <memory>

#include "platform/os/Clock.h"
#include "platform/os/File.h"
#include "tests/blocks/BlocksFixture.h"

namespace {

using runtime::VbArray;
using V = std::vector<int16_t>;

// `values` as elements 1..n of a run.
VbArray<int16_t> Samples1(const V& values) {
  VbArray<int16_t> a(0, static_cast<int32_t>(values.size()));
  std::copy(values.begin(), values.end(), a.Storage().begin() + 1);
  return a;
}

// The block tests' folder, message box and file helpers, and a clock at
// 01:00:00.4: temporary names count up from tm3601.tmp.
class FileCarrBuffTest : public BlocksTest {
 protected:
  // A buffer whose window is 8 samples long unless a memory budget is given.
  std::unique_ptr<buffers::FileCarrBuffClass> NewBuffer(int32_t memory = -1, bool inPlace = false) {
    auto b = std::make_unique<buffers::FileCarrBuffClass>(std::max(memory, 0), dir, box, clock);
    if (memory < 0) b->SetBuffLength(8);
    b->SetFileNameUseItNotCopy(inPlace);
    return b;
  }
  os::ManualClock clock{3600'400'000};
};

TEST_F(FileCarrBuffTest, RunsGoThroughAWindowWrittenBackWhenItMoves) {
  auto b = NewBuffer();
  b->BuffPut(6, Samples1({1, 2, 3}));                                   // past the end: the file grows
  EXPECT_EQ(FileSamples(b->FileName1()), (V{0, 0, 0, 0, 0, 1, 2, 3}));  // FileName1 writes the window back
  b->BuffPut(10, Samples1({-4}));                                       // position 9 reads 0
  b->BuffPut(11, Samples1(V(8, 7)));
  VbArray<int16_t> got(0, 5);
  got(0) = 77;
  b->BuffGet(6, got);
  EXPECT_EQ(got.Storage(), (V{77, 1, 2, 3, 0, -4}));
  VbArray<int16_t> tail(0, 3);
  b->BuffGet(16, tail);
  EXPECT_EQ(tail.Storage(), (V{0, 7, 7, 7}));
  EXPECT_EQ(FileSamples(b->FileName1()), (V{0, 0, 0, 0, 0, 1, 2, 3, 0, -4, 7, 7, 7, 7, 7, 7, 7, 7}));
}

// ReDimSize leaves exactly NewSz samples and never brings cut samples back.
TEST_F(FileCarrBuffTest, ResizingKeepsExactlyTheNewSizeAndCutSamplesStayCut) {
  auto b = NewBuffer();
  b->BuffPut(1, Samples1({5, 6, 7, 8, 9}));
  b->SetWaveLR(2, 99);
  b->ReDimSize(3);         // writes the dirty window back first
  b->ReDimSize(29, true);  // 4..29 in runs of 8, 8, 8 and 2
  V expected{5, 99, 7};
  expected.resize(29);
  EXPECT_EQ(FileSamples(b->FileName1()), expected);
  EXPECT_EQ(b->WaveLR(4), 0);  // the window read before the cut holds nothing past it
  b->ReDimSize(40);            // one zero sample at 40
  EXPECT_EQ(os::files::Length(b->FileName1()), 80);
  b->ReDimSize(0);
  EXPECT_EQ(os::files::Length(b->FileName1()), 0);
}

TEST_F(FileCarrBuffTest, AFileTakenByCopyIsLeftAloneAndAMissingOneLeavesAOneSampleFile) {
  const std::string given = WriteSamples("given.raw", {10, 20, 30});
  auto copy = NewBuffer(0);
  copy->SetFileName1(given);
  EXPECT_EQ(copy->FileName1(), tmp.File("tm3601.tmp"));  // the old file goes first, so the copy takes its name
  copy->SetWaveLR(2, 21);
  EXPECT_EQ(FileSamples(copy->FileName1()), (V{10, 21, 30}));
  copy->SetFileName1(tmp.File("missing.raw"));
  EXPECT_EQ(FileSamples(copy->FileName1()), V{0});
  EXPECT_EQ(FileSamples(given), (V{10, 20, 30}));
}

TEST_F(FileCarrBuffTest, AFileTakenInPlaceAndReleasedIsKeptWithTheChanges) {
  const std::string given = WriteSamples("given.raw", {10, 20, 30});
  auto kept = NewBuffer(-1, true);
  kept->SetFileName1(given);
  kept->SetWaveLR(1, 50);
  kept->SetFileName1(given);  // its own file again: kept, with the change
  kept->FileRelease();        // writes the window back and hands the file over
  EXPECT_NE(kept->FileName1(), given);
  EXPECT_EQ(kept->WaveINos(), 3);
  EXPECT_EQ(kept->WaveLR(1), 0);
  kept.reset();
  EXPECT_EQ(FileSamples(given), (V{50, 20, 30}));
}

}  // namespace
