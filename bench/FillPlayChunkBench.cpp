// FillPlayChunk for one 4-second stereo chunk at 44100 (176400 frames, 705600
// bytes) from memory blocks, from a block file and from a 16-bit stereo
// Orgfile, forward and reverse, each beside a plain memcpy and a plain pread
// of the same bytes measured in the same run; and one 4-second mono chunk
// from the block file beside a pread of its bytes. A summary of the ratios is
// printed after the usual table.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "buffers/BlockCarrBuffClass.h"
#include "platform/os/File.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"
#include "state/Dx9CallBackMod.h"
#include "state/PlayDllMod.h"
#include "stream/FillPlayChunk.h"
#include "tests/support/TestWorld.h"

namespace {

constexpr int32_t kFriq = 44100;
constexpr int32_t kChunk = 4 * kFriq;      // frames per chunk
constexpr int32_t kWave = 10 * kFriq;      // frames in the wave: a chunk never runs short
constexpr size_t kChannelBytes = size_t{kChunk} * 2;
constexpr size_t kChunkBytes = 2 * kChannelBytes;
constexpr int32_t kHeader = 44;            // bytes before the Orgfile's samples

int16_t LeftAt(int32_t p) { return static_cast<int16_t>(p * 7); }
int16_t RightAt(int32_t p) { return static_cast<int16_t>(-p * 5); }

// One channel pair over one kind of storage, with its own playback state.
struct Source {
  std::string name;
  state::PlayDllMod mod;
  bool stereo = true;
};

class BenchWorld {
 public:
  BenchWorld() {
    box_.SetQuiet(true);
    appTmpDir_ = tmp_.Path();
    std::vector<int16_t> left, right, frames;
    for (int32_t p = 1; p <= kWave; ++p) {
      left.push_back(LeftAt(p));
      right.push_back(RightAt(p));
      frames.push_back(LeftAt(p));
      frames.push_back(RightAt(p));
    }
    // One block file holds both channels, left from byte 1, right after it.
    blockFile_ = tmp_.File("channels.raw");
    testing_support::WriteSamples(blockFile_, left);
    os::files::WriteAt(blockFile_, right.data(), right.size() * 2, int64_t{kWave} * 2, false);
    orgFile_ = tmp_.File("stereo16.wav");
    std::vector<uint8_t> wav(kHeader, 0);
    wav.resize(kHeader + frames.size() * 2);
    std::memcpy(wav.data() + kHeader, frames.data(), frames.size() * 2);
    testing_support::WriteBytes(orgFile_, wav);

    memLeft_ = left;
    memRight_ = right;
    Add("memory", MemChannel(left), MemChannel(right));
    Add("blockfile", Ingested(testing_support::HostList().Blk(blockFile_, kWave, 1, 1)),
        Ingested(testing_support::HostList().Blk(blockFile_, kWave, 1, 2 * kWave + 1)));
    Add("orgfile16stereo", Ingested(testing_support::HostList().Org(orgFile_, kWave, 1, kHeader + 1, 2, 16)),
        Ingested(testing_support::HostList().Org(orgFile_, kWave, 1, kHeader + 3, 2, 16)));
    Add("blockfilemono", Ingested(testing_support::HostList().Blk(blockFile_, kWave, 1, 1)), nullptr);
  }
  ~BenchWorld() {
    for (auto& s : sources_) {
      s->mod.ChanBuffL.reset();
      s->mod.ChanBuffR.reset();
    }
  }
  BenchWorld(const BenchWorld&) = delete;
  BenchWorld& operator=(const BenchWorld&) = delete;

  std::vector<std::unique_ptr<Source>>& Sources() { return sources_; }
  state::Dx9CallBackMod& Dx9() { return dx9_; }
  const std::string& BlockFile() const { return blockFile_; }
  const std::string& OrgFile() const { return orgFile_; }
  const std::vector<int16_t>& MemLeft() const { return memLeft_; }
  const std::vector<int16_t>& MemRight() const { return memRight_; }

