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
using testing_support::TempDir;

// 01:00:00.4 — the temporary names count up from tm3601.tmp.
constexpr int64_t kOneAmUs = 3600'400'000;

VbArray<int16_t> Samples(const std::vector<int16_t>& values) {
  VbArray<int16_t> a(0, static_cast<int32_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) a(static_cast<int32_t>(i) + 1) = values[i];
  return a;
}

std::vector<int16_t> Elements(const VbArray<int16_t>& a) {
  return std::vector<int16_t>(a.Storage().begin() + (1 - a.LBound()), a.Storage().end());
}

std::vector<int16_t> FileSamples(const std::string& path) {
  const int64_t len = platform::files::Length(path);
  std::vector<int16_t> s(static_cast<size_t>(len / 2));
  if (!s.empty()) platform::files::ReadAt(path, s.data(), s.size() * 2, 0);
  return s;
}

class FileCarrBuffTest : public ::testing::Test {
 protected:
  FileCarrBuffTest() { box.SetQuiet(true); }

  std::unique_ptr<FileCarrBuffClass> NewBuffer(int32_t memory = 0) {
    return std::make_unique<FileCarrBuffClass>(memory, tmpDir, box, clock);
  }

  TempDir tmp;
  std::string tmpDir = tmp.Path();
  platform::MessageBox box;
  platform::ManualClock clock{kOneAmUs};
};

TEST_F(FileCarrBuffTest, FreshBufferIsOneZeroSampleInANewTempFile) {
  auto a = NewBuffer();
  EXPECT_EQ(a->FileName1(), tmp.File("tm3601.tmp"));
  EXPECT_EQ(FileSamples(tmp.File("tm3601.tmp")), std::vector<int16_t>{0});
  EXPECT_EQ(a->WaveINos(), 1);
  EXPECT_EQ(a->WaveLR(1), 0);
  EXPECT_EQ(a->BuffLength(), 262144);

  // The next buffer skips the name in use; the length follows the memory budget.
  auto b = NewBuffer(20000030);  // 1000001.5 -> 1000002 -> 1000000
  EXPECT_EQ(b->FileName1(), tmp.File("tm3602.tmp"));
  EXPECT_EQ(b->BuffLength(), 1000000);
  EXPECT_EQ(NewBuffer(50000000)->BuffLength(), 2500000);
  EXPECT_TRUE(box.Shown().empty());

  b.reset();
  EXPECT_FALSE(platform::files::Exists(tmp.File("tm3602.tmp")));
  EXPECT_TRUE(platform::files::Exists(tmp.File("tm3601.tmp")));
}

