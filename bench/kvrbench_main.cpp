// kvrbench: the measured figures of bench/run.sh, as Google Benchmark cases.
// The servers are started (and pinned) by the script; this program is told
// their ports and registers only the cases whose server it was given:
//   --pingpong=PORT   raw_pingpong            round trips/s, raw sockets
//   --reply=PORT      execute_minimal         KVRExecute "s x=1" round trips/s
//                     slow_reply_cpu          client CPU while waiting 2 s
//                     execute_output          KVRExecuteOutput MB/s
//   --bulk=PORT       bulk_recv               raw recv loop MB/s
//   --devserver=PORT  execute_devserver       KVRExecute "s x=1" round trips/s
//                     devserver_write_2       write requests/s, 2 raw clients
//                     open_devserver          KVRConnectOpen + close, opens/s
//   --tls-devserver=PORT  kvrdevserver with TLS on every connection:
//                     execute_devserver_tls   as execute_devserver, over TLS
//                     open_devserver_tls      as open_devserver, over TLS
//   both of them:     execute_devserver_tls_paired  bursts in clear and over
//                     TLS in turn; counters ratio (median of the pairs'),
//                     clear_us and tls_us per round trip
//   --tls-ca=FILE     the root the TLS server's certificate is verified with
//   --bytes=N         bytes per streaming case (the bulk peer must send N)
//   --placement=TEXT  label written with every sample
//   --samples=FILE    the samples file (appended to)
// The remaining arguments go to Google Benchmark (--benchmark_repetitions...).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_client.h"
#include "kovrasc.h"
#include "sample_reporter.h"

