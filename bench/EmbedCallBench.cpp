// What a call costs a host: PlayCurrentPosition through libplaydll in
// process (the call carried to the handle's loop thread and back) against
// the same member over JSON-RPC to a playsrv child (a request line written
// to its pipe, handled through the same library, the answer line read back).
// Both play a wave on the DirectSound 9 engine under the simulated clock, so
// each call asks the engine for its position. A summary prints the median
// time per call of each and their ratio, measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "embed/playdll.h"
#include "platform/os/Process.h"

namespace {

constexpr int32_t kRate = 8000;
constexpr int32_t kFrames = 60 * kRate;  // a minute of silence: it plays throughout

void InProcess(benchmark::State& state) {
  playdll_options options{};
  options.simulate = 1;
  const std::string service = os::ProgramFolder() + "/../libsoundservice.so";
  options.sound_service = service.c_str();
  playdll_handle* play = playdll_create(&options);
  if (play == nullptr) {
    state.SkipWithError(playdll_last_error());
    return;
  }
  playdll_list* silence = playdll_list_create("left channel");
  playdll_list_add_silence(silence, kFrames);
  int32_t hwnd = 5;
  playdll_DxObj(play, &hwnd);
  playdll_WriteWaveMemo(play, 16, 1, kRate, kFrames, playdll_list_data(silence), playdll_list_size(silence), nullptr, 0);
  playdll_PlayAgain(play);
  playdll_advance_time(play, 1000, nullptr);
  for (auto _ : state) {
    int32_t position = 0;
    if (playdll_PlayCurrentPosition(play, &position) != PLAYDLL_OK || position != kRate)
      state.SkipWithError("PlayCurrentPosition failed");
    benchmark::DoNotOptimize(position);
  }
  playdll_list_destroy(silence);
  playdll_destroy(play);
}

// One request and its answer; false unless the answer is the position expected.
bool RoundTrip(os::Process& server, const std::string& request, const std::string& answer) {
  std::string line;
  return server.Send(request) && server.ReadLine(line, 10000) == os::Input::Data && line == answer;
}

void OverJsonRpc(benchmark::State& state) {
  os::Process::Options options;
  options.Args = {"--simulate", "--log-level", "error"};
  os::Process server(os::ProgramFolder() + "/../playsrv", options);
  const std::string silence = "[1,1,0," + std::to_string(kFrames) + ",5,1,0,1,16]";
  for (const std::string& setUp :
       {std::string(R"({"jsonrpc":"2.0","id":1,"method":"DxObj","params":{"MFrmHwnd":5}})"),
        R"({"jsonrpc":"2.0","id":2,"method":"WriteWaveMemo","params":{"FmtBits":16,"FmtChannal":1,"FmtFriq":)" +
            std::to_string(kRate) + R"(,"WaveNos":)" + std::to_string(kFrames) + R"(,"BlkInLstL":)" + silence + "}}",
        std::string(R"({"jsonrpc":"2.0","id":3,"method":"PlayAgain"})"),
        std::string(R"({"jsonrpc":"2.0","id":4,"method":"AdvanceTime","params":{"ms":1000}})")}) {
    server.Send(setUp + "\n");
    std::string line;
    while (server.ReadLine(line, 10000) == os::Input::Data && line.find("\"id\"") == std::string::npos) {
    }
  }
  const std::string request = R"({"jsonrpc":"2.0","id":5,"method":"PlayCurrentPosition"})" "\n";
  const std::string answer = R"({"id":5,"jsonrpc":"2.0","result":)" + std::to_string(kRate) + "}";
  for (auto _ : state) {
    if (!RoundTrip(server, request, answer)) state.SkipWithError("no answer or not the position expected");
  }
  server.CloseInput();
  server.Wait(5000);
}

// Wake-ups across cores dominate both and vary with what else the machine
// runs, so each is measured five times and the medians are compared.
BENCHMARK(InProcess)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(OverJsonRpc)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

class SummaryReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        us_[r.run_name.function_name] = r.GetAdjustedRealTime() / 1000;
  }
  void PrintSummary() const {
    const auto in = us_.find("InProcess"), rpc = us_.find("OverJsonRpc");
    if (in == us_.end() || rpc == us_.end() || in->second <= 0) return;
    std::printf("\nPlayCurrentPosition, real time per call (median of five)\n");
    std::printf("  in process (libplaydll)      %8.2f us\n", in->second);
    std::printf("  over JSON-RPC (playsrv)      %8.2f us\n", rpc->second);
    std::printf("  JSON-RPC / in process        %8.1f x\n", rpc->second / in->second);
  }

 private:
  std::map<std::string, double> us_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
