// A request line from the input to its answer: the line splitter, the JSON
// line parser, the endpoint and the typed params.

#include "server/JsonRpcEndpoint.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "server/JsonLineParser.h"
#include "server/LineSplitter.h"
#include "server/RpcError.h"
#include "server/RpcParams.h"

using nlohmann::json;

namespace {

// The protocol rules: refused lines and their codes, ids, notifications,
// batches, nesting limits inside requests, bytes that are not UTF-8.
class JsonRpcEndpointTest : public ::testing::Test {
 protected:
  JsonRpcEndpointTest() {
    endpoint.AddMethod("Echo", [](const json& params) { return params; });
    endpoint.AddMethod("Chatty", [this](const json&) {
      endpoint.Notify("Note", {{"n", ++calls}});
      return json("done");
    });
    endpoint.AddMethod("Fails", [](const json&) -> json { throw std::runtime_error("Subscript out of range"); });
    endpoint.AddMethod("Bytes", [](const json&) { return json(std::string("a\xff" "b")); });
  }

  // Feeds one line and returns what was written, parsed.
  std::vector<json> Feed(const std::string& line) {
    lines.clear();
    endpoint.HandleLine(line);
    std::vector<json> out;
    for (const auto& l : lines) out.push_back(json::parse(l));
    return out;
  }
  json Single(const std::string& line) {
    auto out = Feed(line);
    EXPECT_EQ(out.size(), 1u) << line;
    return out.empty() ? json() : out[0];
  }

  std::vector<std::string> lines;
  int calls = 0;
  server::JsonRpcEndpoint endpoint{[this](const std::string& l) { lines.push_back(l); }};
};

TEST_F(JsonRpcEndpointTest, RefusedLinesGetOneErrorWithTheirIdWhenTheyHaveOneAndNothingRuns) {
  using namespace std::string_literals;
  const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  // A line, the error code of its one answer and the id that answer carries.
  const std::vector<std::tuple<std::string, int, json>> refused{
      {"42", -32600, nullptr},
      {R"({"id":1,"method":"Echo"})", -32600, 1},
      {R"({"jsonrpc":"1.0","id":2,"method":"Echo"})", -32600, 2},
      {R"({"jsonrpc":"2.0","id":3,"method":5})", -32600, 3},
      {R"({"jsonrpc":"2.0","id":4,"method":"Echo","params":"x"})", -32600, 4},
      {R"({"jsonrpc":"2.0","id":{"a":1},"method":"Echo"})", -32600, nullptr},
      // Nested deeper than 64 levels; the id deep enough that copying or
      // writing it recursively would overflow the stack.
      {R"({"jsonrpc":"2.0","method":"Echo","id":)" + nested(200000) + "}", -32600, nullptr},
      {R"({"jsonrpc":"2.0","id":6,"method":"Echo","params":)" + nested(64) + "}", -32600, 6},
      {R"({"jsonrpc":"2.0","id":1,"method":"echo"})", -32601, 1},
      {"[}", -32700, nullptr},
      // A NUL byte anywhere makes the whole line one message that is not JSON.
      {R"({"jsonrpc":"2.0","id":1,"method":"Chatty"})"s + '\0' + R"({"jsonrpc":"2.0","id":2,"method":"Chatty"})",
       -32700, nullptr},
      {R"({"jsonrpc":"2.0","id":3,"method":"Chatty"})"s + '\0', -32700, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"Chat\0ty\"}"s, -32700, nullptr},
      {R"([{"jsonrpc":"2.0","id":5,"method":"Chatty"})"s + '\0' + "]", -32700, nullptr},
      {"\0"s, -32700, nullptr},
      {"7\0"s, -32700, nullptr}};
  for (const auto& [line, code, id] : refused) {
    const json a = Single(line);
    EXPECT_EQ(a["error"]["code"], code) << json(line.substr(0, 80)).dump();
    EXPECT_EQ(a["id"], id) << json(line.substr(0, 80)).dump();
  }
  EXPECT_EQ(calls, 0);  // no part of any line ran
  // The request at depth 0, its params from depth 1 down to depth 63, passes.
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":5,"method":"Echo","params":)" + nested(63) + "}")["result"],
            json::parse(nested(63)));
}