 private:
  std::unique_ptr<buffers::BlockCarrBuffClass> MemChannel(const std::vector<int16_t>& values) {
    const int32_t s = engine_.NewBlock(static_cast<int32_t>(values.size()), blocks::BlockMem);
    std::memcpy(engine_.Blocks(s).Samples.Ptr(0), values.data(), values.size() * 2);
    engine_.Blocks(s).StartPos = 1;
    runtime::VbArray<int32_t> list(0, 1);
    list(1) = s;
    return Channel(list);
  }
  std::unique_ptr<buffers::BlockCarrBuffClass> Ingested(const testing_support::HostList& host) {
    runtime::VbArray<int32_t> idx;
    engine_.BlockListIngest(host.Build(), idx);
    return Channel(idx);
  }
  std::unique_ptr<buffers::BlockCarrBuffClass> Channel(const runtime::VbArray<int32_t>& list) {
    auto b = std::make_unique<buffers::BlockCarrBuffClass>(engine_, memory_);
    b->BuffBlocksPutFresh(list);
    return b;
  }
  void Add(const std::string& name, std::unique_ptr<buffers::BlockCarrBuffClass> l, std::unique_ptr<buffers::BlockCarrBuffClass> r) {
    auto s = std::make_unique<Source>();
    s->name = name;
    s->stereo = r != nullptr;
    const int32_t channels = s->stereo ? 2 : 1;
    state::PlayDllMod& m = s->mod;
    m.FmtChannal = channels;
    m.FmtBits = 16;
    m.FmtFriq = kFriq;
    m.WaveNos = kWave;
    m.ChunkSamples = kChunk;
    m.HalfOffset = channels * kChunk;
    m.PlayChunkLen = 2 * channels * kChunk;
    m.ChanBuffL = std::move(l);
    m.ChanBuffR = std::move(r);
    sources_.push_back(std::move(s));
  }