TEST_F(FileCarrBuffTest, PutPastTheEndGrowsTheFileToTheLastPositionWithZerosBetween) {
  auto b = NewBuffer();
  b->SetBuffLength(8);
  b->BuffPut(6, Samples({1, 2, 3}));
  EXPECT_EQ(b->WaveINos(), 8);
  EXPECT_TRUE(b->WindowDirty());
  const std::string name = b->FileName1();  // writes the window back
  EXPECT_FALSE(b->WindowDirty());
  EXPECT_EQ(FileSamples(name), (std::vector<int16_t>{0, 0, 0, 0, 0, 1, 2, 3}));

  b->BuffPut(10, Samples({-4}));
  EXPECT_EQ(b->WaveINos(), 10);
  VbArray<int16_t> all(0, 8);
  b->BuffGet(3, all);
  EXPECT_EQ(Elements(all), (std::vector<int16_t>{0, 0, 0, 1, 2, 3, 0, -4}));
  EXPECT_EQ(FileSamples(b->FileName1()), (std::vector<int16_t>{0, 0, 0, 0, 0, 1, 2, 3, 0, -4}));
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, GetAcrossTheWindowEndMovesTheWindowToTheRun) {
  auto b = NewBuffer();
  b->SetBuffLength(8);
  b->BuffPut(1, Samples({1, 2, 3, 4, 5, 6, 7, 8}));
  b->BuffPut(9, Samples({9, 10, 11, 12, 13, 14, 15, 16}));
  b->BuffPut(17, Samples({17, 18, 19, 20}));
  b->MovePointer(0);
  EXPECT_EQ(b->ZeroPtr(), 0);
  EXPECT_EQ(b->WindowRange(), 8);

  VbArray<int16_t> got(0, 5);
  got(0) = 77;
  b->BuffGet(6, got);
  EXPECT_EQ(Elements(got), (std::vector<int16_t>{6, 7, 8, 9, 10}));
  EXPECT_EQ(got(0), 77);
  EXPECT_EQ(b->ZeroPtr(), 5);
  EXPECT_EQ(b->WindowRange(), 8);

  // Near the end the window is cut at WaveINos.
  VbArray<int16_t> tail(0, 3);
  b->BuffGet(18, tail);
  EXPECT_EQ(Elements(tail), (std::vector<int16_t>{18, 19, 20}));
  EXPECT_EQ(b->ZeroPtr(), 17);
  EXPECT_EQ(b->WindowRange(), 3);
  EXPECT_EQ(b->WaveLR(12), 12);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, RunsOutOfLimitAreRefusedWithTheirMessagesAndChangeNothing) {
  auto b = NewBuffer();
  b->SetBuffLength(8);
  b->BuffPut(1, Samples({1, 2, 3, 4}));
  const std::string name = b->FileName1();

  b->BuffPut(1, Samples({1, 2, 3, 4, 5, 6, 7, 8, 9}));
  b->BuffPut(0, Samples({5, 5, 5}));
  b->BuffPut(-12, Samples({5}));
  VbArray<int16_t> longRun(0, 9);
  b->BuffGet(1, longRun);
  VbArray<int16_t> pastEnd(0, 2);
  b->BuffGet(4, pastEnd);
  VbArray<int16_t> atZero(0, 1);
  b->BuffGet(0, atZero);
  // A run of no samples is checked like any other: refused at position 0,
  // silent at a position inside the buffer. BuffPut ignores it.
  VbArray<int16_t> none(0, 0);
  b->BuffGet(0, none);
  b->BuffGet(2, none);
  b->BuffPut(0, none);

  EXPECT_EQ(box.Shown(), (std::vector<std::string>{"Out of limit - Error\r\n 9 8 1", "Out of limit - Error\r\n 3 8 0",
                                                    "Out of limit - Error\r\n 1 8-12", "Out of limit - Error",
                                                    "Out of limit - Error", "Out of limit - Error",
                                                    "Out of limit - Error"}));
  EXPECT_EQ(b->WaveINos(), 4);
  EXPECT_EQ(FileSamples(b->FileName1()), (std::vector<int16_t>{1, 2, 3, 4}));
  EXPECT_EQ(Elements(pastEnd), (std::vector<int16_t>{0, 0}));

  box.Clear();
  b->SetBuffLength(0);
  b->MovePointer(-1);
  EXPECT_EQ(box.Shown(), (std::vector<std::string>{"Out of limit - Error", "Out of limit - Error"}));
  EXPECT_EQ(b->BuffLength(), 8);
}

TEST_F(FileCarrBuffTest, PositionZeroIsAScratchSampleAndOutsidePositionsAreRefused) {
  auto b = NewBuffer();
  b->BuffPut(1, Samples({3, 4}));
  const std::string name = b->FileName1();
  const auto before = FileSamples(name);

  b->SetWaveLR(0, 5);
  EXPECT_EQ(b->WaveLR(0), 5);
  EXPECT_FALSE(b->WindowDirty());
  EXPECT_EQ(b->WaveLR(1), 3);
  EXPECT_TRUE(box.Shown().empty());

  b->SetWaveLR(3, 9);
  EXPECT_EQ(b->WaveLR(3), 0);
  EXPECT_EQ(b->WaveLR(-1), 0);
  EXPECT_EQ(box.Shown().size(), 3u);
  EXPECT_EQ(b->WaveINos(), 2);
  EXPECT_EQ(FileSamples(b->FileName1()), before);

  b->SetWaveLR(2, -7);
  EXPECT_EQ(FileSamples(b->FileName1()), (std::vector<int16_t>{3, -7}));
}

