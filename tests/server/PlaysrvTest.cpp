// End-to-end: the real playsrv binary, driven over its pipes (under
// --simulate unless told): a run-time error as the call's answer, a whole
// session, the end of the process, and what a standard error nobody reads
// does to it. Malformed lines are the endpoint's tests and the fuzzer's.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blocks/HostListBuilder.h"
#include "server/TypeLibrary.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordedWav.h"
#include "tests/support/TempDir.h"

using nlohmann::json;
using testing_support::Playsrv;
using Reports = std::vector<std::string>;

namespace {

constexpr int32_t kRate = 8000;
constexpr int32_t kFrames = 16000;  // two seconds
constexpr int32_t kFirstBlock = 10000;

// The wave the sessions hand over: stereo, two Orgfile blocks per channel,
// read in place from a raw file.
class PlaysrvTest : public ::testing::Test {
 protected:
  PlaysrvTest() {
    for (int32_t i = 0; i < kFrames; ++i) {
      samples.push_back(static_cast<int16_t>((i * 7) % 20000 - 10000));
      samples.push_back(static_cast<int16_t>(12000 - (i * 13) % 24000));
    }
    testing_support::WriteSamples(wavPath, samples);
  }

  json WaveParams() const {
    auto list = [&](int32_t channelOffset) {
      return blocks::HostListBuilder()
          .AddWavFile(wavPath, kFirstBlock, 1 + channelOffset, 2, 16)
          .AddWavFile(wavPath, kFrames - kFirstBlock, 1 + kFirstBlock * 4 + channelOffset, 2, 16)
          .Elements();
    };
    return {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", kRate}, {"WaveNos", kFrames},
            {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}};
  }
  // Attaches an engine and gives the object this test's folder.
  static void Attach(Playsrv& s, const std::string& folder) {
    EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
    EXPECT_TRUE(s.Result("AppTmpDir", {{"value", folder}}).is_null());
  }

  testing_support::TempDir tmp;
  std::string wavPath = tmp.File("wave.raw");
  std::string out = tmp.File("played.wav");
  std::vector<int16_t> samples;
};

// PlayAtPos has no error handler, so the run-time error is the call's answer.
TEST_F(PlaysrvTest, PlayingAWaveWhoseFileIsGoneAnswersTheRunTimeErrorNamingTheFile) {
  Playsrv s;
  Attach(s, tmp.Path());
  json wave = WaveParams();
  const std::string missing = tmp.File("gone.wav");
  wave["BlkInLstL"] = blocks::HostListBuilder().AddWavFile(missing, kFrames, 45, 2, 16).Elements();
  wave["BlkInLstR"] = wave["BlkInLstL"];
  EXPECT_EQ(Playsrv::Reports(s.Call("WriteWaveMemo", wave).Notifications).back(), "Done");
  const json failed = s.Call("PlayAtPos", {{"Pos", 100}}).Answer;
  EXPECT_EQ(failed["error"]["code"], -32000);
  EXPECT_THAT(failed["error"]["message"].get<std::string>(), testing::HasSubstr(missing));
}

// The wave played to its end, started again and ended by the end of input
// while it plays: the reports of each call, the object destroyed (its
// reports, no answer without a request), status 0, and every frame sounded.
TEST_F(PlaysrvTest, ASessionPlaysTheWaveAgainAndEndsWithItsInputWhileItPlays) {
  Playsrv s({"--simulate", "--output", "wav:" + out});
  Attach(s, tmp.Path());
  auto ex = s.Call("WriteWaveMemo", WaveParams());
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Writing to Play Buffer", "Stopped", "Done"}));
  EXPECT_TRUE(ex.Answer["result"].is_null());
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), (Reports{"Playing"}));
  EXPECT_EQ(s.Result("AdvanceTime", {{"ms", 1000}}), json({{"now_ms", 1000}}));
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate);
  EXPECT_EQ(s.Result("PlayRunningDx7State"), 1);
  ex = s.Call("AdvanceTime", {{"ms", 1500}});
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Play Done"}));
  EXPECT_EQ(ex.Answer["result"]["now_ms"], 2500);
  EXPECT_EQ(s.Result("PlayRunningDx7State"), 0);

  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), (Reports{"Playing"}));
  s.Result("AdvanceTime", {{"ms", 500}});
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate / 2);
  s.CloseInput();
  std::vector<json> rest;
  for (const std::string& l : s.ReadToEnd()) rest.push_back(json::parse(l));
  EXPECT_EQ(Playsrv::Reports(rest), (Reports{"Stopped", "Driver is Off"}));
  EXPECT_EQ(rest.size(), 2u);
  EXPECT_EQ(s.Wait(), 0);
  // The whole wave, silence until the second start, then half a second of the wave.
  const auto played = testing_support::ReadRecordedWav(out);
  EXPECT_EQ(played.Channels, 2);
  EXPECT_EQ(played.Rate, kRate);
  ASSERT_GE(played.Samples.size(), samples.size() + kRate);
  std::vector<int16_t> heard = samples;
  heard.resize(played.Samples.size() - kRate);
  heard.insert(heard.end(), samples.begin(), samples.begin() + kRate);
  EXPECT_EQ(played.Samples, heard);
}

