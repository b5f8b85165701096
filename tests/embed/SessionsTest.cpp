// One scripted session per engine, played two ways: through the C library
// (events taken from the queue) and through playsrv over JSON-RPC. Each call
// must give the same result and the same reports, in the same order, and the
// two recordings the same frames, the wave's own at the start. (The Python
// package is a thin layer over the C calls: tests/embed/python and the
// README's Python example play through it.)

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <playdll.hpp>

#include "EmbedTestPaths.h"
#include "tests/embed/EmbedFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordedWav.h"

namespace {

using nlohmann::json;
using testing_support::ReportText;

constexpr int32_t kRate = 8000;
constexpr int32_t kFrames = 16000;
constexpr int32_t kFirstEntry = 10000;

// [method, [positional arguments]] per call: every kind of start, a turn,
// a pause, a tempo, the position and the state, the end of a run, Release.
json Script(const std::string& wav, const std::string& folder) {
  const auto list = [&](int32_t offset) {
    playdll::HostList l;  // two entries, so that a run crosses from one to the next
    l.AddWavFile(wav, kFirstEntry, 45 + offset, 2, 16).AddWavFile(wav, kFrames - kFirstEntry, 45 + 4 * kFirstEntry + offset, 2, 16);
    return l.Elements();
  };
  return json::array({
      {"AppTmpDir", {folder}}, {"DxObj", {5}}, {"PlayTempoRev", {1.5}},
      {"WriteWaveMemo", {16, 2, kRate, kFrames, list(0), list(2)}}, {"PlayAgain", json::array()},
      {"AdvanceTime", {600}}, {"PlayCurrentPosition", json::array()}, {"PlayUTurn", json::array()},
      {"AdvanceTime", {300}}, {"PlayPause", json::array()}, {"PlayRunningDx7State", json::array()},
      {"AdvanceTime", {200}}, {"PlayContinue", json::array()}, {"AdvanceTime", {1500}},
      {"PlayAtPosRev", {12000}}, {"AdvanceTime", {400}}, {"PlayAtPos", {15500}}, {"AdvanceTime", {1000}},
      {"PlayRunningDx7State", json::array()}, {"StopPlay", json::array()}, {"Release", json::array()}});
}

json Entry(const std::string& method, json result, std::vector<std::string> reports) {
  return {{"method", method}, {"result", std::move(result)}, {"reports", std::move(reports)}};
}

// The C path: one call, then the events it left in the queue.
json CallC(playdll_handle* h, const std::string& m, const json& a) {
  static const std::map<std::string, int (*)(playdll_handle*)> kNoArgs{
      {"PlayAgain", playdll_PlayAgain}, {"PlayUTurn", playdll_PlayUTurn}, {"PlayPause", playdll_PlayPause},
      {"PlayContinue", playdll_PlayContinue}, {"StopPlay", playdll_StopPlay}, {"Release", playdll_Release}};
  json result = nullptr;
  int status = PLAYDLL_OK;
  int32_t value = a.empty() || !a[0].is_number_integer() ? 0 : a[0].get<int32_t>();
  if (kNoArgs.count(m)) {
    status = kNoArgs.at(m)(h);
  } else if (m == "AppTmpDir") {
    status = playdll_AppTmpDir(h, a[0].get<std::string>().c_str());
  } else if (m == "PlayTempoRev") {
    status = playdll_PlayTempoRev(h, a[0].get<float>());
  } else if (m == "PlayAtPos" || m == "PlayAtPosRev") {
    status = (m == "PlayAtPos" ? playdll_PlayAtPos : playdll_PlayAtPosRev)(h, value);
  } else if (m == "DxObj" || m == "PlayCurrentPosition" || m == "PlayRunningDx7State") {
    status = m == "DxObj" ? playdll_DxObj(h, &value)
                          : (m == "PlayCurrentPosition" ? playdll_PlayCurrentPosition : playdll_PlayRunningDx7State)(h, &value);
    result = value;
  } else if (m == "AdvanceTime") {
    int64_t now = 0;
    status = playdll_advance_time(h, value, &now);
    result = now;
  } else if (m == "WriteWaveMemo") {
    const std::vector<int32_t> l = a[4], r = a[5];
    status = playdll_WriteWaveMemo(h, a[0], a[1], a[2], a[3], l.data(), l.size(), r.data(), r.size());
  } else {
    ADD_FAILURE() << "no C call for " << m;
  }
  EXPECT_EQ(status, PLAYDLL_OK) << m << ": " << playdll_last_error();
  std::vector<std::string> reports;
  for (playdll_event e{}; playdll_take_event(h, &e) == 1;) reports.push_back(ReportText(e));
  return Entry(m, result, reports);
}

json ThroughC(const json& script, const std::string& output, const std::string& engine) {
  json transcript = json::array();
  testing_support::HandlePtr h = testing_support::MakeSimulatedHandle(output, engine.c_str());
  for (const json& step : script) transcript.push_back(CallC(h.get(), step[0], step[1]));
  return transcript;
}

json ThroughPlaysrv(const json& script, const std::string& output, const std::string& engine) {
  json transcript = json::array();
  testing_support::Playsrv s({"--simulate", "--output", output, "--engines", engine, "--log-level", "error"});
  for (const json& step : script) {
    const auto ex = s.Call(step[0], step[1]);
    std::vector<std::string> reports;
    for (const json& n : ex.Notifications)
      reports.push_back(n["method"] == "MessageBox" ? "box: " + n["params"]["text"].get<std::string>()
                                                   : testing_support::Playsrv::Reports({n}).at(0));
    json result = ex.Answer.value("result", json("no result: " + ex.Answer.dump()));
    if (result.is_object()) result = result.begin().value();  // {"MFrmHwnd": m}, {"now_ms": t}
    transcript.push_back(Entry(step[0], result, reports));
  }
  EXPECT_EQ(s.Wait(), 0);
  return transcript;
}

class SessionsTest : public ::testing::TestWithParam<std::string> {};

TEST_P(SessionsTest, TheCLibraryAndPlaysrvGiveTheSameReportsAndFrames) {
  testing_support::TempDir tmp;
  const std::string wav = tmp.File("wave.wav");
  const std::vector<int16_t> samples = testing_support::TestWaveSamples(kFrames);
  audio::WriteWav16(wav, 2, kRate, samples);
  const json script = Script(wav, tmp.Path());
  const json c = ThroughC(script, "wav:" + tmp.File("c.wav"), GetParam());
  EXPECT_EQ(ThroughPlaysrv(script, "wav:" + tmp.File("playsrv.wav"), GetParam()), c);
  ASSERT_EQ(c.size(), script.size());
  EXPECT_EQ(c[4]["reports"], json({"Playing"})) << "PlayAgain";
  const std::vector<int16_t> played = testing_support::ReadRecordedWav(tmp.File("c.wav")).Samples;
  EXPECT_EQ(testing_support::ReadRecordedWav(tmp.File("playsrv.wav")).Samples, played);
  const size_t firstRun = 2 * kRate * 600 / 1000;  // what sounded before the turn
  ASSERT_GE(played.size(), firstRun);
  EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + firstRun),
            std::vector<int16_t>(samples.begin(), samples.begin() + firstRun));
}

INSTANTIATE_TEST_SUITE_P(Engines, SessionsTest, ::testing::Values("dx9", "dx7", "waveout"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
