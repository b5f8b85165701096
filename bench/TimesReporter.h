#pragma once
// The console table of a benchmark program, and each benchmark's time per
// iteration kept under the name it was registered with, for a summary that
// sets one against another measured in the same run.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class TimesReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      real_[r.run_name.function_name] = r.GetAdjustedRealTime();
      cpu_[r.run_name.function_name] = r.GetAdjustedCPUTime();
    }
  }

 protected:
  // In the benchmark's own time unit; 0 when it did not run.
  double Real(const std::string& name) const { return Find(real_, name); }
  double Cpu(const std::string& name) const { return Find(cpu_, name); }

 private:
  static double Find(const std::map<std::string, double>& times, const std::string& name) {
    const auto it = times.find(name);
    return it == times.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> real_;
  std::map<std::string, double> cpu_;
};

// Runs the benchmarks that the command line selects with `reporter`, then
// its summary.
template <typename Reporter>
int RunWithSummary(int argc, char** argv, Reporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