TEST_F(PlaysrvTest, DescribeAnswersTheInterfaceDescriptionAndEveryMemberInItIsServed) {
  Playsrv s;
  const json d = s.Result("Describe");
  EXPECT_EQ(d, server::Describe());
  ASSERT_FALSE(d["interfaces"][0]["members"].empty());
  // Called without params, a member may refuse them, but none may be unknown.
  for (const json& m : d["interfaces"][0]["members"])
    EXPECT_NE(s.Call(m["name"]).Answer.value(json::json_pointer("/error/code"), 0), -32601) << m["name"];
  EXPECT_EQ(s.Call("Describe", {{"all", true}}).Answer["error"]["code"], -32602);
}

// Under the real clock, with a standard error nobody reads (a pipe read
// only when the test says).
TEST_F(PlaysrvTest, AFullErrorOutputNeverHoldsTheServerAndTheNextLineThatFitsCountsTheDropped) {
  os::Process::Options options;
  options.Args = {"--output", "null", "--engines", "waveout"};
  options.Errors = os::Process::ErrorOutput::Pipe;
  Playsrv s(options);
  // Each DxObj logs why the DirectSound 7 engine was refused: far more than a pipe holds.
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(s.Result("DxObj", {{"MFrmHwnd", 3}}), json({{"MFrmHwnd", 2}}));
  EXPECT_EQ(s.Process().ReadErrorOutput().back(), '\n') << "only whole lines";
  EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 3}}), json({{"MFrmHwnd", 2}}));
  const std::string after = s.Process().ReadErrorOutput();
  EXPECT_EQ(after.rfind("playsrv: warning: ", 0), 0u) << after;
  EXPECT_THAT(after, testing::HasSubstr(" diagnostic lines were dropped because the error output was full\n"));
}

// Under the real clock: Release with four more requests in the same write;
// after it the members and AdvanceTime answer that the object is gone.
TEST_F(PlaysrvTest, ReleaseReportsTheDestructionAnswersEveryRequestReadAndEndsWithStatusZero) {
  Playsrv s({"--output", "null"});
  std::string input;
  int id = 100;
  for (const char* m : {"Release", "Release", "PlayAgain", "AdvanceTime", "Describe"}) {
    json request{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", m}};
    if (std::string(m) == "AdvanceTime") request["params"] = {{"ms", 1}};
    input += request.dump() + "\n";
  }
  s.SendRaw(input);
  std::vector<json> last;
  for (const std::string& l : s.ReadToEnd()) last.push_back(json::parse(l));
  ASSERT_EQ(last.size(), 6u);
  EXPECT_EQ(Playsrv::Reports({last[0]}), Reports{"Driver is Off"});
  EXPECT_EQ(last[1], json::parse(R"({"jsonrpc":"2.0","id":101,"result":null})"));
  EXPECT_EQ(last[2], json::parse(R"({"jsonrpc":"2.0","id":102,"error":)"
                                R"({"code":-32000,"message":"Release: the object has been released"}})"));
  for (const auto& [i, method] : {std::pair{3, "PlayAgain"}, {4, "AdvanceTime"}})
    EXPECT_EQ(last[static_cast<size_t>(i)]["error"],
              json({{"code", -32000}, {"message", std::string(method) + ": the object has been released"}}));
  EXPECT_EQ(last[5]["result"]["name"], "RivuvaRurarozUvi");
  EXPECT_EQ(s.Wait(), 0);
}

TEST_F(PlaysrvTest, UnderTheRealClockAdvanceTimeWaitsAndAnswersTheLoopsTime) {
  Playsrv s({"--output", "null"});
  EXPECT_GE(s.Result("AdvanceTime", {{"ms", 10}})["now_ms"].get<int64_t>(), 10);
}

TEST_F(PlaysrvTest, AnUnknownEngineIsRefusedBeforeTheServerStarts) {
  Playsrv bad({"--engines", "dx9,dx10"}, tmp.File("bad"));
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_THAT(testing_support::ReadText(tmp.File("bad")), testing::HasSubstr("unknown engine 'dx10'"));
}

}  // namespace
