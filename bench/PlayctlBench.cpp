// What playctl costs on top of the server: a ten-minute stereo 44.1-kHz
// 16-bit WAV rendered on the virtual clock into the WAV output, once by
// `playctl play FILE --simulate --output wav:OUT` (without a terminal and
// without --progress) and once by the server alone, driven over its pipes by
// this program as a lean host would: the same requests (DxObj, AppTmpDir,
// MemorySizeToUse, the wave handed over in place, LoopPlayON, the tempo
// factors, PlayAgain), the wave's length in one AdvanceTime and then quarter
// seconds until "Play Done", Release, and the wait for the process to end.
// Both are wall-clock times of whole processes, measured in the same run; the
// summary prints playctl's time over the server's (the goal: at most 1.30).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/TimesReporter.h"
#include "platform/audio/WavFile.h"
#include "platform/os/File.h"
#include "platform/os/Process.h"
#include "tools/HostLists.h"

namespace {

using nlohmann::json;

constexpr int32_t kRate = 44100;
constexpr int32_t kSeconds = 600;
constexpr double kGoal = 1.30;

// The input and output files, made once for the whole run.
struct Files {
  std::string Folder = os::files::MakeTempFolder("/tmp", "playctl-bench-");
  std::string Input = Folder + "/ten-minutes.wav";
  std::string Output = Folder + "/played.wav";
  Files() {
    std::vector<int16_t> samples(static_cast<size_t>(kRate) * kSeconds * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 7919) % 50000 - 25000);
    audio::WriteWav16(Input, 2, kRate, samples);
  }
  ~Files() {
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

// One JSON-RPC exchange: the request, then lines up to its answer; true
// when a "Play Done" report came on the way.
bool Call(os::Process& server, int& id, const std::string& method, const json& params = nullptr) {
  json request{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  if (!server.Send(request.dump() + "\n")) throw std::runtime_error("playsrv stopped reading");
  bool done = false;
  for (std::string line; server.ReadLine(line, 60000) == os::Input::Data;) {
    const json message = json::parse(line);
    if (!message.contains("method")) return done;
    done = done || message["params"].value("Ttl", "") == "Play Done";
  }
  throw std::runtime_error("playsrv ended or did not answer " + method);
}

void RunServerAlone(const Files& files) {
  os::Process::Options options;
  options.Args = {"--simulate", "--output", "wav:" + files.Output};
  os::Process server(PLAY_BINARY_DIR "/playsrv", options);
  int id = 0;
  const audio::WavInfo wav = audio::ReadWavHeader(files.Input);
  const playctl::HostLists lists = playctl::BuildOrgLists(files.Input, wav);
  Call(server, id, "DxObj", {{"MFrmHwnd", 1}});
  Call(server, id, "AppTmpDir", {{"value", files.Folder}});
  Call(server, id, "MemorySizeToUse", {{"value", 64 << 20}});
  Call(server, id, "WriteWaveMemo",
       {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", kRate}, {"WaveNos", wav.Frames}, {"BlkInLstL", lists.Left},
        {"BlkInLstR", lists.Right}});
  Call(server, id, "LoopPlayON", {{"value", false}});
  Call(server, id, "PlayTempoFor", {{"value", 1.0}});
  Call(server, id, "PlayTempoRev", {{"value", 1.0}});
  Call(server, id, "PlayAgain");
  bool done = Call(server, id, "AdvanceTime", {{"ms", kSeconds * 1000}});
  while (!done) done = Call(server, id, "AdvanceTime", {{"ms", 250}});
  Call(server, id, "Release");
  server.CloseInput();
  for (std::string line; server.ReadLine(line, 60000) == os::Input::Data;) {
  }
  if (server.Wait(60000).value_or(-1) != 0) throw std::runtime_error("playsrv did not end well");
}

void RunPlayctl(const Files& files) {
  os::Process::Options options;
  options.Args = {"play", files.Input, "--simulate", "--output", "wav:" + files.Output};
  options.NullInput = true;
  os::Process playctl(PLAY_BINARY_DIR "/playctl", options);
  for (std::string line; playctl.ReadLine(line, 60000) == os::Input::Data;) {
  }
  if (playctl.Wait(60000).value_or(-1) != 0) throw std::runtime_error("playctl did not end well");
}

// Each run starts from the same state of the disk: no output file, and the
// last run's 100 MB written back (else the later benchmark would pay for
// the earlier one's writes).
void Settle(benchmark::State& state, const Files& files) {
  state.PauseTiming();
  std::error_code ec;
  std::filesystem::remove(files.Output, ec);
  sync();
  state.ResumeTiming();
}

void Baseline_ServerAlone(benchmark::State& state) {
  const Files& files = TheFiles();
  for (auto _ : state) {
    Settle(state, files);
    RunServerAlone(files);
  }
}

void Playctl_Play(benchmark::State& state) {
  const Files& files = TheFiles();
  for (auto _ : state) {
    Settle(state, files);
    RunPlayctl(files);
  }
}

BENCHMARK(Baseline_ServerAlone)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Playctl_Play)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

class RatioReporter final : public bench::TimesReporter {
 public:
  void PrintSummary() const {
    const double server = Real("Baseline_ServerAlone");
    const double playctl = Real("Playctl_Play");
    std::printf("\nTen minutes of stereo 44.1 kHz rendered into the WAV output, wall clock per run\n");
    std::printf("%-24s %10.1f ms\n%-24s %10.1f ms\n", "server alone", server, "playctl play", playctl);
    if (server > 0)
      std::printf("%-24s %10.2f   (goal: at most %.2f)\n", "playctl / server", playctl / server, kGoal);
  }
};

}  // namespace

int main(int argc, char** argv) {
  RatioReporter reporter;
  return bench::RunWithSummary(argc, argv, reporter);
}
