// kvrdbexec: executes one line of M commands, or every line of a file given
// as @file, on the server and shows the server's terminal output. Ends with
// status 1 when any line failed or the file could not be read.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "binding.h"
#include "call_failure.h"
#include "local_files.h"
#include "string_set.h"
#include "tool_run.h"

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

// Runs one line; a failing line is reported with the library's error text.
// A lost connection ends the run there, with status 1: every later line
// would fail the same way, and the report already names the cause.
bool runLine(const std::string& line) {
  const kvrtools::FailureRule reportFailure(kvrtools::Rejection::kReported,
                                            "\nError while execute line\n" + line + "\n");
  return kvrtools::executeWithOutput(line);
}

// Every line of the file, whole and trimmed, in file order; a failing line
// never stops the run. True when all lines succeeded and the file was read
// to its end.
bool runFile(const std::string& path, std::FILE* file) {
  bool allSucceeded = true;
  while (auto line = kvrtools::readTextLine(file)) {
    if (!runLine(kvrtools::trimText(*line))) allSucceeded = false;
  }
  if (std::ferror(file)) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error while reading file %s.\n", path.c_str());
    return false;
  }
  return allSucceeded;
}

// The command file, or nothing for a path that cannot be opened or is a
// folder (which opens but holds no lines: it must not pass for an empty file).
kvrtools::FilePtr openCommandFile(const std::string& path) {
  kvrtools::FilePtr file(std::fopen(path.c_str(), "r"));
  struct stat info {};
  if (file && (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode))) file.reset();
  return file;
}

int executeArgument(const std::string& argument) {
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  if (argument.starts_with('@')) {
    const std::string path = kvrtools::trimText(argument.substr(1));
    kvrtools::FilePtr file = openCommandFile(path);
    if (!file) {
      std::fflush(stdout);
      std::fprintf(stderr, "Error while opening file %s.\n", path.c_str());
      kvrtools::printUsage(kUsage);
      return kvrtools::kStatusFailed;
    }
    return kvrtools::statusOf(runFile(path, file.get()));
  }
  if (argument.empty()) {
    kvrtools::printUsage(kUsage);
    return kvrtools::kStatusOk;
  }
  return kvrtools::statusOf(runLine(argument));
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Nothing to execute."};
  return kvrtools::runTool(argc, argv, tool, [](const std::string& argument, const kvrtools::CommandLine&) {
    return executeArgument(argument);
  });
}
