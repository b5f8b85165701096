#include "server/LineSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Collect {
  std::vector<std::string> lines;
  int overlong = 0;
  LineSplitter splitter{8, [this](std::string_view l) { lines.emplace_back(l); }, [this] { ++overlong; }};
};

TEST(LineSplitterTest, LinesAcrossPiecesAndTheUnterminatedLast) {
  Collect c;
  c.splitter.Feed("ab");
  c.splitter.Feed("c\n\nde");
  EXPECT_EQ(c.lines, (std::vector<std::string>{"abc", ""}));
  c.splitter.Feed("f\ng");
  c.splitter.Finish();
  EXPECT_EQ(c.lines, (std::vector<std::string>{"abc", "", "def", "g"}));
  c.splitter.Finish();
  EXPECT_EQ(c.lines.size(), 4u);
}

TEST(LineSplitterTest, AnOverlongLineIsSkippedToItsEndAndReportedOnce) {
  Collect c;
  c.splitter.Feed("12345");
  c.splitter.Feed("6789");  // 9 bytes: over the limit of 8
  c.splitter.Feed("0123456789");
  c.splitter.Feed("xx\nok\n12345678\n");
  EXPECT_EQ(c.overlong, 1);
  EXPECT_EQ(c.lines, (std::vector<std::string>{"ok", "12345678"}));
  c.splitter.Feed("123456789");
  c.splitter.Finish();
  EXPECT_EQ(c.overlong, 2);
  EXPECT_EQ(c.lines.size(), 2u);
}

}  // namespace