  testing_support::TempDir tmp_;
  os::MessageBox box_;
  int32_t memory_ = 256 * 1024 * 1024;
  std::string appTmpDir_;
  blocks::VodoRaraZodorUze engine_{memory_, appTmpDir_, box_};
  state::Dx9CallBackMod dx9_;
  std::vector<std::unique_ptr<Source>> sources_;
  std::string blockFile_, orgFile_;
  std::vector<int16_t> memLeft_, memRight_;
};

void Fill(benchmark::State& state, Source& src, state::Dx9CallBackMod& dx9, int32_t direction) {
  const int32_t half = 1;
  for (auto _ : state) {
    src.mod.PlayDirection = direction;
    src.mod.PlayProgress = 1;
    if (!stream::FillPlayChunk(src.mod, dx9, half)) state.SkipWithError("no chunk placed");
    benchmark::DoNotOptimize(src.mod.PlayChunk.Ptr(1));
    benchmark::ClobberMemory();
  }
  // Forward from 1 the chunk starts at position 1; reverse at the wave's end.
  const int32_t first = direction == 1 ? 1 : kWave;
  const int16_t second = src.stereo ? RightAt(first) : LeftAt(first + direction);
  if (src.mod.PlayChunk(1) != LeftAt(first) || src.mod.PlayChunk(2) != second) state.SkipWithError("wrong samples");
  const size_t bytes = src.stereo ? kChunkBytes : kChannelBytes;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void Memcpy(benchmark::State& state, const BenchWorld& world) {
  std::vector<int16_t> out(2 * size_t{kChunk});
  for (auto _ : state) {
    std::memcpy(out.data(), world.MemLeft().data(), kChannelBytes);
    std::memcpy(out.data() + kChunk, world.MemRight().data(), kChannelBytes);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kChunkBytes));
}

// The chunk's bytes of both channels, read where they lie: the two runs of the
// block file, or the one interleaved run of the Orgfile; or the left run alone.
void Pread(benchmark::State& state, const std::string& path, bool twoRuns, bool leftOnly = false) {
  const auto file = os::ReadOnlyFile::Open(path);
  std::vector<int16_t> out(2 * size_t{kChunk});
  for (auto _ : state) {
    if (leftOnly) {
      file->ReadExactAt(out.data(), kChannelBytes, 0);
    } else if (twoRuns) {
      file->ReadExactAt(out.data(), kChannelBytes, 0);
      file->ReadExactAt(out.data() + kChunk, kChannelBytes, int64_t{kWave} * 2);
    } else {
      file->ReadExactAt(out.data(), kChunkBytes, kHeader);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kChunkBytes));
}

// Shows the usual table and keeps each benchmark's real time per iteration.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median stands for the benchmark.
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const Times t{r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        medians_[r.run_name.str()] = t;
      } else if (r.run_type == Run::RT_Iteration) {
        times_[r.run_name.str()] = t;
      }
    }
  }

  // Ratios of CPU time (the machine may be shared) and, in brackets, of real time.
  void PrintSummary() const {
    std::printf("\nFillPlayChunk, one 4 s stereo chunk (%zu bytes), against a plain copy of the same bytes\n",
                kChunkBytes);
    std::printf("%-30s %10s %10s %16s %16s\n", "case", "cpu (us)", "real (us)", "x memcpy", "x pread");
    const std::map<std::string, std::string> preadFor{{"memory", "Baseline/pread_blockfile"},
                                                      {"blockfile", "Baseline/pread_blockfile"},
                                                      {"orgfile16stereo", "Baseline/pread_orgfile"},
                                                      {"blockfilemono", "Baseline/pread_mono"}};
    const Times copy = Time("Baseline/memcpy");
    std::set<std::string> names;
    for (const auto* m : {&times_, &medians_})
      for (const auto& entry : *m) names.insert(entry.first);
    for (const std::string& name : names) {
      if (name.rfind("Fill/", 0) != 0) continue;
      const Times t = Time(name);
      const std::string source = name.substr(5, name.find('/', 5) - 5);
      const auto it = preadFor.find(source);
      const Times read = it == preadFor.end() ? Times{} : Time(it->second);
      if (source == "blockfilemono") {  // half the bytes of the memcpy baseline
        std::printf("%-30s %10.1f %10.1f %16s %7.2f (%5.2f)\n", name.c_str(), t.cpu, t.real, "-",
                    Ratio(t.cpu, read.cpu), Ratio(t.real, read.real));
        continue;
      }
      std::printf("%-30s %10.1f %10.1f %7.2f (%5.2f) %7.2f (%5.2f)\n", name.c_str(), t.cpu, t.real,
                  Ratio(t.cpu, copy.cpu), Ratio(t.real, copy.real), Ratio(t.cpu, read.cpu), Ratio(t.real, read.real));
    }
    for (const char* b : {"Baseline/memcpy", "Baseline/pread_blockfile", "Baseline/pread_orgfile", "Baseline/pread_mono"})
      std::printf("%-30s %10.1f %10.1f\n", b, Time(b).cpu, Time(b).real);
    std::printf("(the memory case is set beside the pread of the same bytes from the block file)\n");
  }

 private:
  struct Times {
    double real = 0;
    double cpu = 0;
  };
  static double Ratio(double a, double b) { return b > 0 ? a / b : 0.0; }
  Times Time(const std::string& name) const {
    if (const auto m = medians_.find(name); m != medians_.end()) return m->second;
    const auto it = times_.find(name);
    return it == times_.end() ? Times{} : it->second;
  }
  std::map<std::string, Times> times_;
  std::map<std::string, Times> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  BenchWorld world;

  benchmark::RegisterBenchmark("Baseline/memcpy", [&](benchmark::State& s) { Memcpy(s, world); })
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Baseline/pread_blockfile", [&](benchmark::State& s) { Pread(s, world.BlockFile(), true); })
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Baseline/pread_orgfile", [&](benchmark::State& s) { Pread(s, world.OrgFile(), false); })
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Baseline/pread_mono", [&](benchmark::State& s) { Pread(s, world.BlockFile(), false, true); })
      ->Unit(benchmark::kMicrosecond);
  for (auto& src : world.Sources()) {
    for (const int32_t direction : {1, -1}) {
      Source* s = src.get();
      const std::string name = "Fill/" + s->name + (direction == 1 ? "/forward" : "/reverse");
      benchmark::RegisterBenchmark(name.c_str(),
                                   [&world, s, direction](benchmark::State& st) { Fill(st, *s, world.Dx9(), direction); })
          ->Unit(benchmark::kMicrosecond);
    }
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