TEST_F(FileCarrBuffTest, ReDimSizeLeavesExactlyNewSzSamplesAndNeverBringsCutSamplesBack) {
  auto b = NewBuffer();
  b->SetBuffLength(8);
  for (int32_t p = 1; p <= 25; p += 8) b->BuffPut(p, Samples(std::vector<int16_t>(8, 7)));
  EXPECT_EQ(b->WaveINos(), 32);

  // Cutting writes a dirty window back first.
  b->SetWaveLR(2, 99);
  b->ReDimSize(3);
  EXPECT_EQ(b->WaveINos(), 3);
  EXPECT_EQ(FileSamples(b->FileName1()), (std::vector<int16_t>{7, 99, 7}));

  // 4..29 in runs of 8, 8, 8 and 2.
  b->ReDimSize(29, true);
  const auto grown = FileSamples(b->FileName1());
  ASSERT_EQ(grown.size(), 29u);
  EXPECT_EQ(std::vector<int16_t>(grown.begin(), grown.begin() + 3), (std::vector<int16_t>{7, 99, 7}));
  EXPECT_EQ(std::vector<int16_t>(grown.begin() + 3, grown.end()), std::vector<int16_t>(26, 0));
  EXPECT_EQ(b->WaveLR(4), 0);
  EXPECT_EQ(b->WaveLR(8), 0);

  b->ReDimSize(40);
  EXPECT_EQ(platform::files::Length(b->FileName1()), 80);
  EXPECT_EQ(b->WaveLR(40), 0);
  b->ReDimSize(40);
  EXPECT_EQ(platform::files::Length(b->FileName1()), 80);
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
  // The first temporary file went first, so the copy takes its free name.
  EXPECT_EQ(copy, firstTemp);
  EXPECT_EQ(b->WaveINos(), 3);
  EXPECT_EQ(b->WaveLR(2), 20);

  b->SetWaveLR(2, 21);
  EXPECT_EQ(FileSamples(b->FileName1()), (std::vector<int16_t>{10, 21, 30}));
  b.reset();
  EXPECT_FALSE(platform::files::Exists(copy));
  EXPECT_EQ(FileSamples(given), (std::vector<int16_t>{10, 20, 30}));

  // A missing file leaves the buffer on its one-sample temporary file.
  auto c = NewBuffer();
  c->SetFileName1(tmp.File("missing.raw"));
  EXPECT_EQ(c->WaveINos(), 1);
  EXPECT_EQ(FileSamples(c->FileName1()), std::vector<int16_t>{0});
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, TakingAFileInPlaceDeletesItUnlessReleasedFirst) {
  const std::string given = tmp.File("inplace.raw");
  testing_support::WriteSamples(given, {1, 2, 3, 4});
  auto b = NewBuffer();
  b->SetFileNameUseItNotCopy(true);
  b->SetFileName1(given);
  EXPECT_EQ(b->FileName1(), given);
  b->SetWaveLR(4, 40);
  EXPECT_EQ(FileSamples(b->FileName1()), (std::vector<int16_t>{1, 2, 3, 40}));
  b.reset();
  EXPECT_FALSE(platform::files::Exists(given));

  testing_support::WriteSamples(given, {5, 6, 7});
  auto c = NewBuffer();
  c->SetFileNameUseItNotCopy(true);
  c->SetFileName1(given);
  c->SetWaveLR(1, 50);
  c->FileRelease();  // writes the window back and hands the file over
  const std::string next = c->FileName1();
  EXPECT_NE(next, given);
  EXPECT_EQ(c->WaveINos(), 3);
  EXPECT_EQ(c->WaveLR(3), 0);  // nothing written under the new name yet
  c.reset();
  EXPECT_EQ(FileSamples(given), (std::vector<int16_t>{50, 6, 7}));

  // Taking the buffer's own file again keeps it.
  auto d = NewBuffer();
  d->SetFileNameUseItNotCopy(true);
  d->SetFileName1(given);
  d->SetWaveLR(2, 60);
  d->SetFileName1(given);
  EXPECT_EQ(d->WaveLR(2), 60);
  EXPECT_EQ(FileSamples(given), (std::vector<int16_t>{50, 60, 7}));

  // A missing file leaves the buffer without one.
  d->SetFileName1(tmp.File("missing.raw"));
  EXPECT_FALSE(platform::files::Exists(given));
  EXPECT_EQ(d->FileName1(), "");
  EXPECT_EQ(d->WaveINos(), 0);
  EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FileCarrBuffTest, SetFileLengthCutsAndExtendsExistingFilesOnly) {
  const std::string f = tmp.File("len.raw");
  testing_support::WriteSamples(f, {1, 2, 3});
  SetFileLength(f, 2);
  EXPECT_EQ(FileSamples(f), std::vector<int16_t>{1});
  SetFileLength(f, 6);
  EXPECT_EQ(FileSamples(f), (std::vector<int16_t>{1, 0, 0}));
  SetFileLength(f, -2);
  EXPECT_EQ(platform::files::Length(f), 6);
  SetFileLength(tmp.File("none.raw"), 10);
  EXPECT_FALSE(platform::files::Exists(tmp.File("none.raw")));
}

}  // namespace
