// How a request line is cut from the input and read: the line splitter and
// the JSON line parser.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/JsonLineParser.h"
#include "server/LineSplitter.h"
#include "server/RpcParams.h"

using nlohmann::json;

namespace {

TEST(LineSplitterTest, LinesAcrossPiecesOverlongOnesSkippedAndTheUnterminatedLast) {
  std::vector<std::string> lines;
  int overlong = 0;
  server::LineSplitter splitter{8, [&](std::string_view l) { lines.emplace_back(l); }, [&] { ++overlong; }};
  // 9 bytes and more are over the limit of 8, also across pieces.
  for (const char* piece : {"ab", "c\n\nde", "f\n12345", "6789", "0123456789", "xx\nok\n12345678\ng"})
    splitter.Feed(piece);
  EXPECT_EQ(overlong, 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"abc", "", "def", "ok", "12345678"}));
  splitter.Finish();
  splitter.Finish();
  EXPECT_EQ(lines.back(), "g");
  EXPECT_EQ(lines.size(), 6u);
  splitter.Feed("123456789");
  splitter.Finish();
  EXPECT_EQ(overlong, 2);
  EXPECT_EQ(lines.size(), 6u);
}

// The line reader against a reference parser: both accept the same texts and
// read them as the same values, number kinds included.
TEST(JsonLineParserTest, AcceptsAndReadsWhatStrictJsonAllows) {
  const std::vector<std::string> lines{
      "0", "-0", "1", "-1", "123456789012", "18446744073709551615", "18446744073709551616",
      "-9223372036854775808", "-9223372036854775809", "1.5", "-1.25e3", "1E+2", "2e-2", "1e-400",
      "1e999", "-1e999", "01", "1.", ".5", "-", "1e", "+1", "0x10", "1.5.3", "NaN",
      R"("")", R"("a\"b\\c\/d\b\f\n\r\t")", R"("\u00e9\u20AC\uD83D\uDE00")", R"("\uD83D")", R"("\uDE00")",
      R"("\uD83Dx")", R"("\u12G4")", R"("\x")", "\"a\tb\"", "\"\xC3\xA9\"", "\"\xE2\x82\xAC\"",
      "\"\xF0\x9F\x98\x80\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"", "\"\xE0\x80\xAF\"",
      "\"\xC3\"", "\"\xFF\"", "\"abc", "true", "false", "null", "tru", "nul", "True",
      "[]", "{}", " [ 1 , [ 2 , { } ] ] ", R"({"a":1,"a":2})", R"({"a":[1,{"b":null}],"c":"d"})",
      "[1,]", "[,1]", "{\"a\"}", "{\"a\":}", "{a:1}", "{\"a\":1,}", "[1 2]", "[1] x", "[1]]", "{\"a\":1}}",
      "\xEF\xBB\xBF[1]", "\t\r\n 7 \n", "[\"x\",-2,3.0,true,false,null]"};
  for (const std::string& line : lines) {
    json expected;
    bool valid = true;
    try {
      expected = json::parse(line);
    } catch (const json::exception&) {
      valid = false;
    }
    try {
      const rpc::ParsedLine got = rpc::ParseJsonLine(line, 64);
      EXPECT_TRUE(valid) << line;
      EXPECT_EQ(got.Doc, expected) << line;
      EXPECT_EQ(got.Doc.type(), expected.type()) << line;
      EXPECT_FALSE(got.TooDeep) << line;
    } catch (const rpc::JsonSyntaxError&) {
      EXPECT_FALSE(valid) << line;
    }
  }
}

