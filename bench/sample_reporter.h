// A console reporter (no colours: its output is kept in logs) that shows the
// aggregates of repeated cases, and appends every single repetition (never
// the aggregates) to a tab-separated samples file, one line per figure:
//   placement  benchmark  metric  value
// bench/table.py turns those samples into the README table.
#pragma once

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace kvrbench {

class SampleReporter : public benchmark::ConsoleReporter {
 public:
  SampleReporter(const std::string& path, std::string placement);
  bool ok() const { return static_cast<bool>(samples_); }

  void ReportRuns(const std::vector<Run>& runs) override;

 private:
  void Sample(const std::string& name, const std::string& metric, double value);

  std::ofstream samples_;
  std::string placement_;
};

}  // namespace kvrbench
