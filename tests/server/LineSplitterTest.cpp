#include "server/LineSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct Collect {
  Lines lines;
  int overlong = 0;
  server::LineSplitter splitter{8, [this](std::string_view l) { lines.emplace_back(l); }, [this] { ++overlong; }};
};

TEST(LineSplitterTest, LinesAcrossPiecesAndTheUnterminatedLast) {
  Collect c;
  for (const char* piece : {"ab", "c\n\nde", "f\ng"}) c.splitter.Feed(piece);
  EXPECT_EQ(c.lines, (Lines{"abc", "", "def"}));
  c.splitter.Finish();
  c.splitter.Finish();
  EXPECT_EQ(c.lines, (Lines{"abc", "", "def", "g"}));
}

TEST(LineSplitterTest, AnOverlongLineIsSkippedToItsEndAndReportedOnce) {
  Collect c;
  // 9 bytes and more: over the limit of 8, across pieces.
  for (const char* piece : {"12345", "6789", "0123456789", "xx\nok\n12345678\n"}) c.splitter.Feed(piece);
  EXPECT_EQ(c.overlong, 1);
  EXPECT_EQ(c.lines, (Lines{"ok", "12345678"}));
  c.splitter.Feed("123456789");
  c.splitter.Finish();
  EXPECT_EQ(c.overlong, 2);
  EXPECT_EQ(c.lines.size(), 2u);
}

}  // namespace
