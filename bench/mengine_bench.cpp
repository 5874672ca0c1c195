// kvrbench_mengine: the M engine of kvrdevserver, in process, on the
// workloads of bench/mengine.py. The routines come from --routines=DIR (every
// NAME.m there is stored as ^ROUTINE("NAME",...) before the cases run) and
// the routines to import from --import=DIR. Each case runs its workload once
// per iteration; Google Benchmark reports the CPU time of the thread.
//   mengine_cpu_loop       d ^BCPU      1,000,000 iterations of arithmetic,
//                                       string functions and concatenation
//   mengine_call_10        d C10^BCALL  100,000 calls of $$F^BS10
//   mengine_call_2000      d C2000^BCALL  100,000 calls of $$F^BS2000
//   mengine_local          d ^BLOC      local SET, GET and $ORDER
//   mengine_global         d ^BGLO      global SET, GET and $ORDER
//   mengine_import_compile every routine of --import stored line by line and
//                          compiled with compile^%RCOMPIL
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "mengine/engine.h"
#include "mengine/silent_io.h"

namespace {

struct RoutineFile {
  std::string name;
  std::vector<std::string> lines;
};

std::vector<RoutineFile> readRoutines(const std::string& dir) {
  std::vector<RoutineFile> routines;
  if (dir.empty()) return routines;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".m") continue;
    RoutineFile r{entry.path().stem().string(), {}};
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    routines.push_back(std::move(r));
  }
  return routines;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// Stores a routine the way the import utility does: a line per node.
void store(mengine::Job& job, mengine::JobIo& io, const RoutineFile& r) {
  std::string prefix = "^ROUTINE(" + quoted(r.name) + ",";
  for (size_t i = 0; i < r.lines.size(); ++i)
    job.set(prefix + std::to_string(i + 1) + ")", r.lines[i], io);
  job.set(prefix + "0)", "67000,0", io);
}

struct Bench {
  mengine::Server server{mengine::ServerOptions{}};
  mengine::SilentIo io;
  std::vector<RoutineFile> imports;
};

Bench* bench = nullptr;

void runLine(benchmark::State& state, std::string_view line) {
  mengine::Job job(bench->server, 1);
  job.execute(line, bench->io);  // the routines parsed and cached once
  for (auto _ : state) job.execute(line, bench->io);
}

void importAndCompile(benchmark::State& state) {
  mengine::Job job(bench->server, 2);
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& r : bench->imports) job.kill("^ROUTINE(" + quoted(r.name) + ")", bench->io);
    state.ResumeTiming();
    for (const auto& r : bench->imports) {
      store(job, bench->io, r);
      job.execute("d compile^%RCOMPIL(" + quoted(r.name + ".INT") + ")", bench->io);
    }
  }
  state.counters["routines"] = static_cast<double>(bench->imports.size());
}

std::string option(int argc, char** argv, std::string_view name) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.substr(0, name.size()) == name) return std::string(arg.substr(name.size()));
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Bench b;
  bench = &b;
  std::string routines = option(argc, argv, "--routines=");
  if (routines.empty()) {
    std::cerr << "usage: kvrbench_mengine --routines=DIR [--import=DIR] [benchmark options]\n";
    return 255;
  }
  {
    mengine::Job job(b.server, 1);
    for (const auto& r : readRoutines(routines)) store(job, b.io, r);
  }
  b.imports = readRoutines(option(argc, argv, "--import="));
  auto unit = benchmark::kMillisecond;
  benchmark::RegisterBenchmark("mengine_cpu_loop", runLine, "d ^BCPU")->Iterations(1)->Unit(unit);
  benchmark::RegisterBenchmark("mengine_call_10", runLine, "d C10^BCALL")->Iterations(1)->Unit(unit);
  benchmark::RegisterBenchmark("mengine_call_2000", runLine, "d C2000^BCALL")->Iterations(1)->Unit(unit);
  benchmark::RegisterBenchmark("mengine_local", runLine, "d ^BLOC")->Iterations(1)->Unit(unit);
  benchmark::RegisterBenchmark("mengine_global", runLine, "d ^BGLO")->Iterations(1)->Unit(unit);
  if (!b.imports.empty())
    benchmark::RegisterBenchmark("mengine_import_compile", importAndCompile)->Iterations(1)->Unit(unit);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
