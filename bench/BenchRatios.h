// What the benchmark programs keep of each run so that they can print their ratios after the table.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// Keeps each run's rates and its times per iteration, by run name.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto items = run.counters.find("items_per_second");
      auto bytes = run.counters.find("bytes_per_second");
      if (items != run.counters.end()) itemRates[run.benchmark_name()] = items->second;
      if (bytes != run.counters.end()) byteRates[run.benchmark_name()] = bytes->second;
      realTimes[run.benchmark_name()] = run.GetAdjustedRealTime();
      cpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> itemRates;
  std::map<std::string, double> byteRates;
  std::map<std::string, double> realTimes;
  std::map<std::string, double> cpuTimes;
};

// The value of the first run whose name begins with the given benchmark name (arguments follow it); 0 for none.
inline double ValueOf(const std::map<std::string, double>& values, const std::string& name) {
  for (const auto& [runName, value] : values) {
    if (runName.rfind(name, 0) == 0) return value;
  }
  return 0;
}

// Ours over the peer's, of rates or of times; 0 when the peer did not run.
inline double Ratio(const std::map<std::string, double>& values, const std::string& ours, const std::string& peer) {
  const double peerValue = ValueOf(values, peer);
  return peerValue == 0 ? 0 : ValueOf(values, ours) / peerValue;
}

// The largest value of the runs whose names begin with the given benchmark name, and that run's name.
inline std::pair<double, std::string> BestOf(const std::map<std::string, double>& values, const std::string& name) {
  std::pair<double, std::string> best{0, ""};
  for (const auto& [runName, value] : values) {
    if (runName.rfind(name, 0) == 0 && value > best.first) best = {value, runName};
  }
  return best;
}