namespace {

using kvrbench::ConnectLoopback;
using kvrbench::Socket;

struct Options {
  int pingpong = 0;
  int reply = 0;
  int bulk = 0;
  int devserver = 0;
  int tlsDevserver = 0;
  std::string tlsCa;
  std::uint64_t bytes = 20 * 1024 * 1024;
  std::string placement = "unpinned";
  std::string samples;
};

KOVRA_STR* Record(std::string_view text) {
  static thread_local std::unique_ptr<KOVRA_STR> records[2];
  static thread_local int next = 0;
  auto& record = records[next++ % 2];
  if (!record) record = std::make_unique<KOVRA_STR>();
  record->len = static_cast<std::uint16_t>(text.size());
  std::memcpy(record->str, text.data(), text.size());
  return record.get();
}

// One open library connection for the life of a case.
class Connection {
 public:
  explicit Connection(int port) : handle_(KVRCreateConnect("127.0.0.1", port, "USER")) {}
  ~Connection() { KVRDestroyConnect(handle_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Open() { return KVRConnectOpen(handle_) == 1; }
  void* handle() const { return handle_; }

 private:
  void* handle_;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void RawPingPong(benchmark::State& state, int port) {
  Socket socket = ConnectLoopback(port);
  if (!socket) return state.SkipWithError("cannot connect to the ping-pong peer");
  const std::string_view request("ping-request-0123456", 20);
  char reply[16];
  for (auto _ : state) {
    if (!kvrbench::SendAll(socket.get(), request) ||
        kvrbench::ReceiveThroughNul(socket.get(), reply, 10) != 10) {
      return state.SkipWithError("ping-pong peer failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void ExecuteTrivialLine(benchmark::State& state, int port) {
  Connection connection(port);
  if (!connection.Open()) return state.SkipWithError("KVRConnectOpen failed");
  KOVRA_STR* line = Record("s x=1");
  for (auto _ : state) {
    if (KVRExecute(connection.handle(), line) != 1) return state.SkipWithError("KVRExecute failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// Connections opened while this lives verify the server as verify-full does
// (the library reads its TLS settings from the environment at each open).
class TlsEnvironment {
 public:
  explicit TlsEnvironment(const std::string& ca) {
    setenv("KOVRA_TLS", "verify-full", 1);
    setenv("KOVRA_TLS_CA", ca.c_str(), 1);
  }
  ~TlsEnvironment() {
    unsetenv("KOVRA_TLS");
    unsetenv("KOVRA_TLS_CA");
  }
  TlsEnvironment(const TlsEnvironment&) = delete;
  TlsEnvironment& operator=(const TlsEnvironment&) = delete;
};

void ExecuteTrivialLineTls(benchmark::State& state, int port, const std::string& ca) {
  const TlsEnvironment tls(ca);
  ExecuteTrivialLine(state, port);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Round trips in clear and over TLS in alternating bursts, over two
// connections open side by side: a load that comes and goes on a shared
// machine weighs on both alike, so the median of the bursts' ratios shows
// what TLS costs where separate runs, seconds apart, cannot. One iteration
// is a pair of bursts, in turn the one and the other first.
void PairedClearAndTls(benchmark::State& state, int clearPort, int tlsPort, const std::string& ca) {
  using Clock = std::chrono::steady_clock;
  constexpr int kBurst = 200;
  Connection clear(clearPort);
  if (!clear.Open()) return state.SkipWithError("KVRConnectOpen failed");
  std::optional<Connection> secured;
  {
    const TlsEnvironment tls(ca);
    secured.emplace(tlsPort);
    if (!secured->Open()) return state.SkipWithError("KVRConnectOpen over TLS failed");
  }
  KOVRA_STR* line = Record("s x=1");
  std::vector<double> clearUs;
  std::vector<double> tlsUs;
  std::vector<double> ratios;
  bool tlsFirst = false;
  for (auto _ : state) {
    double us[2] = {0, 0};  // per round trip: in clear, over TLS
    for (int burst = 0; burst < 2; ++burst) {
      const bool overTls = (burst == 0) == tlsFirst;
      void* handle = overTls ? secured->handle() : clear.handle();
      const auto start = Clock::now();
      for (int i = 0; i < kBurst; ++i) {
        if (KVRExecute(handle, line) != 1) return state.SkipWithError("KVRExecute failed");
      }
      const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
      us[overTls ? 1 : 0] = spent.count() / kBurst;
    }
    tlsFirst = !tlsFirst;
    clearUs.push_back(us[0]);
    tlsUs.push_back(us[1]);
    ratios.push_back(us[0] / us[1]);
  }
  state.counters["clear_us"] = Median(clearUs);
  state.counters["tls_us"] = Median(tlsUs);
  state.counters["ratio"] = Median(ratios);
  state.SetItemsProcessed(state.iterations() * 2 * kBurst);
}

// A whole connection's life: connect, (handshake,) greeting, database
// selection, close. Over TLS the difference is the handshake's cost.
void OpenAndClose(benchmark::State& state, int port, const std::string& ca) {
  std::optional<TlsEnvironment> tls;
  if (!ca.empty()) tls.emplace(ca);
  for (auto _ : state) {
    Connection connection(port);
    if (!connection.Open()) return state.SkipWithError("KVRConnectOpen failed");
    KVRConnectClose(connection.handle());
  }
  state.SetItemsProcessed(state.iterations());
}

void SlowReplyCpu(benchmark::State& state, int port) {
  Connection connection(port);
  if (!connection.Open()) return state.SkipWithError("KVRConnectOpen failed");
  KOVRA_STR* line = Record("h 2");
  double cpu = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    if (KVRExecute(connection.handle(), line) != 1) return state.SkipWithError("KVRExecute failed");
    cpu += ProcessCpuSeconds() - before;
  }
  state.counters["cpu_ms"] = cpu * 1e3 / static_cast<double>(state.iterations());
}

std::uint64_t outputBytes = 0;
void CountOutput(void*, KOVRA_STR* text) { outputBytes += text->len; }

void ExecuteOutput(benchmark::State& state, int port, std::uint64_t bytes) {
  Connection connection(port);
  if (!connection.Open()) return state.SkipWithError("KVRConnectOpen failed");
  KVRSetOutput(connection.handle(), CountOutput);
  KOVRA_STR* line = Record(std::to_string(bytes));
  for (auto _ : state) {
    outputBytes = 0;
    if (KVRExecuteOutput(connection.handle(), line) != 1 || outputBytes != bytes) {
      return state.SkipWithError("KVRExecuteOutput failed or lost output");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BulkRecv(benchmark::State& state, int port, std::uint64_t bytes) {
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    Socket socket = ConnectLoopback(port);
    if (!socket) return state.SkipWithError("cannot connect to the bulk peer");
    std::uint64_t total = 0;
    for (;;) {
      const long n = kvrbench::ReceiveSome(socket.get(), buffer.data(), buffer.size());
      if (n <= 0) break;
      total += static_cast<std::uint64_t>(n);
    }
    if (total != bytes) return state.SkipWithError("bulk peer sent a different count");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The write request of the protocol, built by hand so that the client side
// costs as little as possible: what is measured is the server.
void DevserverWrites(benchmark::State& state, int port) {
  Socket socket = ConnectLoopback(port);
  char reply[256];
  if (!socket || kvrbench::ReceiveThroughNul(socket.get(), reply, sizeof reply) <= 0) {
    return state.SkipWithError("cannot connect to kvrdevserver");
  }
  const std::string target = "^KVRBENCH(" + std::to_string(state.thread_index()) + ")";
  std::string request("w\0", 2);
  request += std::to_string(target.size());
  request += '\0';
  request += target;
  request += std::string_view("1\0" "1", 3);
  for (auto _ : state) {
    const long n = kvrbench::SendAll(socket.get(), request)
                       ? kvrbench::ReceiveThroughNul(socket.get(), reply, sizeof reply)
                       : -1;
    if (n != 5 || std::memcmp(reply, "<OK>", 5) != 0) {
      return state.SkipWithError("write request not answered with <OK>");
    }
  }
  state.SetItemsProcessed(state.iterations());
}

bool TakeOption(std::string_view arg, std::string_view name, std::string& value) {
  if (!arg.starts_with(name) || arg.size() <= name.size() || arg[name.size()] != '=') return false;
  value = std::string(arg.substr(name.size() + 1));
  return true;
}

// Takes this program's options out of argv; the rest stays for the library.
Options ParseOptions(int& argc, char** argv) {
  Options options;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string value;
    if (TakeOption(arg, "--pingpong", value)) {
      options.pingpong = std::stoi(value);
    } else if (TakeOption(arg, "--reply", value)) {
      options.reply = std::stoi(value);
    } else if (TakeOption(arg, "--bulk", value)) {
      options.bulk = std::stoi(value);
    } else if (TakeOption(arg, "--devserver", value)) {
      options.devserver = std::stoi(value);
    } else if (TakeOption(arg, "--tls-devserver", value)) {
      options.tlsDevserver = std::stoi(value);
    } else if (TakeOption(arg, "--tls-ca", value)) {
      options.tlsCa = value;
    } else if (TakeOption(arg, "--bytes", value)) {
      options.bytes = std::stoull(value);
    } else if (TakeOption(arg, "--placement", value)) {
      options.placement = value;
    } else if (TakeOption(arg, "--samples", value)) {
      options.samples = value;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return options;
}

// Every rate is per second of wall time: the client mostly sleeps in recv,
// so a rate per CPU second would say nothing about round trips.
void Register(const Options& o) {
  constexpr double kMinTime = 0.5;
  auto add = [](const char* name, auto&&... args) {
    return benchmark::RegisterBenchmark(name, args...)->UseRealTime();
  };
  if (o.pingpong) add("raw_pingpong", RawPingPong, o.pingpong)->MinTime(kMinTime);
  if (o.reply) {
    add("execute_minimal", ExecuteTrivialLine, o.reply)->MinTime(kMinTime);
    add("slow_reply_cpu", SlowReplyCpu, o.reply)->Iterations(1);
    add("execute_output", ExecuteOutput, o.reply, o.bytes)->MinTime(kMinTime);
  }
  if (o.bulk) add("bulk_recv", BulkRecv, o.bulk, o.bytes)->MinTime(kMinTime);
  if (o.devserver) {
    add("execute_devserver", ExecuteTrivialLine, o.devserver)->MinTime(kMinTime);
    add("devserver_write_2", DevserverWrites, o.devserver)->Threads(2)->MinTime(kMinTime);
    add("open_devserver", OpenAndClose, o.devserver, std::string())->MinTime(kMinTime);
  }
  if (o.tlsDevserver) {
    add("execute_devserver_tls", ExecuteTrivialLineTls, o.tlsDevserver, o.tlsCa)->MinTime(kMinTime);
    add("open_devserver_tls", OpenAndClose, o.tlsDevserver, o.tlsCa)->MinTime(kMinTime);
  }
  if (o.devserver && o.tlsDevserver) {
    add("execute_devserver_tls_paired", PairedClearAndTls, o.devserver, o.tlsDevserver, o.tlsCa)
        ->MinTime(4 * kMinTime);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  Register(options);
  if (options.samples.empty()) {
    benchmark::RunSpecifiedBenchmarks();
  } else {
    kvrbench::SampleReporter reporter(options.samples, options.placement);
    if (!reporter.ok()) {
      std::cerr << "kvrbench: cannot open " << options.samples << "\n";
      return 2;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
  }
  benchmark::Shutdown();
  return 0;
}
