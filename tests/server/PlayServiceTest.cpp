#include "server/PlayService.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ScriptedWorld.h"

using nlohmann::json;

namespace {

// The service in-process, over a handle on scripted engines and the virtual
// clock: what the end-to-end tests cannot see (stored values, engine calls).
class PlayServiceTest : public ::testing::Test {
 protected:
  // Sends one request; returns the last line written (its answer), parsed.
  json Answer(const std::string& method, const json& params = nullptr) {
    json request{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}};
    if (!params.is_null()) request["params"] = params;
    lines.clear();
    endpoint.HandleLine(request.dump());
    return json::parse(lines.back());
  }

  testing_support::FakeScript script;
  testing_support::ScriptedWorld* world = nullptr;
  testing_support::HandlePtr handle = testing_support::MakeScriptedHandle(script, world);
  std::vector<std::string> lines;
  server::JsonRpcEndpoint endpoint{[this](const std::string& l) { lines.push_back(l); }};
  server::PlayService service{handle.get(), endpoint, true};
};

TEST_F(PlayServiceTest, CallsWithBadParamsAreRefusedAndChangeNothing) {
  // Values unlike the defaults, so that a refused call that stored anything shows.
  Answer("PlayTempoFor", {{"value", 0.5}});
  Answer("MemorySizeToUse", {{"value", 4096}});
  Answer("AppTmpDir", {{"value", "/tmp"}});
  Answer("LoopPlayON", {{"value", true}});
  const std::vector<std::pair<std::string, json>> refused{
      {"MemorySizeToUse", {{"value", 2147483648LL}}}, {"LoopPlayON", {{"value", 0}}},
      {"PlayTempoFor", {{"Value", 1}}},               {"AppTmpDir", {{"value", 5}}},
      {"PlayAgain", {{"x", 1}}},                      {"AdvanceTime", {{"ms", -1}}},
      {"AdvanceTime", {{"ms", 3'600'001}}}, {"DxObj", {{"MFrmHwnd", 1.5}}}, {"DxObj", nullptr}};
  for (const auto& [method, params] : refused)
    EXPECT_EQ(Answer(method, params)["error"]["code"], -32602) << method << params;
  const state::PlayDllMod& mod = world->sim.ctx.Mod;
  EXPECT_EQ(mod.PlayTempoFor, 0.5f);
  EXPECT_TRUE(mod.LoopPlayON);
  EXPECT_EQ(mod.MemorySizeToUse, 4096);
  EXPECT_EQ(mod.AppTmpDir, "/tmp");
  EXPECT_EQ(world->sim.loop.NowUs(), 0);
  EXPECT_TRUE(script.calls.empty());  // no refused call reached an engine
  EXPECT_EQ(world->play.DriverType(), 0);
}

TEST_F(PlayServiceTest, AServerMessageBoxRaisedDuringACallIsWrittenAsAMessageBoxNotification) {
  handle->Instance.Member("a call", [](facade::PlayDllClass& play) {
    play.Context().Box.Show("Error - Could not brake a block");
  });
  service.WriteEvents();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(json::parse(lines[0]),
            json::parse(R"({"jsonrpc":"2.0","method":"MessageBox","params":{"text":"Error - Could not brake a block"}})"));
}

}  // namespace
