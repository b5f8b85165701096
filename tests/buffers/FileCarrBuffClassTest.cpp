#include "buffers/FileCarrBuffClass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/MessageBox.h"
#include "platform/VbArray.h"
#include "tests/support/TestWorld.h"

namespace {

using platform::VbArray;
using platform::files::Exists;
using V = std::vector<int16_t>;

// 01:00:00.4 — the temporary names count up from tm3601.tmp.
constexpr int64_t kOneAmUs = 3600'400'000;

VbArray<int16_t> Samples(const V& values) {
  VbArray<int16_t> a(0, static_cast<int32_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) a(static_cast<int32_t>(i) + 1) = values[i];
  return a;
}

V Elements(const VbArray<int16_t>& a) { return V(a.Storage().begin() + (1 - a.LBound()), a.Storage().end()); }

V FileSamples(const std::string& path) {
  V s(static_cast<size_t>(platform::files::Length(path) / 2));
  if (!s.empty()) platform::files::ReadAt(path, s.data(), s.size() * 2, 0);
  return s;
}

std::vector<int16_t> Concat(std::initializer_list<std::vector<int16_t>> parts) {
  std::vector<int16_t> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

class FileCarrBuffTest : public ::testing::Test {
 protected:
  FileCarrBuffTest() { box.SetQuiet(true); }

  // A buffer with an 8-sample window unless the memory budget says otherwise.
  std::unique_ptr<buffers::FileCarrBuffClass> NewBuffer(int32_t memory = -1) {
    auto b = std::make_unique<buffers::FileCarrBuffClass>(memory < 0 ? 0 : memory, tmpDir, box, clock);
    if (memory < 0) b->SetBuffLength(8);
    return b;
  }
  std::unique_ptr<buffers::FileCarrBuffClass> InPlace(const std::string& path) {
    auto b = NewBuffer();
    b->SetFileNameUseItNotCopy(true);
    b->SetFileName1(path);
    return b;
  }

  testing_support::TempDir tmp;
  std::string tmpDir = tmp.Path();
  platform::MessageBox box;
  platform::ManualClock clock{kOneAmUs};
};

TEST_F(FileCarrBuffTest, FreshBufferIsOneZeroSampleInANewTempFile) {
  auto a = NewBuffer(0);
  EXPECT_EQ(a->FileName1(), tmp.File("tm3601.tmp"));
  EXPECT_EQ(FileSamples(tmp.File("tm3601.tmp")), V{0});
  EXPECT_EQ(a->WaveINos(), 1);
  EXPECT_EQ(a->BuffLength(), 262144);
  // The next buffer skips the name in use; the length follows the memory budget.
  auto b = NewBuffer(20000030);  // 1000001.5 -> 1000002 -> 1000000
  EXPECT_EQ(b->FileName1(), tmp.File("tm3602.tmp"));
  EXPECT_EQ(b->BuffLength(), 1000000);
  b.reset();
  EXPECT_FALSE(Exists(tmp.File("tm3602.tmp")));
  EXPECT_TRUE(Exists(tmp.File("tm3601.tmp")));
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, PutPastTheEndZeroFillsAndGetAcrossTheWindowEndMovesTheWindow) {
  auto b = NewBuffer();
  b->BuffPut(6, Samples({1, 2, 3}));
  EXPECT_EQ(b->WaveINos(), 8);
  EXPECT_TRUE(b->WindowDirty());
  EXPECT_EQ(FileSamples(b->FileName1()), (V{0, 0, 0, 0, 0, 1, 2, 3}));  // FileName1 writes the window back
  EXPECT_FALSE(b->WindowDirty());
  b->BuffPut(10, Samples({-4}));
  b->BuffPut(11, Samples({11, 12, 13, 14, 15, 16, 17, 18}));
  b->BuffPut(19, Samples({19, 20}));
  EXPECT_EQ(b->WaveINos(), 20);

  b->MovePointer(0);
  VbArray<int16_t> got(0, 5);
  got(0) = 77;
  b->BuffGet(6, got);
  EXPECT_EQ(Elements(got), (V{1, 2, 3, 0, -4}));
  EXPECT_EQ(got(0), 77);
  EXPECT_EQ(b->ZeroPtr(), 5);
  EXPECT_EQ(b->WindowRange(), 8);
  VbArray<int16_t> tail(0, 3);  // near the end the window is cut at WaveINos
  b->BuffGet(18, tail);
  EXPECT_EQ(Elements(tail), (V{18, 19, 20}));
  EXPECT_EQ(b->ZeroPtr(), 17);
  EXPECT_EQ(b->WindowRange(), 3);
  EXPECT_EQ(b->WaveLR(12), 12);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, OutsideRunsAndPositionsAreRefusedWithTheirMessagesAndPositionZeroIsScratch) {
  auto b = NewBuffer();
  b->BuffPut(1, Samples({1, 2, 3, 4}));
  EXPECT_EQ(FileSamples(b->FileName1()), (V{1, 2, 3, 4}));  // FileName1 writes the window back
  b->SetWaveLR(0, 5);
  EXPECT_EQ(b->WaveLR(0), 5);
  EXPECT_FALSE(b->WindowDirty());
  EXPECT_EQ(b->WaveLR(1), 1);
  b->SetWaveLR(5, 9);
  EXPECT_EQ(b->WaveLR(5), 0);
  EXPECT_EQ(b->WaveLR(-1), 0);
  b->BuffPut(1, Samples({1, 2, 3, 4, 5, 6, 7, 8, 9}));
  b->BuffPut(0, Samples({5, 5, 5}));
  b->BuffPut(-12, Samples({5}));
  VbArray<int16_t> longRun(0, 9), pastEnd(0, 2), atZero(0, 1), none(0, 0);
  b->BuffGet(1, longRun);
  b->BuffGet(4, pastEnd);
  b->BuffGet(0, atZero);
  // A run of no samples is refused at position 0, silent inside; BuffPut ignores it.
  b->BuffGet(0, none);
  b->BuffGet(2, none);
  b->BuffPut(0, none);
  b->SetBuffLength(0);
  b->MovePointer(-1);
  const std::string bare = "Out of limit - Error";
  EXPECT_EQ(box.Shown(), (std::vector<std::string>{bare, bare, bare, bare + "\r\n 9 8 1", bare + "\r\n 3 8 0",
                                                    bare + "\r\n 1 8-12", bare, bare, bare, bare, bare, bare}));
  EXPECT_EQ(b->WaveINos(), 4);
  EXPECT_EQ(b->BuffLength(), 8);
  EXPECT_EQ(FileSamples(b->FileName1()), (V{1, 2, 3, 4}));
  EXPECT_EQ(Elements(pastEnd), (V{0, 0}));
}

TEST_F(FileCarrBuffTest, ReDimSizeLeavesExactlyNewSzSamplesAndNeverBringsCutSamplesBack) {
  auto b = NewBuffer();
  for (int32_t p = 1; p <= 25; p += 8) b->BuffPut(p, Samples(V(8, 7)));
  b->SetWaveLR(2, 99);
  b->ReDimSize(3);  // writes the dirty window back first
  EXPECT_EQ(b->WaveINos(), 3);
  EXPECT_EQ(FileSamples(b->FileName1()), (V{7, 99, 7}));
  b->ReDimSize(29, true);  // 4..29 in runs of 8, 8, 8 and 2
  EXPECT_EQ(FileSamples(b->FileName1()), Concat({{7, 99, 7}, V(26, 0)}));
  EXPECT_EQ(b->WaveLR(8), 0);
  b->ReDimSize(40);
  EXPECT_EQ(platform::files::Length(b->FileName1()), 80);
  EXPECT_EQ(b->WaveLR(40), 0);
  b->ReDimSize(0);
  EXPECT_EQ(platform::files::Length(b->FileName1()), 0);
  EXPECT_EQ(b->WindowRange(), 0);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, TakingAFileByCopyLeavesItAloneAndDeletesOnlyTheCopy) {
  const std::string given = tmp.File("given.raw");
  testing_support::WriteSamples(given, {10, 20, 30});
  auto b = NewBuffer();
  const std::string firstTemp = b->FileName1();
  b->SetFileName1(given);
  const std::string copy = b->FileName1();
  EXPECT_EQ(copy, firstTemp);  // the first temporary file went first, so the copy takes its name
  EXPECT_EQ(b->WaveINos(), 3);
  b->SetWaveLR(2, 21);
  EXPECT_EQ(FileSamples(b->FileName1()), (V{10, 21, 30}));
  b.reset();
  EXPECT_FALSE(Exists(copy));
  EXPECT_EQ(FileSamples(given), (V{10, 20, 30}));

  auto c = NewBuffer();  // a missing file leaves the buffer on its one-sample temporary file
  c->SetFileName1(tmp.File("missing.raw"));
  EXPECT_EQ(FileSamples(c->FileName1()), V{0});
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, TakingAFileInPlaceDeletesItUnlessReleasedFirst) {
  const std::string given = tmp.File("inplace.raw");
  testing_support::WriteSamples(given, {1, 2, 3, 4});
  auto b = InPlace(given);
  EXPECT_EQ(b->FileName1(), given);
  b->SetWaveLR(4, 40);
  EXPECT_EQ(FileSamples(b->FileName1()), (V{1, 2, 3, 40}));
  b.reset();
  EXPECT_FALSE(Exists(given));

  testing_support::WriteSamples(given, {5, 6, 7});
  auto c = InPlace(given);
  c->SetWaveLR(1, 50);
  c->FileRelease();  // writes the window back and hands the file over
  EXPECT_NE(c->FileName1(), given);
  EXPECT_EQ(c->WaveINos(), 3);
  EXPECT_EQ(c->WaveLR(3), 0);
  c.reset();
  EXPECT_EQ(FileSamples(given), (V{50, 6, 7}));

  auto d = InPlace(given);  // taking its own file again keeps it
  d->SetWaveLR(2, 60);
  d->SetFileName1(given);
  EXPECT_EQ(d->WaveLR(2), 60);
  EXPECT_EQ(FileSamples(given), (V{50, 60, 7}));
  d->SetFileName1(tmp.File("missing.raw"));  // a missing file leaves it without one
  EXPECT_FALSE(Exists(given));
  EXPECT_EQ(d->FileName1(), "");
  EXPECT_EQ(d->WaveINos(), 0);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, SetFileLengthCutsAndExtendsExistingFilesOnly) {
  const std::string f = tmp.File("len.raw");
  testing_support::WriteSamples(f, {1, 2, 3});
  buffers::SetFileLength(f, 2);
  EXPECT_EQ(FileSamples(f), V{1});
  buffers::SetFileLength(f, 6);
  EXPECT_EQ(FileSamples(f), (V{1, 0, 0}));
  buffers::SetFileLength(f, -2);
  EXPECT_EQ(platform::files::Length(f), 6);
  buffers::SetFileLength(tmp.File("none.raw"), 10);
  EXPECT_FALSE(Exists(tmp.File("none.raw")));
}

}  // namespace
