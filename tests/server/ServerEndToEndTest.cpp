// End-to-end: the real playsrv binary under --simulate, driven over its pipes.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "server/TypeLibrary.h"
#include "tests/server/ChildProcess.h"
#include "tests/server/WavTestFiles.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;
using testing_support::Playsrv;
using Reports = std::vector<std::string>;

namespace {

constexpr int32_t kRate = 8000;
constexpr int32_t kFrames = 16000;  // two seconds
constexpr int32_t kFirstBlock = 10000;

class ServerEndToEnd : public ::testing::Test {
 protected:
  ServerEndToEnd() {
    for (int32_t i = 0; i < kFrames; ++i) {
      samples.push_back(static_cast<int16_t>((i * 7) % 20000 - 10000));
      samples.push_back(static_cast<int16_t>(12000 - (i * 13) % 24000));
    }
    dataPos = 1 + static_cast<int32_t>(testing_support::WriteWav(wavPath, {}, testing_support::SamplesToBytes(samples)));
  }

  // The wave as two Orgfile blocks per channel, read in place.
  json WaveParams() const {
    auto list = [&](int32_t channelOffset) {
      return testing_support::HostList()
          .Org(wavPath, kFirstBlock, 1, dataPos + channelOffset, 2, 16)
          .Org(wavPath, kFrames - kFirstBlock, kFirstBlock + 1, dataPos + kFirstBlock * 4 + channelOffset, 2, 16)
          .Elements();
    };
    return {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", kRate}, {"WaveNos", kFrames},
            {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}};
  }

  void Attach(Playsrv& s) {
    EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
    EXPECT_TRUE(s.Result("AppTmpDir", {{"value", tmp.Path()}}).is_null());
    EXPECT_TRUE(s.Result("MemorySizeToUse", {{"value", 1 << 20}}).is_null());
  }

  // Release, with three more requests in the same write: the reports of
  // destruction, then every request answered, then the end with status 0.
  static void ReleaseAmidRequests(Playsrv& s, const Reports& reports) {
    std::string input;
    int id = 100;
    for (const char* m : {"Release", "Release", "PlayAgain", "Describe"})
      input += json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", m}}.dump() + "\n";
    s.Process().SendRaw(input);
    std::vector<json> out;
    for (const std::string& l : s.Process().ReadToEnd()) out.push_back(json::parse(l));
    ASSERT_EQ(out.size(), reports.size() + 4);
    const size_t n = reports.size();
    EXPECT_EQ(Playsrv::Reports(std::vector<json>(out.begin(), out.begin() + static_cast<ptrdiff_t>(n))), reports);
    EXPECT_EQ(out[n], json::parse(R"({"jsonrpc":"2.0","id":101,"result":null})"));
    EXPECT_EQ(out[n + 1], json::parse(R"({"jsonrpc":"2.0","id":102,"error":)"
                                      R"({"code":-32000,"message":"Release: the object has been released"}})"));
    EXPECT_EQ(out[n + 2]["error"]["code"], -32000);
    EXPECT_EQ(out[n + 3]["result"]["name"], "RivuvaRurarozUvi");
    EXPECT_EQ(s.Process().Wait(), 0);
  }

  testing_support::TempDir tmp;
  std::string wavPath = tmp.File("wave.wav");
  std::string outPath = tmp.File("played.wav");
  std::vector<int16_t> samples;
  int32_t dataPos = 0;
};

TEST_F(ServerEndToEnd, WholeSessionPlaysTheWaveIntoTheWavOutputAndEnds) {
  Playsrv s({"--output", "wav:" + outPath});
  Attach(s);
  for (const auto& [property, value] : {std::pair<const char*, json>{"PlayTempoFor", 1.0}, {"PlayTempoRev", 1.0},
                                        {"LoopPlayON", false}})
    EXPECT_TRUE(s.Result(property, {{"value", value}}).is_null());

  auto ex = s.Call("WriteWaveMemo", WaveParams());
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Writing to Play Buffer", "Stopped", "Done"}));
  EXPECT_TRUE(ex.Answer["result"].is_null());
  ex = s.Call("PlayAgain");
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Playing"}));

  EXPECT_EQ(s.Result("AdvanceTime", {{"ms", 1000}}), json({{"now_ms", 1000}}));
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate);
  EXPECT_EQ(s.Result("PlayRunningDx7State"), 1);
  ex = s.Call("AdvanceTime", {{"ms", 1500}});
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Play Done"}));
  EXPECT_EQ(ex.Answer["result"]["now_ms"], 2500);
  EXPECT_EQ(s.Result("PlayRunningDx7State"), 0);

