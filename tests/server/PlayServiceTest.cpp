#include "server/PlayService.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "facade/PlayDllClass.h"
#include "server/TypeLibrary.h"
#include "tests/facade/FakeEngines.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;

namespace {

// The service in-process, on scripted engines and the virtual clock.
class PlayServiceTest : public ::testing::Test {
 protected:
  PlayServiceTest() {
    play.SetEndOfProcessHook([this] { ended = true; });
  }

  // Sends one request; returns every line written, parsed.
  std::vector<json> Call(const std::string& method, const json& params = nullptr) {
    json request{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}};
    if (!params.is_null()) request["params"] = params;
    lines.clear();
    endpoint.HandleLine(request.dump());
    std::vector<json> out;
    for (const auto& l : lines) out.push_back(json::parse(l));
    return out;
  }
  json Answer(const std::string& method, const json& params = nullptr) {
    auto out = Call(method, params);
    return out.empty() ? json() : out.back();
  }
  // The (Msg, Ttl) pairs of the MsgBoxOb notifications among `out`.
  static std::vector<std::string> Reports(const std::vector<json>& out) {
    std::vector<std::string> r;
    for (const json& m : out)
      if (m.value("method", "") == "MsgBoxOb") r.push_back(m["params"]["Msg"].get<std::string>() + "|" +
                                                          m["params"]["Ttl"].get<std::string>());
    return r;
  }

  testing_support::SimWorld world;
  testing_support::FakeScript script;
  PlayDllClass play{world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)};
  std::vector<std::string> lines;
  rpc::JsonRpcEndpoint endpoint{[this](const std::string& l) { lines.push_back(l); }};
  int released = 0;
  bool ended = false;
  PlayService service{play, endpoint,
                      PlayService::Hooks{[this](int32_t ms) {
                                           world.loop.RunFor(ms);
                                           return world.loop.NowUs() / 1000;
                                         },
                                         [this] { ++released; }}};
  int id = 0;
};

