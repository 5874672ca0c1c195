// kvrdbexec: executes lines of M commands on the server and shows the
// server's terminal output. Each argument is one line, or with @ a file whose
// every line runs; several arguments run in command-line order. Ends with
// status 1 when any line failed or a file could not be read.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

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

// One argument: an @file runs the file's lines, any other text is one line.
// False when a line failed or the file could not be opened or read.
bool executeArgument(const std::string& argument) {
  if (!argument.starts_with('@')) return runLine(argument);
  const std::string path = kvrtools::trimText(argument.substr(1));
  kvrtools::FilePtr file = openCommandFile(path);
  if (!file) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error while opening file %s.\n", path.c_str());
    kvrtools::printUsage(kUsage);
    return false;
  }
  return runFile(path, file.get());
}

// Every argument in command-line order, each a line or an @file of its own;
// a failing one never stops the others. A lone empty argument runs nothing.
int executeArguments(const std::vector<std::string>& arguments) {
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  if (arguments.size() == 1 && arguments.front().empty()) {
    kvrtools::printUsage(kUsage);
    return kvrtools::kStatusOk;
  }
  bool allSucceeded = true;
  for (const std::string& argument : arguments) {
    if (!executeArgument(argument)) allSucceeded = false;
  }
  return kvrtools::statusOf(allSucceeded);
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Nothing to execute."};
  return kvrtools::runTool(argc, argv, tool, [](const std::string&, const kvrtools::CommandLine& commandLine) {
    return executeArguments(commandLine.positionals());
  });
}
