#include "server/PlayService.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facade/PlayDllClass.h"
#include "tests/facade/FakeEngines.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;

namespace {

// The service in-process, on scripted engines and the virtual clock: what the
// end-to-end tests cannot see (stored values, engine calls, the exact end).
class PlayServiceTest : public ::testing::Test {
 protected:
  PlayServiceTest() { play.SetEndOfProcessHook([this] { ended = true; }); }

  // Sends one request; returns the last line written (its answer), parsed.
  json Answer(const std::string& method, const json& params = nullptr) {
    json request{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}};
    if (!params.is_null()) request["params"] = params;
    lines.clear();
    endpoint.HandleLine(request.dump());
    return json::parse(lines.back());
  }

  testing_support::SimWorld world;
  testing_support::FakeScript script;
  facade::PlayDllClass play{world.ctx, testing_support::FakeFactory(script, world.ctx.Mod)};
  std::vector<std::string> lines;
  server::JsonRpcEndpoint endpoint{[this](const std::string& l) { lines.push_back(l); }};
  int released = 0;
  bool ended = false;
  server::PlayService service{play, endpoint,
                      server::PlayService::Hooks{[this](int32_t ms) {
                                           world.loop.RunFor(ms);
                                           return world.loop.NowUs() / 1000;
                                         },
                                         [this] { ++released; }}};
};

TEST_F(PlayServiceTest, PropertiesStoreTheirValuesInTheSharedState) {
  for (const auto& [property, value] : std::vector<std::pair<std::string, json>>{
           {"PlayTempoRev", -3}, {"PlayTempoFor", 0.1}, {"LoopPlayON", true}, {"MemorySizeToUse", 1 << 20},
           {"AppTmpDir", "/tmp/x y"}})
    EXPECT_TRUE(Answer(property, {{"value", value}})["result"].is_null()) << property;
  const state::PlayDllMod& mod = world.ctx.Mod;
  EXPECT_EQ(mod.PlayTempoRev, -3.0f);
  EXPECT_EQ(mod.PlayTempoFor, 0.1f);  // stored as a 32-bit float
  EXPECT_TRUE(mod.LoopPlayON);
  EXPECT_EQ(mod.MemorySizeToUse, 1 << 20);
  EXPECT_EQ(mod.AppTmpDir, "/tmp/x y");
}

TEST_F(PlayServiceTest, CallsWithBadParamsAreRefusedAndChangeNothing) {
  Answer("PlayTempoFor", {{"value", 0.5}});
  Answer("MemorySizeToUse", {{"value", 4096}});
  Answer("AppTmpDir", {{"value", "/tmp"}});
  const std::vector<std::pair<std::string, json>> refused{
      {"MemorySizeToUse", {{"value", 2147483648LL}}}, {"LoopPlayON", {{"value", 0}}},
      {"PlayTempoFor", {{"Value", 1}}},               {"AppTmpDir", {{"value", 5}}},
      {"PlayAgain", {{"x", 1}}},                      {"AdvanceTime", {{"ms", -1}}},
      {"AdvanceTime", {{"ms", 3'600'001}}}, {"DxObj", {{"MFrmHwnd", 1.5}}}, {"DxObj", nullptr}};
  for (const auto& [method, params] : refused)
    EXPECT_EQ(Answer(method, params)["error"]["code"], -32602) << method << params;
  const state::PlayDllMod& mod = world.ctx.Mod;
  EXPECT_EQ(mod.PlayTempoFor, 0.5f);
  EXPECT_FALSE(mod.LoopPlayON);
  EXPECT_EQ(mod.MemorySizeToUse, 4096);
  EXPECT_EQ(mod.AppTmpDir, "/tmp");
  EXPECT_EQ(world.loop.NowUs(), 0);
  EXPECT_TRUE(script.calls.empty());  // no refused call reached an engine
  EXPECT_EQ(play.DriverType(), 0);
}

TEST_F(PlayServiceTest, AServerMessageBoxBecomesAMessageBoxNotification) {
  world.box.Show("Error - Could not brake a block");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(json::parse(lines[0]),
            json::parse(R"({"jsonrpc":"2.0","method":"MessageBox","params":{"text":"Error - Could not brake a block"}})"));
}

TEST_F(PlayServiceTest, ReleaseDestroysTheObjectOnceAndTheProcessEnds300msLater) {
  Answer("DxObj", {{"MFrmHwnd", 1}});
  EXPECT_TRUE(Answer("Release")["result"].is_null());
  EXPECT_EQ(released, 1);
  service.EndOfInput();
  EXPECT_EQ(released, 1);
  world.loop.RunFor(299);
  EXPECT_FALSE(ended);
  world.loop.RunFor(1);
  EXPECT_TRUE(ended);
}

}  // namespace
