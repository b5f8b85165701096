#include "server/JsonRpcEndpoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "server/RpcError.h"
#include "server/RpcParams.h"

using nlohmann::json;
using rpc::JsonRpcEndpoint;

namespace {

// The protocol rules the end-to-end tests do not reach: ids, notifications,
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
  JsonRpcEndpoint endpoint{[this](const std::string& l) { lines.push_back(l); }};
};

TEST_F(JsonRpcEndpointTest, BlankLinesAreIgnoredAndOutputThatIsNotUtf8IsRepaired) {
  EXPECT_TRUE(Feed("   ").empty());
  EXPECT_TRUE(Feed("").empty());
  EXPECT_EQ(Single("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"Echo\",\"params\":[3]}\r"),
            json::parse(R"({"jsonrpc":"2.0","id":1,"result":[3]})"));
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":1,"method":"Bytes"})")["result"], "a\xEF\xBF\xBD" "b");
}

TEST_F(JsonRpcEndpointTest, InvalidRequestsKeepTheirIdWhenTheyHaveOne) {
  const std::vector<std::pair<std::string, json>> invalid{
      {"42", nullptr},
      {R"({"id":1,"method":"Echo"})", 1},
      {R"({"jsonrpc":"1.0","id":2,"method":"Echo"})", 2},
      {R"({"jsonrpc":"2.0","id":3,"method":5})", 3},
      {R"({"jsonrpc":"2.0","id":4,"method":"Echo","params":"x"})", 4},
      {R"({"jsonrpc":"2.0","id":{"a":1},"method":"Echo"})", nullptr},
  };
  for (const auto& [line, id] : invalid) {
    const json a = Single(line);
    EXPECT_EQ(a["error"]["code"], -32600) << line;
    EXPECT_EQ(a["id"], id) << line;
  }
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":1,"method":"echo"})")["error"]["code"], -32601);
  EXPECT_TRUE(Single("[}")["id"].is_null());
}

TEST_F(JsonRpcEndpointTest, NotificationsRunUnansweredAlsoInBatches) {
  EXPECT_TRUE(Feed(R"({"jsonrpc":"2.0","method":"Fails"})").empty());
  EXPECT_TRUE(Feed(R"([{"jsonrpc":"2.0","method":"Echo"}])").empty());
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

TEST_F(JsonRpcEndpointTest, DeepNestingInsideARequestIsRefused) {
  const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  // Deep enough that copying or writing the value recursively would overflow the stack.
  const json deepParams = Single(R"({"jsonrpc":"2.0","id":4,"method":"Echo","params":)" + nested(200000) + "}");
  EXPECT_EQ(deepParams["id"], 4);
  EXPECT_EQ(deepParams["error"]["code"], -32600);
  const json deepId = Single(R"({"jsonrpc":"2.0","method":"Echo","id":)" + nested(200000) + "}");
  EXPECT_TRUE(deepId["id"].is_null());
  EXPECT_EQ(deepId["error"]["code"], -32600);
  // The request at depth 0, its params from depth 1 down to depth 63, passes.
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":5,"method":"Echo","params":)" + nested(63) + "}")["result"],
            json::parse(nested(63)));
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":6,"method":"Echo","params":)" + nested(64) + "}")["error"]["code"],
            -32600);
}

TEST_F(JsonRpcEndpointTest, ALineWithANulByteIsOneInvalidMessage) {
  using namespace std::string_literals;
  const std::vector<std::string> nulLines{
      R"({"jsonrpc":"2.0","id":1,"method":"Chatty"})"s + '\0' + R"({"jsonrpc":"2.0","id":2,"method":"Chatty"})",
      R"({"jsonrpc":"2.0","id":3,"method":"Chatty"})"s + '\0',
      "{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"Chat\0ty\"}"s,
      R"([{"jsonrpc":"2.0","id":5,"method":"Chatty"})"s + '\0' + "]", "\0"s, "7\0"s};
  for (const std::string& line : nulLines) {
    json a = Single(line);
    EXPECT_EQ(a["error"]["code"], -32700) << json(line).dump();
    EXPECT_TRUE(a["id"].is_null());
  }
  EXPECT_EQ(calls, 0);  // no part of any line ran
}

