#include "server/JsonRpcEndpoint.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/RpcError.h"
#include "server/RpcParams.h"

using nlohmann::json;
using rpc::JsonRpcEndpoint;

namespace {

class JsonRpcEndpointTest : public ::testing::Test {
 protected:
  JsonRpcEndpointTest() {
    endpoint.AddMethod("Echo", [](const json& params) { return params; });
    endpoint.AddMethod("Chatty", [this](const json&) {
      endpoint.Notify("Note", {{"n", 1}});
      endpoint.Notify("Note", {{"n", 2}});
      ++calls;
      return json("done");
    });
    endpoint.AddMethod("Fails", [](const json&) -> json { throw std::runtime_error("Subscript out of range"); });
    endpoint.AddMethod("Typed", [](const json& params) {
      return json(rpc::Params(params, {"a"}).Int32("a"));
    });
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

TEST_F(JsonRpcEndpointTest, AnswersCarryTheIdAndTheResult) {
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":7,"method":"Echo","params":{"x":[1,2]}})"),
            json::parse(R"({"jsonrpc":"2.0","id":7,"result":{"x":[1,2]}})"));
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":"abc","method":"Echo"})"),
            json::parse(R"({"jsonrpc":"2.0","id":"abc","result":null})"));
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":null,"method":"Echo","params":[3]})")["result"], json::array({3}));
  EXPECT_TRUE(Feed("   ").empty());
  EXPECT_TRUE(Feed("").empty());
  EXPECT_EQ(Single("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"Echo\"}\r")["id"], 1);
}

TEST_F(JsonRpcEndpointTest, ErrorCodesFollowJsonRpc) {
  auto code = [&](const std::string& line) { return Single(line)["error"]["code"].get<int>(); };
  EXPECT_EQ(code("not json"), -32700);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":"Echo")"), -32700);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":"Echo","params":[1e999]})"), -32700);
  EXPECT_EQ(code("42"), -32600);
  EXPECT_EQ(code(R"({"id":1,"method":"Echo"})"), -32600);
  EXPECT_EQ(code(R"({"jsonrpc":"1.0","id":1,"method":"Echo"})"), -32600);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":5})"), -32600);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":"Echo","params":"x"})"), -32600);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":{"a":1},"method":"Echo"})"), -32600);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":"echo"})"), -32601);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":"Typed","params":{"a":2147483648}})"), -32602);
  EXPECT_EQ(code(R"({"jsonrpc":"2.0","id":1,"method":"Typed","params":{}})"), -32602);
  const json failed = Single(R"({"jsonrpc":"2.0","id":9,"method":"Fails"})");
  EXPECT_EQ(failed["id"], 9);
  EXPECT_EQ(failed["error"]["code"], -32000);
  EXPECT_EQ(failed["error"]["message"], "Subscript out of range");
  // The id of a request that is invalid for another reason is kept.
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":3,"method":5})")["id"], 3);
  EXPECT_TRUE(Single("[}")["id"].is_null());
}

TEST_F(JsonRpcEndpointTest, NotificationsRunButAreNotAnswered) {
  EXPECT_TRUE(Feed(R"({"jsonrpc":"2.0","method":"Fails"})").empty());
  EXPECT_TRUE(Feed(R"({"jsonrpc":"2.0","method":"NoSuchThing"})").empty());
  const auto out = Feed(R"({"jsonrpc":"2.0","method":"Chatty"})");
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(out.size(), 2u);  // only what the method itself wrote
  EXPECT_EQ(out[0]["method"], "Note");
}

TEST_F(JsonRpcEndpointTest, WhatAMethodWritesPrecedesItsAnswerInOrder) {
  const auto out = Feed(R"({"jsonrpc":"2.0","id":1,"method":"Chatty"})");
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], json::parse(R"({"jsonrpc":"2.0","method":"Note","params":{"n":1}})"));
  EXPECT_EQ(out[1]["params"]["n"], 2);
  EXPECT_EQ(out[2]["result"], "done");
}

TEST_F(JsonRpcEndpointTest, BatchesAreAnsweredAsOneArray) {
  const auto out = Feed(
      R"([{"jsonrpc":"2.0","id":1,"method":"Chatty"},{"jsonrpc":"2.0","method":"Chatty"},)"
      R"(7,{"jsonrpc":"2.0","id":2,"method":"Nope"},{"jsonrpc":"2.0","id":3,"method":"Echo","params":[1]}])");
  ASSERT_EQ(out.size(), 5u);  // four notes, then the answers
  EXPECT_EQ(out[3]["method"], "Note");
  const json& answers = out[4];
  ASSERT_TRUE(answers.is_array());
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[0]["id"], 1);
  EXPECT_EQ(answers[1]["error"]["code"], -32600);
  EXPECT_EQ(answers[2]["error"]["code"], -32601);
  EXPECT_EQ(answers[3]["result"], json::array({1}));
  EXPECT_EQ(calls, 2);

  EXPECT_EQ(Single("[]")["error"]["code"], -32600);
  EXPECT_TRUE(Feed(R"([{"jsonrpc":"2.0","method":"Echo"}])").empty());
  const json bad = Single("[1,2]");
  ASSERT_TRUE(bad.is_array());
  EXPECT_EQ(bad.size(), 2u);
}

