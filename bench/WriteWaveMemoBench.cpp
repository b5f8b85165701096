// The wave hand-over as the host makes it: one WriteWaveMemo request line,
// read, checked and answered by the server's endpoint and service over a
// libplaydll handle on the simulated platform. Cases: stereo waves of 10k and
// 100k Orgfile entries (each entry names one of the host's files by a path
// of 64 bytes), and waves naming 10k, 40k and 80k distinct block files, with
// the release of such a wave by the next hand-over. A summary prints the
// time per call beside the goal of each case and, for the distinct files,
// how the time per entry grows with the count (1.0: linear).

#include <benchmark/benchmark.h>

#include "bench/TimesReporter.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "embed/playdll.h"
#include "server/JsonLineParser.h"
#include "server/JsonRpcEndpoint.h"
#include "server/PlayService.h"
#include "tests/support/TestWorld.h"

namespace {

using nlohmann::json;

constexpr int32_t kEntryLength = 100;  // samples per block

// A path of exactly 64 bytes that differs by `serial`.
std::string Path(const std::string& kind, int32_t serial) {
  std::string tail = std::to_string(serial);
  std::string path = "/home/editor/projects/a-long-project-name/" + kind + "/";
  path += std::string(64 - path.size() - tail.size() - 4, 'x') + tail + ".wav";
  return path;
}

// The request line: `entries` in all, half per channel.
std::string HandOverLine(int32_t entries, bool distinctBlockFiles) {
  testing_support::HostList left, right;
  const int32_t perChannel = entries / 2;
  for (int32_t i = 0; i < perChannel; ++i) {
    const int32_t start = 1 + i * kEntryLength;
    if (distinctBlockFiles) {
      left.Blk(Path("blocks", 2 * i), kEntryLength, start, 1);
      right.Blk(Path("blocks", 2 * i + 1), kEntryLength, start, 1);
    } else {
      left.Org(Path("takes", i % 16), kEntryLength, start, 45 + 4 * i * kEntryLength, 2, 16);
      right.Org(Path("takes", i % 16), kEntryLength, start, 47 + 4 * i * kEntryLength, 2, 16);
    }
  }
  const json params{{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", 44100}, {"WaveNos", perChannel * kEntryLength},
                    {"BlkInLstL", left.Elements()}, {"BlkInLstR", right.Elements()}};
  return json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "WriteWaveMemo"}, {"params", params}}.dump();
}

// playsrv's endpoint and service over a simulated handle.
class Server {
 public:
  Server() : play_(MakeHandle()) {
    Handle(R"({"jsonrpc":"2.0","id":0,"method":"DxObj","params":{"MFrmHwnd":0}})");
  }
  ~Server() { playdll_destroy(play_); }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  // Handles one line; false unless its answer is a result.
  bool Handle(const std::string& line) {
    lastAnswer_.clear();
    endpoint_.HandleLine(line);
    return lastAnswer_.find("\"result\":") != std::string::npos;
  }

 private:
  static playdll_handle* MakeHandle() {
    playdll_options options{};
    options.simulate = 1;
    return playdll_create(&options);
  }

  playdll_handle* play_;
  server::JsonRpcEndpoint endpoint_{[this](const std::string& l) {
    if (l.find("\"method\":") == std::string::npos) lastAnswer_ = l;
  }};
  server::PlayService service_{play_, endpoint_, true};
  std::string lastAnswer_;
};

const std::string kSmallWave = HandOverLine(2, false);

void HandOver(benchmark::State& state, int32_t entries, bool distinct) {
  Server server;
  const std::string line = HandOverLine(entries, distinct);
  for (auto _ : state) {
    if (!server.Handle(line)) state.SkipWithError("the hand-over failed");
  }
  state.counters["line_MB"] = static_cast<double>(line.size()) / 1e6;
}

// The share of the hand-over that is reading the line.
void ParseOnly(benchmark::State& state, int32_t entries) {
  const std::string line = HandOverLine(entries, false);
  for (auto _ : state) benchmark::DoNotOptimize(server::ParseJsonLine(line, 64));
}

// The release of a wave of `entries` distinct block files, by a hand-over of
// a two-entry wave after it.
void Release(benchmark::State& state, int32_t entries) {
  Server server;
  const std::string line = HandOverLine(entries, true);
  for (auto _ : state) {
    state.PauseTiming();
    if (!server.Handle(line)) state.SkipWithError("the hand-over failed");
    state.ResumeTiming();
    if (!server.Handle(kSmallWave)) state.SkipWithError("the small hand-over failed");
  }
}

class SummaryReporter final : public bench::TimesReporter {
 public:
  void PrintSummary() const {
    std::printf("\nWriteWaveMemo hand-over, real time per call\n");
    std::printf("%-36s %10s %10s %8s\n", "case", "ms", "goal ms", "x goal");
    for (const auto& [name, goal] : std::map<std::string, double>{{"HandOver/orgfile_entries/10000", 10},
                                                                 {"HandOver/orgfile_entries/100000", 100}}) {
      const double ms = Ms(name);
      std::printf("%-36s %10.1f %10.0f %8.2f\n", name.c_str(), ms, goal, ms / goal);
    }
    const double base = Ms("HandOver/distinct_blockfiles/10000") / 10000;
    for (const int n : {10000, 40000, 80000}) {
      for (const char* kind : {"HandOver/distinct_blockfiles/", "Release/distinct_blockfiles/"}) {
        const std::string name = kind + std::to_string(n);
        const double perEntry = Ms(name) / n;
        std::printf("%-36s %10.1f   per entry x the 10k hand-over's: %.2f\n", name.c_str(), Ms(name),
                    base > 0 ? perEntry / base : 0.0);
      }
    }
  }

 private:
  double Ms(const std::string& name) const { return Real(name); }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const int n : {10000, 100000}) {
    benchmark::RegisterBenchmark(("HandOver/orgfile_entries/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { HandOver(s, n, false); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("ParseOnly/orgfile_entries/100000", [](benchmark::State& s) { ParseOnly(s, 100000); })
      ->Unit(benchmark::kMillisecond);
  for (const int n : {10000, 40000, 80000}) {
    benchmark::RegisterBenchmark(("HandOver/distinct_blockfiles/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { HandOver(s, n, true); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark(("Release/distinct_blockfiles/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& s) { Release(s, n); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