  ReleaseAmidRequests(s, {"Stopped", "Driver is Off"});

  const auto played = testing_support::ReadRecordedWav(outPath);
  EXPECT_EQ(played.Channels, 2);
  EXPECT_EQ(played.Rate, kRate);
  ASSERT_GE(played.Samples.size(), samples.size());
  EXPECT_EQ(std::vector<int16_t>(played.Samples.begin(), played.Samples.begin() + samples.size()), samples);
  for (size_t i = samples.size(); i < played.Samples.size(); ++i) ASSERT_EQ(played.Samples[i], 0) << i;
}

// One malformed line of each kind, with the error codes its answer must carry
// ("" for no answer at all).
std::pair<std::string, std::string> Malformed(int i) {
  const std::string id = std::to_string(i);
  switch (i % 16) {
    case 0: {
      std::string garbage = "#";  // never JSON, and bytes of every value but '\n'
      for (int k = 0; k <= i % 37; ++k) {
        const char c = static_cast<char>(1 + (i * 31 + k * 17) % 255);
        garbage.push_back(c == '\n' ? 'x' : c);
      }
      return {garbage, "-32700"};
    }
    case 1: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"PlayAgain")", "-32700"};
    case 2: return {"{\"jsonrpc\":\"2.0\",\"id\":" + id + ",\"method\":\"Play\xff\xfe\"}", "-32700"};
    case 3: return {"[]", "-32600"};
    case 4: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"NoSuchMember"})", "-32601"};
    case 5: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"DxObj","params":{"MFrmHwnd":"1"}})", "-32602"};
    case 6: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"WriteWaveMemo","params":{"FmtBits":16}})", "-32602"};
    case 7: return {R"({"jsonrpc":"2.0","id":[1],"method":"PlayAgain"})", "-32600"};
    case 8: return {R"({"jsonrpc":"2.0","method":"NoSuchMember"})", ""};
    case 9: return {R"("jsonrpc")", "-32600"};
    case 10: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"PlayAtPos","params":{"Pos":1e999}})", "-32700"};
    case 11: return {std::string(3000, '['), "-32700"};
    case 12: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"MemorySizeToUse","params":{"value":-2147483649}})", "-32602"};
    case 13: return {R"([1,{"jsonrpc":"2.0","id":)" + id + R"(,"method":"NoSuchMember"}])", "[-32600,-32601]"};
    case 14: {
      // One very deep nesting, then ones just beyond the limit: refused as a whole.
      const size_t depth = i == 14 ? 100000 : 65;
      return {std::string(depth, '[') + std::string(depth, ']'), "-32600"};
    }
    default: return {" \t ", ""};
  }
}

std::string Codes(const json& answer) {
  if (!answer.is_array()) return std::to_string(answer["error"]["code"].get<int>());
  std::string out = "[";
  // Appended piece by piece: "," or "" + a string makes GCC 12 at -O2 warn
  // (-Wrestrict) about an overlap that cannot happen.
  for (const json& a : answer) {
    if (out.size() > 1) out += ',';
    out += std::to_string(a["error"]["code"].get<int>());
  }
  return out + "]";
}