TEST_F(JsonRpcEndpointTest, DeepNestingIsRefusedAndTheEndpointGoesOn) {
  const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  // Deep enough that copying or writing the value recursively would overflow the stack.
  const json deepParams = Single(R"({"jsonrpc":"2.0","id":4,"method":"Echo","params":)" + nested(200000) + "}");
  EXPECT_EQ(deepParams["id"], 4);
  EXPECT_EQ(deepParams["error"]["code"], -32600);
  const json deepId = Single(R"({"jsonrpc":"2.0","method":"Echo","id":)" + nested(200000) + "}");
  EXPECT_TRUE(deepId["id"].is_null());
  EXPECT_EQ(deepId["error"]["code"], -32600);
  EXPECT_EQ(Single(nested(200000))["error"]["code"], -32600);
  // What a request needs (and more) still passes: the request at depth 0, its
  // params from depth 1 down to depth 63.
  const json ok = Single(R"({"jsonrpc":"2.0","id":5,"method":"Echo","params":)" + nested(63) + "}");
  EXPECT_EQ(ok["result"], json::parse(nested(63)));
  EXPECT_EQ(Single(R"({"jsonrpc":"2.0","id":6,"method":"Echo","params":)" + nested(64) + "}")["error"]["code"],
            -32600);
}

TEST_F(JsonRpcEndpointTest, InvalidUtf8IsReplacedNotLost) {
  endpoint.AddMethod("Bytes", [](const json&) { return json(std::string("a\xff" "b")); });
  const auto out = Feed(R"({"jsonrpc":"2.0","id":1,"method":"Bytes"})");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]["result"], "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Single("\"\xff\"")["error"]["code"], -32700);
}

TEST(RpcParamsTest, TypesAndRangesAreChecked) {
  const json p = json::parse(
      R"({"i":-2147483648,"u":2147483647,"f":5.0,"big":2147483648,"frac":1.5,"b":true,"s":"x",)"
      R"("t":0.001,"huge":1e39,"list":[3,-1,4.0],"badlist":[1,"2"],"nul":"a\u0000b",)"
      R"("fmax":3.4028235e38,"nfmax":-3.4028235e38,"over":3.40282357e38})");
  const rpc::Params params(
      p, {"i", "u", "f", "big", "frac", "b", "s", "t", "huge", "list", "badlist", "nul", "gone", "fmax", "nfmax", "over"});
  EXPECT_EQ(params.Int32("i"), INT32_MIN);
  EXPECT_EQ(params.Int32("u"), INT32_MAX);
  EXPECT_EQ(params.Int32("f"), 5);
  EXPECT_THROW(params.Int32("big"), rpc::RpcError);
  EXPECT_THROW(params.Int32("frac"), rpc::RpcError);
  EXPECT_THROW(params.Int32("b"), rpc::RpcError);
  EXPECT_TRUE(params.Bool("b"));
  EXPECT_THROW(params.Bool("i"), rpc::RpcError);
  EXPECT_EQ(params.Float32("t"), 0.001f);
  EXPECT_THROW(params.Float32("huge"), rpc::RpcError);
  // The largest float as float writers print it, and just beyond what rounds to it.
  EXPECT_EQ(params.Float32("fmax"), std::numeric_limits<float>::max());
  EXPECT_EQ(params.Float32("nfmax"), -std::numeric_limits<float>::max());
  EXPECT_THROW(params.Float32("over"), rpc::RpcError);
  EXPECT_EQ(params.String("s"), "x");
  EXPECT_THROW(params.String("nul"), rpc::RpcError);
  const auto list = params.Int32List("list");
  EXPECT_EQ(list.LBound(), 1);
  EXPECT_EQ(list.UBound(), 3);
  EXPECT_EQ(list(1), 3);
  EXPECT_EQ(list(3), 4);
  EXPECT_THROW(params.Int32List("badlist"), rpc::RpcError);
  EXPECT_FALSE(params.Has("gone"));
  try {
    params.Int32("gone");
    FAIL();
  } catch (const rpc::RpcError& e) {
    EXPECT_EQ(e.Code(), rpc::kInvalidParams);
    EXPECT_NE(std::string(e.what()).find("\"gone\""), std::string::npos);
  }
}

TEST(RpcParamsTest, NamesArePositionsOrKnownKeys) {
  const json positions = json::parse("[1,2]");
  const rpc::Params byPos(positions, {"a", "b", "c"});
  EXPECT_EQ(byPos.Int32("b"), 2);
  EXPECT_FALSE(byPos.Has("c"));
  EXPECT_THROW(rpc::Params(json::parse("[1,2,3]"), {"a", "b"}), rpc::RpcError);
  EXPECT_THROW(rpc::Params(json::parse(R"({"FmtChannel":2})"), {"FmtChannal"}), rpc::RpcError);
  EXPECT_NO_THROW(rpc::ExpectNoParams(json::parse("{}")));
  EXPECT_NO_THROW(rpc::ExpectNoParams(json::parse("[]")));
  EXPECT_NO_THROW(rpc::ExpectNoParams(json()));
  EXPECT_THROW(rpc::ExpectNoParams(json::parse(R"({"x":1})")), rpc::RpcError);
}

}  // namespace
