// End-to-end: the real playsrv binary, driven over its pipes (under
// --simulate unless told).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    testing_support::WriteSamples(wavPath, samples);
  }

  // The wave as two Orgfile blocks per channel, read in place from a raw file.
  json WaveParams() const {
    auto list = [&](int32_t channelOffset) {
      return testing_support::HostList()
          .Org(wavPath, kFirstBlock, 1, 1 + channelOffset, 2, 16)
          .Org(wavPath, kFrames - kFirstBlock, kFirstBlock + 1, 1 + kFirstBlock * 4 + channelOffset, 2, 16)
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
    s.SendRaw(input);
    std::vector<json> out;
    for (const std::string& l : s.ReadToEnd()) out.push_back(json::parse(l));
    ASSERT_EQ(out.size(), reports.size() + 4);
    const size_t n = reports.size();
    EXPECT_EQ(Playsrv::Reports(std::vector<json>(out.begin(), out.begin() + static_cast<ptrdiff_t>(n))), reports);
    EXPECT_EQ(out[n], json::parse(R"({"jsonrpc":"2.0","id":101,"result":null})"));
    EXPECT_EQ(out[n + 1], json::parse(R"({"jsonrpc":"2.0","id":102,"error":)"
                                      R"({"code":-32000,"message":"Release: the object has been released"}})"));
    EXPECT_EQ(out[n + 2]["error"]["code"], -32000);
    EXPECT_EQ(out[n + 3]["result"]["name"], "RivuvaRurarozUvi");
    EXPECT_EQ(s.Wait(), 0);
  }

  testing_support::TempDir tmp;
  std::string wavPath = tmp.File("wave.raw");
  std::string outPath = tmp.File("played.wav");
  std::vector<int16_t> samples;
};

TEST_F(ServerEndToEnd, WholeSessionPlaysTheWaveIntoTheWavOutputAndEnds) {
  Playsrv s({"--simulate", "--output", "wav:" + outPath});
  Attach(s);
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
  std::vector<int16_t> heard = samples;  // the wave, then silence to the end
  heard.resize(std::max(heard.size(), played.Samples.size()));
  EXPECT_EQ(played.Samples, heard);
}

// One malformed line of each kind, with the error code its answer must carry
// ("" for no answer at all). The kinds the request-line and endpoint tests
// read (syntax, nesting, ids, batches) are there, nearer the fault.
std::pair<std::string, std::string> Malformed(int i) {
  const std::string id = std::to_string(i);
  switch (i % 7) {
    case 0: {
      std::string garbage = "#";  // never JSON, and bytes of every value but '\n'
      for (int k = 0; k <= i % 37; ++k) {
        const char c = static_cast<char>(1 + (i * 31 + k * 17) % 255);
        garbage.push_back(c == '\n' ? 'x' : c);
      }
      return {garbage, "-32700"};
    }
    case 1: return {"[]", "-32600"};
    case 2: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"NoSuchMember"})", "-32601"};
    case 3: return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"DxObj","params":{"MFrmHwnd":"1"}})", "-32602"};
    case 4:  // two channels need a right list
      return {R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"WriteWaveMemo","params":{"FmtBits":16,)"
                                                 R"("FmtChannal":2,"FmtFriq":8000,"WaveNos":1,"BlkInLstL":[0]}})",
              "-32602"};
    case 5: return {R"({"jsonrpc":"2.0","method":"NoSuchMember"})", ""};
    default: return {" \t ", ""};
  }
}

// The session ends with its input while the wave plays: the object is
// destroyed (its reports, and no answer without a request), the process ends
// with status 0 and the wav output holds what sounded.
TEST_F(ServerEndToEnd, AThousandMalformedLinesThenASessionEndedByItsInput) {
  Playsrv s({"--simulate", "--output", "wav:" + outPath});
  std::string input;
  std::vector<std::string> expected;
  for (int i = 0; i < 1000; ++i) {
    auto [line, code] = Malformed(i);
    input += line + "\n";
    if (!code.empty()) expected.push_back(code);
  }
  // Written while the answers are read, so that neither pipe fills up.
  std::thread writer([&] { s.SendRaw(input); });
  std::vector<std::string> got;
  std::string line;
  while (got.size() < expected.size() && s.ReadLine(line))
    got.push_back(std::to_string(json::parse(line)["error"]["code"].get<int>()));
  writer.join();
  EXPECT_EQ(got, expected);
  Attach(s);

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

  EXPECT_EQ(Playsrv::Reports(s.Call("WriteWaveMemo", WaveParams()).Notifications).back(), "Done");
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), (Reports{"Playing"}));
  s.Result("AdvanceTime", {{"ms", 500}});
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate / 2);
  s.CloseInput();
  std::vector<json> rest;
  for (const std::string& l : s.ReadToEnd()) rest.push_back(json::parse(l));
  EXPECT_EQ(Playsrv::Reports(rest), (Reports{"Stopped", "Driver is Off"}));
  EXPECT_EQ(rest.size(), 2u);
  EXPECT_EQ(s.Wait(), 0);
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

// Under the real clock, with a standard error nobody reads (a FIFO read only
// when the test says), and an option refused.
TEST_F(ServerEndToEnd, OptionsChooseTheClockAndTheEnginesAndAFullErrorOutputNeverHoldsTheServer) {
  const std::string fifo = tmp.File("stderr");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int err = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  Playsrv s({"--output", "null", "--engines", "waveout"}, fifo);
  EXPECT_EQ(s.Call("AdvanceTime", {{"ms", 10}}).Answer["error"]["code"], -32601);
  // Each DxObj logs why the DirectSound 7 engine was refused: far more than a pipe holds.
  json batch = json::array();
  for (int i = 1; i <= 3000; ++i) batch.push_back({{"jsonrpc", "2.0"}, {"id", i}, {"method", "DxObj"}, {"params", {{"MFrmHwnd", 5}}}});
  s.SendRaw(batch.dump() + "\n");
  json answer;
  for (std::string line; answer.is_null() || answer.contains("method"); answer = json::parse(line))
    ASSERT_TRUE(s.ReadLine(line));  // past the notifications
  ASSERT_TRUE(answer.is_array());
  EXPECT_EQ(answer.size(), 3000u);
  EXPECT_EQ(answer.back()["result"], json({{"MFrmHwnd", 2}}));
  const auto drain = [err] {  // everything in the pipe now, without waiting
    std::string all;
    char buf[65536];
    for (ssize_t n; (n = read(err, buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
    return all;
  };
  EXPECT_EQ(drain().back(), '\n') << "only whole lines";
  EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 3}}), json({{"MFrmHwnd", 2}}));
  const std::string after = drain();
  EXPECT_EQ(after.rfind("playsrv: warning: ", 0), 0u) << after;
  EXPECT_NE(after.find(" diagnostic lines were dropped because the error output was full\n"), std::string::npos)
      << after;
  ReleaseAmidRequests(s, {"Driver is Off"});
  close(err);

  Playsrv bad({"--engines", "dx9,dx10"}, tmp.File("bad"));
  EXPECT_EQ(bad.Wait(), 2);
  const std::string text = testing_support::ReadText(tmp.File("bad"));
  EXPECT_NE(text.find("unknown engine 'dx10'"), std::string::npos) << text;
}

}  // namespace