TEST_F(PlayServiceTest, DxObjAnswersTheByReferenceValue) {
  EXPECT_EQ(Answer("DxObj", {{"MFrmHwnd", 77}})["result"], json({{"MFrmHwnd", 1}}));
  EXPECT_EQ(play.DriverType(), 3);
  EXPECT_EQ(Answer("DxObj", {{"MFrmHwnd", -5}})["result"]["MFrmHwnd"], -5);
  EXPECT_EQ(play.DriverType(), 0);
  script.dx9Accepts = false;
  script.dx7Accepts = false;
  EXPECT_EQ(Answer("DxObj", json::array({9}))["result"]["MFrmHwnd"], 2);
  EXPECT_EQ(play.DriverType(), 2);
  const auto calls = script.calls.size();
  EXPECT_EQ(Answer("DxObj", {{"MFrmHwnd", 1.5}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("DxObj", {{"MFrmHwnd", 4294967297LL}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("DxObj")["error"]["code"], -32602);
  EXPECT_EQ(script.calls.size(), calls);  // a refused call reached no engine
  EXPECT_EQ(play.DriverType(), 2);
}

TEST_F(PlayServiceTest, PropertiesStoreTheirValues) {
  EXPECT_TRUE(Answer("PlayTempoRev", {{"value", -3}})["result"].is_null());
  EXPECT_EQ(world.ctx.Mod.PlayTempoRev, -3.0f);
  EXPECT_TRUE(Answer("PlayTempoFor", {{"value", 0.1}})["result"].is_null());
  EXPECT_EQ(world.ctx.Mod.PlayTempoFor, 0.1f);
  Answer("LoopPlayON", {{"value", true}});
  EXPECT_TRUE(world.ctx.Mod.LoopPlayON);
  Answer("MemorySizeToUse", {{"value", 1 << 20}});
  EXPECT_EQ(world.ctx.Mod.MemorySizeToUse, 1 << 20);
  Answer("AppTmpDir", {{"value", "/tmp/x y"}});
  EXPECT_EQ(world.ctx.Mod.AppTmpDir, "/tmp/x y");

  EXPECT_EQ(Answer("MemorySizeToUse", {{"value", 2147483648LL}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("LoopPlayON", {{"value", 1}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("PlayTempoFor", {{"value", "fast"}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("PlayTempoFor", {{"Value", 1}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("AppTmpDir", {{"value", 5}})["error"]["code"], -32602);
  EXPECT_EQ(world.ctx.Mod.MemorySizeToUse, 1 << 20);
  EXPECT_EQ(world.ctx.Mod.PlayTempoFor, 0.1f);
  EXPECT_EQ(Answer("PlayRunningDx7State")["result"], 0);
  EXPECT_EQ(Answer("PlayAgain", {{"x", 1}})["error"]["code"], -32602);
}

TEST_F(PlayServiceTest, HandOverReportsPrecedeTheAnswer) {
  Answer("DxObj", {{"MFrmHwnd", 1}});
  const json mono{{"FmtBits", 16}, {"FmtChannal", 1}, {"FmtFriq", 8000}, {"WaveNos", 100},
                  {"BlkInLstL", testing_support::HostList().Silent(100, 1).Elements()}};
  const auto out = Call("WriteWaveMemo", mono);
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(out.back()["result"].is_null());
  EXPECT_EQ(Reports(out), (std::vector<std::string>{"S2|Writing to Play Buffer", "S2|Stopped", "S2|Done"}));
  EXPECT_EQ(world.ctx.Mod.WaveNos, 100);
  EXPECT_EQ(world.ctx.Mod.FmtFriq, 8000);

  json stereo = mono;
  stereo["FmtChannal"] = 2;
  const auto refused = Call("WriteWaveMemo", stereo);
  ASSERT_EQ(refused.size(), 1u);  // nothing was raised: the call never ran
  EXPECT_EQ(refused[0]["error"]["code"], -32602);
  stereo["BlkInLstR"] = json::array({0, "x"});
  EXPECT_EQ(Answer("WriteWaveMemo", stereo)["error"]["code"], -32602);
  EXPECT_EQ(world.ctx.Mod.FmtChannal, 1);
}

TEST_F(PlayServiceTest, MembersWithoutErrorHandlerAnswerTheirError) {
  Answer("DxObj", {{"MFrmHwnd", 1}});
  Answer("WriteWaveMemo", {{"FmtBits", 16}, {"FmtChannal", 1}, {"FmtFriq", 8000}, {"WaveNos", 10},
                           {"BlkInLstL", testing_support::HostList().Silent(10, 1).Elements()}});
  script.throwOp = "PlayMe";
  const json a = Answer("PlayAgain");
  EXPECT_EQ(a["error"]["code"], -32000);
  EXPECT_EQ(a["error"]["message"], "Dx9 failed in PlayMe");
  script.throwOp.clear();
  lines.clear();
  world.box.Show("Error - Could not brake a block");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(json::parse(lines[0]),
            json::parse(R"({"jsonrpc":"2.0","method":"MessageBox","params":{"text":"Error - Could not brake a block"}})"));
}

TEST_F(PlayServiceTest, ReleaseDestroysOnceAndTheEndFollows300msLater) {
  Answer("DxObj", {{"MFrmHwnd", 1}});
  const auto out = Call("Release");
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(out.back()["result"].is_null());
  EXPECT_EQ(Reports(out), (std::vector<std::string>{"S2|Stopped", "S2|Driver is Off"}));
  EXPECT_EQ(released, 1);
  EXPECT_TRUE(service.IsReleased());
  const json after = Answer("PlayAgain");
  EXPECT_EQ(after["error"]["code"], -32000);
  EXPECT_NE(after["error"]["message"].get<std::string>().find("released"), std::string::npos);
  service.EndOfInput();
  EXPECT_EQ(released, 1);
  world.loop.RunFor(299);
  EXPECT_FALSE(ended);
  world.loop.RunFor(1);
  EXPECT_TRUE(ended);
}

TEST_F(PlayServiceTest, AdvanceTimeMovesTheVirtualClock) {
  EXPECT_EQ(Answer("AdvanceTime", {{"ms", 250}})["result"], json({{"now_ms", 250}}));
  EXPECT_EQ(Answer("AdvanceTime", {{"ms", 0}})["result"]["now_ms"], 250);
  EXPECT_EQ(Answer("AdvanceTime", {{"ms", -1}})["error"]["code"], -32602);
  EXPECT_EQ(Answer("AdvanceTime", {{"ms", 3'600'001}})["error"]["code"], -32602);
  EXPECT_EQ(world.loop.NowUs(), 250'000);
}

TEST_F(PlayServiceTest, DescribeListsExactlyTheServedMembersInOrder) {
  const json d = Answer("Describe")["result"];
  EXPECT_EQ(d["name"], "RivuvaRurarozUvi");
  EXPECT_EQ(d["version"], "1.0");
  EXPECT_EQ(d["lcid"], 0x409);
  EXPECT_EQ(d["classes"][0]["progid"], "RivuvaRurarozUvi.PlayDllClass");
  std::set<std::string> guids{d["guid"].get<std::string>(), d["classes"][0]["guid"].get<std::string>()};
  for (const json& i : d["interfaces"]) guids.insert(i["guid"].get<std::string>());
  EXPECT_EQ(guids.size(), 4u);
  const json& members = d["interfaces"][0]["members"];
  ASSERT_EQ(members.size(), 19u);
  EXPECT_EQ(members[0]["name"], "DxObj");
  EXPECT_EQ(members[1]["kind"], "propget");
  EXPECT_EQ(members[13]["name"], "WriteWaveMemo");
  EXPECT_EQ(members[13]["args"][5], json({{"name", "BlkInLstR"}, {"type", "Long()"}, {"byRef", true}}));
  EXPECT_EQ(members[18]["name"], "AppTmpDir");
  for (const json& m : members) EXPECT_TRUE(endpoint.HasMethod(m["name"].get<std::string>())) << m["name"];
  const json& event = d["interfaces"][1];
  EXPECT_EQ(event["name"], "__PlayDllClass");
  EXPECT_EQ(event["members"][0]["name"], "MsgBoxOb");
  EXPECT_EQ(event["members"][0]["args"][1]["name"], "Ttl");
}

TEST(PlayServiceRealClockTest, AdvanceTimeIsRefusedWithoutSimulation) {
  testing_support::SimWorld world;
  testing_support::FakeScript script;
  PlayDllClass play{world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)};
  std::vector<std::string> lines;
  rpc::JsonRpcEndpoint endpoint{[&](const std::string& l) { lines.push_back(l); }};
  PlayService service{play, endpoint, PlayService::Hooks{}};
  endpoint.HandleLine(R"({"jsonrpc":"2.0","id":1,"method":"AdvanceTime","params":{"ms":5}})");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(json::parse(lines[0])["error"]["code"], -32601);
  EXPECT_EQ(world.loop.NowUs(), 0);
}

}  // namespace