TEST_F(JsonRpcEndpointTest, BlankLinesAndNotificationsGoUnanswered) {
  for (const std::string line : {"   ", "", R"({"jsonrpc":"2.0","method":"Fails"})",
                                 R"([{"jsonrpc":"2.0","method":"Echo"}])"})
    EXPECT_TRUE(Feed(line).empty()) << line;
}

TEST_F(JsonRpcEndpointTest, ACarriageReturnBeforeTheLineEndIsNotPartOfTheRequest) {
  EXPECT_EQ(Single("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"Echo\",\"params\":[3]}\r"),
            json::parse(R"({"jsonrpc":"2.0","id":1,"result":[3]})"));
}

TEST_F(JsonRpcEndpointTest, AnAnswerThatIsNotUtf8IsRepaired) {
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":1,"method":"Bytes"})")["result"], "a\xEF\xBF\xBD" "b");
}

TEST_F(JsonRpcEndpointTest, ABatchAnswersInOneArrayAfterTheNotificationsItsCallsRaise) {
  const auto out = Feed(
      R"([{"jsonrpc":"2.0","id":1,"method":"Chatty"},{"jsonrpc":"2.0","method":"Chatty"},)"
      R"(7,{"jsonrpc":"2.0","id":3,"method":"Echo","params":[1]}])");
  ASSERT_EQ(out.size(), 3u);  // two notes, then the answers
  EXPECT_EQ(out[1], json::parse(R"({"jsonrpc":"2.0","method":"Note","params":{"n":2}})"));
  ASSERT_EQ(out[2].size(), 3u);
  EXPECT_EQ(out[2][0], json::parse(R"({"jsonrpc":"2.0","id":1,"result":"done"})"));
  EXPECT_EQ(out[2][1]["error"]["code"], -32600);
  EXPECT_TRUE(out[2][1]["id"].is_null());
  EXPECT_EQ(out[2][2], json::parse(R"({"jsonrpc":"2.0","id":3,"result":[1]})"));
}

TEST_F(JsonRpcEndpointTest, IdsAreEchoedAsTheTextTheyWereSentAs) {
  // Whatever the answer: a result, a method error, an invalid request, a batch
  // member, params nested too deep. (Which text each kind of id reads as is
  // the line parser's test.)
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  for (const std::string id : {"-9223372036854775809", "1.50", R"("\u0041b")"}) {
    for (const char* method : {"Echo", "Fails", "Missing"}) {
      Feed(R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + std::string(method) + R"("})");
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("\"id\":" + id + ","), std::string::npos) << lines[0];
    }
    Feed(R"({"jsonrpc":"1.0","id":)" + id + "}");
    EXPECT_NE(lines.at(0).find("\"id\":" + id + ","), std::string::npos) << lines[0];
    Feed(R"([{"jsonrpc":"2.0","id":1,"method":"Echo"},{"jsonrpc":"2.0","id":)" + id + R"(,"method":"Echo"}])");
    EXPECT_NE(lines.at(0).find("},{\"id\":" + id + ","), std::string::npos) << lines[0];
    Feed(R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"Echo","params":)" + deep + "}");
    EXPECT_NE(lines.at(0).find("\"id\":" + id + ","), std::string::npos) << lines[0];
    EXPECT_NE(lines.at(0).find(R"("error":{"code":-32600,)"), std::string::npos) << lines[0];
  }
}

TEST(RpcParamsTest, EachAccessorTakesItsTypeInItsRangeAndRefusesTheRest) {
  // A value, the accessor that reads it, and what it reads (null: refused).
  const std::vector<std::tuple<const char*, char, json>> cases{
      {"-2147483648", 'i', INT32_MIN}, {"2147483647", 'i', INT32_MAX}, {"5.0", 'i', 5}, {"2147483648", 'i', nullptr},
      {"1.5", 'i', nullptr}, {"true", 'i', nullptr}, {"true", 'b', true}, {"1", 'b', nullptr}, {"0.001", 'f', 0.001f},
      // The largest float as float writers print it, and just beyond what rounds to it.
      {"3.4028235e38", 'f', std::numeric_limits<float>::max()},
      {"-3.4028235e38", 'f', -std::numeric_limits<float>::max()},
      {"3.40282357e38", 'f', nullptr}, {"1e39", 'f', nullptr}, {R"("x")", 's', "x"}, {R"("a\u0000b")", 's', nullptr},
      {"[3,-1,4.0]", 'l', json::array({1, 3, -1, 4})},  // the lower bound, then the elements
      {R"([1,"2"])", 'l', nullptr}};
  for (const auto& [text, kind, expected] : cases) {
    const json p{{"v", json::parse(text)}};
    const server::Params params(p, {"v"});
    const auto read = [&, k = kind]() -> json {
      if (k == 'i') return params.Int32("v");
      if (k == 'b') return params.Bool("v");
      if (k == 'f') return params.Float32("v");
      if (k == 's') return params.String("v");
      const auto list = params.Int32List("v");
      json out = json::array({list.LBound()});
      for (int32_t i = list.LBound(); i <= list.UBound(); ++i) out.push_back(list(i));
      return out;
    };
    if (expected.is_null()) {
      EXPECT_THROW(read(), server::RpcError) << text;
    } else {
      EXPECT_EQ(read(), expected) << text;
    }
  }
}

