#include "sample_reporter.h"

namespace kvrbench {

SampleReporter::SampleReporter(const std::string& path, std::string placement)
    : ConsoleReporter(OO_Tabular), samples_(path, std::ios::app), placement_(std::move(placement)) {}

void SampleReporter::ReportRuns(const std::vector<Run>& runs) {
  // The console shows the aggregates when there are any (mean, median...);
  // the samples file takes every single repetition.
  std::vector<Run> aggregates;
  for (const Run& run : runs) {
    if (run.run_type == Run::RT_Aggregate) aggregates.push_back(run);
  }
  ConsoleReporter::ReportRuns(aggregates.empty() ? runs : aggregates);
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    const std::string& name = run.run_name.function_name;
    // Seconds per iteration of wall time, whatever unit the console shows.
    const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
    Sample(name, "seconds", seconds);
    // CPU time of the benchmark's own threads: what the client side costs.
    Sample(name, "cpu_seconds", run.cpu_accumulated_time / static_cast<double>(run.iterations));
    for (const auto& [metric, counter] : run.counters) Sample(name, metric, counter.value);
  }
  samples_.flush();
}

void SampleReporter::Sample(const std::string& name, const std::string& metric, double value) {
  samples_ << placement_ << '\t' << name << '\t' << metric << '\t' << value << '\n';
}

}  // namespace kvrbench