TEST(JsonLineParserTest, DepthLimitKeepsTheRestAndStillChecksSyntax) {
  const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  const rpc::ParsedLine ok = rpc::ParseJsonLine(nested(3), 3);
  EXPECT_FALSE(ok.TooDeep);
  EXPECT_EQ(ok.Doc, json::parse(nested(3)));
  // The fourth level is dropped from its parent; its siblings stay.
  const rpc::ParsedLine deep = rpc::ParseJsonLine(R"({"id":7,"p":[1,[[[2]]],3],"q":{"r":{"s":{}}}})", 3);
  EXPECT_TRUE(deep.TooDeep);
  EXPECT_EQ(deep.Doc, json::parse(R"({"id":7,"p":[1,[],3],"q":{"r":{}}})"));
  EXPECT_EQ(deep.IdTexts, std::vector<std::string>{"7"});
  // Far below the limit nothing recurses, and bad syntax down there is still bad.
  EXPECT_TRUE(rpc::ParseJsonLine(nested(1000000), 64).TooDeep);
  for (const std::string& bad : {std::string(3000, '['), std::string(100, '[') + "{\"a\" 1}" + std::string(100, ']'),
                                 std::string(100, '[') + "[1,]" + std::string(100, ']'), nested(100) + "]"})
    EXPECT_THROW(rpc::ParseJsonLine(bad, 64), rpc::JsonSyntaxError) << bad.substr(95, 20);
}

TEST(JsonLineParserTest, IdTextsAreTheRequestsOwnBytes) {
  const rpc::ParsedLine one = rpc::ParseJsonLine(R"({"id" : 1.50e0 ,"id":-9223372036854775809,"x":{"id":2}})", 64);
  EXPECT_EQ(one.IdTexts, std::vector<std::string>{"-9223372036854775809"});
  const rpc::ParsedLine batch =
      rpc::ParseJsonLine(R"([{"id":"a\u0041"},5,{"m":1},{"id":null},{"id":18446744073709551616}])", 64);
  EXPECT_EQ(batch.IdTexts, (std::vector<std::string>{R"("a\u0041")", "", "", "null", "18446744073709551616"}));
  EXPECT_EQ(batch.Doc.size(), batch.IdTexts.size());
}

TEST(JsonLineParserTest, LongIntegerListsInParamsArePackedAndReadAsLists) {
  std::string list = "[";
  for (int i = 0; i < 1500; ++i) list += (i ? ", " : "") + std::to_string(i % 3 == 0 ? -i * 1431655 : i);
  const auto read = [](const json& params) {
    const auto got = rpc::Params(params, {"L"}).Int32List("L");
    return std::vector<int32_t>(got.Storage().begin(), got.Storage().end());
  };
  const std::vector<int32_t> expected = read(json{{"L", json::parse(list + "]")}});
  ASSERT_EQ(expected.size(), 1500u);
  const rpc::ParsedLine one = rpc::ParseJsonLine(R"({"params":{"L":)" + list + "]}}", 64);
  EXPECT_TRUE(one.Doc["params"]["L"].is_binary());
  EXPECT_EQ(read(one.Doc["params"]), expected);
  // A batch's params lie a level deeper; params themselves are never packed.
  const rpc::ParsedLine batch = rpc::ParseJsonLine(R"([{"params":)" + list + "]}," + list + "]]", 64);
  EXPECT_TRUE(batch.Doc[0]["params"].is_array());
  EXPECT_TRUE(batch.Doc[1].is_array());
  // Lists that are short, or hold anything but plain 32-bit integers, stay
  // arrays, so their errors are the ones a list of values gets.
  for (const std::string tail : {"", ", 2147483648", ", -2147483649", ", 1.0", ", 1e2", ", \"7\"", ", null"}) {
    const std::string line = R"({"params":{"L":)" + list + tail + "]}}";
    const json l = rpc::ParseJsonLine(line, 64).Doc["params"]["L"];
    EXPECT_EQ(l.is_binary(), tail.empty()) << tail;
    EXPECT_EQ(l, tail.empty() ? l : json::parse(list + tail + "]")) << tail;
  }
  EXPECT_TRUE(rpc::ParseJsonLine(R"({"params":{"L":[1,2,3]}})", 64).Doc["params"]["L"].is_array());
  for (const std::string bad : {", 01]", ", -]", ",]", " 5]", ", 5"})
    EXPECT_THROW(rpc::ParseJsonLine(R"({"params":{"L":)" + list + bad + "}}", 64), rpc::JsonSyntaxError) << bad;
}

}  // namespace