TEST(RpcParamsTest, ParamsArePositionsInTheArgumentOrderOrKnownNames) {
  const json positions = json::parse("[1,2]");
  const server::Params byPos(positions, {"a", "b", "c"});
  EXPECT_EQ(byPos.Int32("b"), 2);
  EXPECT_FALSE(byPos.Has("c"));
  EXPECT_THAT([&] { byPos.Int32("c"); },
              testing::Throws<server::RpcError>(
                  testing::AllOf(testing::Property(&server::RpcError::Code, server::kInvalidParams),
                                 testing::Property(&server::RpcError::what, testing::HasSubstr("\"c\"")))));
  EXPECT_THROW(server::Params(json::parse("[1,2,3]"), {"a", "b"}), server::RpcError);
  EXPECT_THROW(server::Params(json::parse(R"({"FmtChannel":2})"), {"FmtChannal"}), server::RpcError);
}

TEST(LineSplitterTest, LinesComeWholeAcrossPiecesAndOverlongOnesAreSkippedAndCounted) {
  std::vector<std::string> lines;
  int overlong = 0;
  server::LineSplitter splitter{8, [&](std::string_view l) { lines.emplace_back(l); }, [&] { ++overlong; }};
  // 9 bytes and more are over the limit of 8, also across pieces.
  for (const char* piece : {"ab", "c\n\nde", "f\n12345", "6789", "0123456789", "xx\nok\n12345678\n"})
    splitter.Feed(piece);
  EXPECT_EQ(overlong, 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"abc", "", "def", "ok", "12345678"}));
}

TEST(LineSplitterTest, AnUnterminatedLastLineComesOnceAtTheEndUnlessItIsOverlong) {
  std::vector<std::string> lines;
  int overlong = 0;
  server::LineSplitter splitter{8, [&](std::string_view l) { lines.emplace_back(l); }, [&] { ++overlong; }};
  splitter.Feed("ok\ng");
  splitter.Finish();
  splitter.Finish();
  EXPECT_EQ(lines, (std::vector<std::string>{"ok", "g"}));
  splitter.Feed("123456789");
  splitter.Finish();
  EXPECT_EQ(overlong, 1);
  EXPECT_EQ(lines.size(), 2u);
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
    const json expected = json::parse(line, nullptr, /*allow_exceptions=*/false);
    const bool valid = !expected.is_discarded();
    try {
      const server::ParsedLine got = server::ParseJsonLine(line, 64);
      EXPECT_TRUE(valid) << line;
      EXPECT_EQ(got.Doc, expected) << line;
      EXPECT_EQ(got.Doc.type(), expected.type()) << line;
      EXPECT_FALSE(got.TooDeep) << line;
    } catch (const server::JsonSyntaxError&) {
      EXPECT_FALSE(valid) << line;
    }
  }
}

