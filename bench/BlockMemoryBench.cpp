// Single-sample access over many block files under a small MemorySizeToUse:
// every touch of a new block loads it (one positioned read) and the memory
// limit pushes the least recently used blocks out again. Reported beside a
// plain pread of one block's bytes measured in the same run, with the peak of
// the engine's MemoryInUse against the limit (it may exceed the limit only by
// the four blocks the eviction keeps). A summary prints each case as a ratio
// to that pread: a random touch as it is (mostly one load and one eviction),
// the sequential walk per block (its time per sample x the block's samples).

#include <benchmark/benchmark.h>

#include "bench/TimesReporter.h"
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "buffers/BlockCarrBuffClass.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"
#include "tests/support/TestWorld.h"

namespace {

constexpr int32_t kBlocks = 64;
constexpr int32_t kBlockLen = 65536;            // samples: 128 KiB a block
constexpr int32_t kLimit = 8 * kBlockLen * 2;   // bytes: room for eight blocks

struct World {
  World() {
    box.SetQuiet(true);
    appTmpDir = tmp.Path();
    testing_support::HostList list;
    std::vector<int16_t> samples(kBlockLen);
    for (int32_t b = 0; b < kBlocks; ++b) {
      for (int32_t i = 0; i < kBlockLen; ++i) samples[static_cast<size_t>(i)] = static_cast<int16_t>(b * 31 + i);
      std::string leaf = "b";  // appended: GCC 12 misreads a + chain at -O3
      leaf += std::to_string(b);
      leaf += ".raw";
      const std::string name = tmp.File(leaf);
      testing_support::WriteSamples(name, samples);
      list.Blk(name, kBlockLen, 1 + b * kBlockLen, 1);
    }
    runtime::VbArray<int32_t> idx;
    blocks.BlockListIngest(list.Build(), idx);
    buff = std::make_unique<buffers::BlockCarrBuffClass>(blocks, memorySizeToUse);
    buff->BuffBlocksPutFresh(idx);
  }
  ~World() { buff.reset(); }

  testing_support::TempDir tmp;
  os::MessageBox box;
  int32_t memorySizeToUse = kLimit;
  std::string appTmpDir;
  blocks::VodoRaraZodorUze blocks{memorySizeToUse, appTmpDir, box};
  std::unique_ptr<buffers::BlockCarrBuffClass> buff;
};

void Baseline_PreadOneBlock(benchmark::State& state) {
  World w;
  const std::string name = w.tmp.File("b0.raw");
  const int fd = open(name.c_str(), O_RDONLY);
  std::vector<int16_t> buf(kBlockLen);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pread(fd, buf.data(), buf.size() * 2, 0));
    benchmark::ClobberMemory();
  }
  close(fd);
}

// One sample from a random block per iteration: mostly loads and evictions.
void WaveLR_RandomBlocks(benchmark::State& state) {
  World w;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> pick(0, kBlocks - 1);
  int32_t peak = 0;
  int64_t wrong = 0;
  for (auto _ : state) {
    const int32_t b = pick(rng);
    const int32_t pos = 1 + b * kBlockLen + 100;
    const int16_t v = w.buff->WaveLR(pos);
    wrong += v != static_cast<int16_t>(b * 31 + 100);
    peak = std::max(peak, w.blocks.MemoryInUse);
  }
  state.counters["peak_MemoryInUse_over_limit"] = static_cast<double>(peak) / kLimit;
  state.counters["wrong_samples"] = static_cast<double>(wrong);
}

// Sequential samples through one block after another: one load per block.
void WaveLR_Sequential(benchmark::State& state) {
  World w;
  int32_t pos = 1;
  int32_t peak = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.buff->WaveLR(pos));
    pos = pos == kBlocks * kBlockLen ? 1 : pos + 1;
    peak = std::max(peak, w.blocks.MemoryInUse);
  }
  state.counters["peak_MemoryInUse_over_limit"] = static_cast<double>(peak) / kLimit;
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(Baseline_PreadOneBlock);
BENCHMARK(WaveLR_RandomBlocks);
BENCHMARK(WaveLR_Sequential);

class RatioReporter final : public bench::TimesReporter {
 public:
  void PrintSummary() const {
    const double pread = Ns("Baseline_PreadOneBlock");
    std::printf("\nBlock loading against a plain pread of one block (%d bytes), CPU time\n", kBlockLen * 2);
    std::printf("%-36s %12s %10s\n", "case", "ns", "x pread");
    const double random = Ns("WaveLR_RandomBlocks");
    const double perBlock = Ns("WaveLR_Sequential") * kBlockLen;
    std::printf("%-36s %12.0f %10.2f\n", "WaveLR_RandomBlocks (per touch)", random, pread > 0 ? random / pread : 0);
    std::printf("%-36s %12.0f %10.2f\n", "WaveLR_Sequential (per block)", perBlock, pread > 0 ? perBlock / pread : 0);
    std::printf("%-36s %12.0f\n", "Baseline_PreadOneBlock", pread);
  }

 private:
  double Ns(const std::string& name) const { return Cpu(name); }
};

}  // namespace

int main(int argc, char** argv) {
  RatioReporter reporter;
  return bench::RunWithSummary(argc, argv, reporter);
}