TEST_F(JsonRpcEndpointTest, IdsAreEchoedAsTheTextTheyWereSentAs) {
  // Whatever the answer: a result, a method error, an invalid request, a batch member.
  for (const std::string id : {"-9223372036854775809", "18446744073709551616", "123456789012345678901234567890",
                               "-0", "1.50", "2E+3", "0.1", R"("\u0041b")", "null", "7"}) {
    for (const char* method : {"Echo", "Fails", "Missing"}) {
      Feed(R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + std::string(method) + R"("})");
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("\"id\":" + id + ","), std::string::npos) << lines[0];
    }
    Feed(R"({"jsonrpc":"1.0","id":)" + id + "}");
    EXPECT_NE(lines.at(0).find("\"id\":" + id + ","), std::string::npos) << lines[0];
    Feed(R"([{"jsonrpc":"2.0","id":1,"method":"Echo"},{"jsonrpc":"2.0","id":)" + id + R"(,"method":"Echo"}])");
    EXPECT_NE(lines.at(0).find("},{\"id\":" + id + ","), std::string::npos) << lines[0];
    Feed(R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"Echo","params":)" + std::string(70, '[') +
         std::string(70, ']') + "}");
    EXPECT_NE(lines.at(0).find("\"id\":" + id + ","), std::string::npos) << lines[0];
  }
}

// A batch of 80000 requests is answered whole, each answer in its place. A
// scan of the batch per member (as before) takes longer than the suite's
// time limit, so that fault fails the test without the test timing anything.
TEST_F(JsonRpcEndpointTest, AHugeBatchIsAnsweredWholeAndInOrder) {
  constexpr int kCount = 80000;
  std::string line = "[";
  for (int i = 0; i < kCount; ++i)
    line += (i ? "," : "") + std::string(R"({"jsonrpc":"2.0","id":)") + std::to_string(i) + R"(,"method":"Echo"})";
  line += "]";
  endpoint.HandleLine(line);
  ASSERT_EQ(lines.size(), 1u);
  const json answers = json::parse(lines.back());
  ASSERT_EQ(answers.size(), static_cast<size_t>(kCount));
  EXPECT_EQ(answers.front()["id"], 0);
  EXPECT_EQ(answers.back()["id"], kCount - 1);
}

TEST(RpcParamsTest, TypesAndRangesAreChecked) {
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
    const rpc::Params params(p, {"v"});
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
      EXPECT_THROW(read(), rpc::RpcError) << text;
    } else {
      EXPECT_EQ(read(), expected) << text;
    }
  }
}

TEST(RpcParamsTest, NamesArePositionsOrKnownKeys) {
  const json positions = json::parse("[1,2]");
  const rpc::Params byPos(positions, {"a", "b", "c"});
  EXPECT_EQ(byPos.Int32("b"), 2);
  EXPECT_FALSE(byPos.Has("c"));
  try {
    byPos.Int32("c");
    FAIL();
  } catch (const rpc::RpcError& e) {
    EXPECT_EQ(e.Code(), rpc::kInvalidParams);
    EXPECT_NE(std::string(e.what()).find("\"c\""), std::string::npos) << e.what();
  }
  EXPECT_THROW(rpc::Params(json::parse("[1,2,3]"), {"a", "b"}), rpc::RpcError);
  EXPECT_THROW(rpc::Params(json::parse(R"({"FmtChannel":2})"), {"FmtChannal"}), rpc::RpcError);
  for (const char* ok : {"{}", "[]", "null"}) EXPECT_NO_THROW(rpc::ExpectNoParams(json::parse(ok))) << ok;
  EXPECT_THROW(rpc::ExpectNoParams(json::parse(R"({"x":1})")), rpc::RpcError);
}

}  // namespace