TEST(JsonLineParserTest, TheDepthLimitDropsWhatLiesDeeperKeepsTheRestAndStillChecksSyntax) {
  const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  const server::ParsedLine ok = server::ParseJsonLine(nested(3), 3);
  EXPECT_FALSE(ok.TooDeep);
  EXPECT_EQ(ok.Doc, json::parse(nested(3)));
  // The fourth level is dropped from its parent; its siblings stay.
  const server::ParsedLine deep = server::ParseJsonLine(R"({"id":7,"p":[1,[[[2]]],3],"q":{"r":{"s":{}}}})", 3);
  EXPECT_TRUE(deep.TooDeep);
  EXPECT_EQ(deep.Doc, json::parse(R"({"id":7,"p":[1,[],3],"q":{"r":{}}})"));
  EXPECT_EQ(deep.IdTexts, std::vector<std::string>{"7"});
  // Far below the limit nothing recurses, and bad syntax down there is still bad.
  EXPECT_TRUE(server::ParseJsonLine(nested(1000000), 64).TooDeep);
  for (const std::string& bad : {std::string(3000, '['), std::string(100, '[') + "{\"a\" 1}" + std::string(100, ']'),
                                 std::string(100, '[') + "[1,]" + std::string(100, ']'), nested(100) + "]"})
    EXPECT_THROW(server::ParseJsonLine(bad, 64), server::JsonSyntaxError) << bad.substr(95, 20);
}

TEST(JsonLineParserTest, IdTextsAreTheRequestsOwnBytes) {
  for (const std::string id : {"-9223372036854775809", "18446744073709551616", "123456789012345678901234567890",
                               "-0", "1.50", "2E+3", "0.1", R"("\u0041b")", "null", "7"})
    EXPECT_EQ(server::ParseJsonLine(R"({"id":)" + id + "}", 64).IdTexts, std::vector<std::string>{id});
  const server::ParsedLine one = server::ParseJsonLine(R"({"id" : 1.50e0 ,"id":-9223372036854775809,"x":{"id":2}})", 64);
  EXPECT_EQ(one.IdTexts, std::vector<std::string>{"-9223372036854775809"});
  const server::ParsedLine batch =
      server::ParseJsonLine(R"([{"id":"a\u0041"},5,{"m":1},{"id":null},{"id":18446744073709551616}])", 64);
  EXPECT_EQ(batch.IdTexts, (std::vector<std::string>{R"("a\u0041")", "", "", "null", "18446744073709551616"}));
  EXPECT_EQ(batch.Doc.size(), batch.IdTexts.size());
}

TEST(JsonLineParserTest, LongIntegerListsInParamsArePackedAndReadAsLists) {
  std::string list = "[";
  for (int i = 0; i < 1500; ++i) list += (i ? ", " : "") + std::to_string(i % 3 == 0 ? -i * 1431655 : i);
  const auto read = [](const json& params) {
    const auto got = server::Params(params, {"L"}).Int32List("L");
    return std::vector<int32_t>(got.Storage().begin(), got.Storage().end());
  };
  const std::vector<int32_t> expected = read(json{{"L", json::parse(list + "]")}});
  ASSERT_EQ(expected.size(), 1500u);
  const server::ParsedLine one = server::ParseJsonLine(R"({"params":{"L":)" + list + "]}}", 64);
  EXPECT_TRUE(one.Doc["params"]["L"].is_binary());
  EXPECT_EQ(read(one.Doc["params"]), expected);
  // A batch's params lie a level deeper; params themselves are never packed.
  const server::ParsedLine batch = server::ParseJsonLine(R"([{"params":)" + list + "]}," + list + "]]", 64);
  EXPECT_TRUE(batch.Doc[0]["params"].is_array());
  EXPECT_TRUE(batch.Doc[1].is_array());
  // Lists that are short, or hold anything but plain 32-bit integers, stay
  // arrays, so their errors are the ones a list of values gets.
  for (const std::string tail : {"", ", 2147483648", ", -2147483649", ", 1.0", ", 1e2", ", \"7\"", ", null"}) {
    const std::string line = R"({"params":{"L":)" + list + tail + "]}}";
    const json l = server::ParseJsonLine(line, 64).Doc["params"]["L"];
    EXPECT_EQ(l.is_binary(), tail.empty()) << tail;
    EXPECT_EQ(l, tail.empty() ? l : json::parse(list + tail + "]")) << tail;
  }
  EXPECT_TRUE(server::ParseJsonLine(R"({"params":{"L":[1,2,3]}})", 64).Doc["params"]["L"].is_array());
  for (const std::string bad : {", 01]", ", -]", ",]", " 5]", ", 5"})
    EXPECT_THROW(server::ParseJsonLine(R"({"params":{"L":)" + list + bad + "}}", 64), server::JsonSyntaxError) << bad;
}

}  // namespace
