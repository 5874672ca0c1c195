// kvrdbexec: executes one line of M commands, or every line of a file given
// as @file, on the server and shows the server's terminal output. Ends with
// status 1 when any line failed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "local_files.h"
#include "startup.h"
#include "string_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Execute one or series of line[s] of MUMPS commands.\n"
    "Usage: kvrdbexec [-s server] [-p port] [-d database] [@]commands\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  commands: execute line of mumps commands.\n"
    "  @file:    execute lines of mumps commands from file.\n"
    "kvrdbexec -h displays this help screen.\n";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Runs one line; on failure reports it with the library's error text. A lost
// connection ends the run there, with status 1: every later line would fail
// the same way, and the report above already names the cause.
bool runLine(const std::string& line) {
  if (kvrtools::executeWithOutput(line)) return true;
  const std::string error = kvrtools::lastError();
  std::fflush(stdout);
  // Written whole: the server's reply inside the error text holds a NUL.
  const std::string report = "\nError while execute line\n" + line + "\n" + error + "\n";
  std::fwrite(report.data(), 1, report.size(), stderr);
  std::fflush(stderr);
  if (kvrtools::connectionLost()) {
    kvrtools::disconnectServer();
    std::exit(1);
  }
  return false;
}

// Every line of the file, trimmed, in file order; a failing line never stops
// the run. True when all lines succeeded.
bool runFile(std::FILE* file) {
  bool allSucceeded = true;
  while (auto line = kvrtools::readTextLine(file)) {
    if (!runLine(kvrtools::trimText(*line))) allSucceeded = false;
  }
  return allSucceeded;
}

int finish(int status) {
  kvrtools::disconnectServer();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::startTool(commandLine, kUsage)) return *status;
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());

  const std::optional<std::string> argument = commandLine.positional(1);
  if (!argument) {
    std::printf("Nothing to execute.\n");
    kvrtools::printUsage(kUsage);
    return finish(0);
  }
  if (argument->starts_with('@')) {
    const std::string path = kvrtools::trimText(argument->substr(1));
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file) {
      std::fflush(stdout);
      std::fprintf(stderr, "Error while opening file %s.\n", path.c_str());
      kvrtools::printUsage(kUsage);
      return finish(0);
    }
    const bool succeeded = runFile(file.get());
    file.reset();
    return finish(succeeded ? 0 : 1);
  }
  if (argument->empty()) {
    kvrtools::printUsage(kUsage);
    return finish(0);
  }
  return finish(runLine(*argument) ? 0 : 1);
}