TEST_F(ServerEndToEnd, AThousandMalformedLinesThenANormalSession) {
  Playsrv s;
  std::string input;
  std::vector<std::string> expected;
  for (int i = 0; i < 1000; ++i) {
    auto [line, codes] = Malformed(i);
    input += line + "\n";
    if (!codes.empty()) expected.push_back(codes);
  }
  // Written while the answers are read, so that neither pipe fills up.
  std::thread writer([&] { s.Process().SendRaw(input); });
  std::vector<std::string> got;
  std::string line;
  while (got.size() < expected.size() && s.Process().ReadLine(line)) got.push_back(Codes(json::parse(line)));
  writer.join();
  EXPECT_EQ(got, expected);

  Attach(s);
  EXPECT_EQ(Playsrv::Reports(s.Call("WriteWaveMemo", WaveParams()).Notifications).back(), "Done");
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), (Reports{"Playing"}));
  s.Result("AdvanceTime", {{"ms", 500}});
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate / 2);

  // A wave whose file is gone: PlayAtPos has no error handler, so the
  // run-time error is the call's answer.
  json wave = WaveParams();
  const std::string missing = tmp.File("gone.wav");
  wave["BlkInLstL"] = testing_support::HostList().Org(missing, kFrames, 1, 45, 2, 16).Elements();
  wave["BlkInLstR"] = wave["BlkInLstL"];
  EXPECT_EQ(Playsrv::Reports(s.Call("WriteWaveMemo", wave).Notifications).back(), "Done");
  const json failed = s.Call("PlayAtPos", {{"Pos", 100}}).Answer;
  EXPECT_EQ(failed["error"]["code"], -32000);
  EXPECT_NE(failed["error"]["message"].get<std::string>().find(missing), std::string::npos) << failed;
}

TEST_F(ServerEndToEnd, EndOfInputDuringPlaybackDestroysTheObjectAndExits) {
  Playsrv s({"--output", "wav:" + outPath});
  Attach(s);
  s.Call("WriteWaveMemo", WaveParams());
  s.Call("PlayAgain");
  s.Result("AdvanceTime", {{"ms", 500}});
  s.Process().CloseInput();
  std::vector<json> rest;
  for (const std::string& l : s.Process().ReadToEnd()) rest.push_back(json::parse(l));
  EXPECT_EQ(Playsrv::Reports(rest), (Reports{"Stopped", "Driver is Off"}));
  EXPECT_EQ(rest.size(), 2u);  // reports only: no answer without a request
  EXPECT_EQ(s.Process().Wait(), 0);
  EXPECT_EQ(testing_support::ReadRecordedWav(outPath).Samples,
            std::vector<int16_t>(samples.begin(), samples.begin() + kRate));  // half a second, two channels
}

TEST_F(ServerEndToEnd, DescribeAnswersTheInterfaceDescriptionAndEveryMemberIsServed) {
  Playsrv s;
  const json d = s.Result("Describe");
  EXPECT_EQ(d, typelib::Describe());
  ASSERT_FALSE(d["interfaces"][0]["members"].empty());
  // Called without params, a member may refuse them, but none may be unknown.
  for (const json& m : d["interfaces"][0]["members"]) {
    const json answer = s.Call(m["name"].get<std::string>()).Answer;
    EXPECT_NE(answer.value(json::json_pointer("/error/code"), 0), -32601) << m["name"];
  }
  EXPECT_EQ(s.Call("Describe", {{"all", true}}).Answer["error"]["code"], -32602);
}

TEST_F(ServerEndToEnd, OptionsChooseTheClockAndTheEngines) {
  Playsrv real({"--output", "null", "--engines", "waveout"}, /*simulate=*/false);
  EXPECT_EQ(real.Call("AdvanceTime", {{"ms", 10}}).Answer["error"]["code"], -32601);
  EXPECT_EQ(real.Result("DxObj", {{"MFrmHwnd", 3}}), json({{"MFrmHwnd", 2}}));
  ReleaseAmidRequests(real, {"Driver is Off"});
  testing_support::ChildProcess bad({PLAY_BINARY_DIR "/playsrv", "--engines", "dx9,dx10"}, tmp.File("stderr"));
  EXPECT_EQ(bad.Wait(), 2);
  const std::string text = testing_support::ReadText(tmp.File("stderr"));
  EXPECT_NE(text.find("unknown engine 'dx10'"), std::string::npos) << text;
}

}  // namespace
