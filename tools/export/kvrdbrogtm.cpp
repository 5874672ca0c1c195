// kvrdbrogtm: exports the intermediate-code routines a mask selects as GT.M
// routine files in the current directory, NAME.m each ("%" written as "_"),
// holding the routine's lines and dated by its node 0. Each file is staged
// and renamed into place only when its lines and date arrived.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "local_files.h"
#include "mask_lines.h"
#include "routine_lines.h"
#include "routine_name.h"
#include "staged_file.h"
#include "startup.h"
#include "string_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Export one or more routines from database in GT.M format.\n"
    "Usage: kvrdbrogtm [-s server] [-p port] [-d database] masks\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "File name to export is derived from routine name.\n"
    "kvrdbrogtm -h displays this help screen.\n";

void call(bool (*function)(std::string_view), std::string_view text) {
  function(text);
  kvrtools::exitIfConnectionLost();
}

// True when the last library call succeeded. A lost connection ends the run
// (the staged file is removed on exit); a line the server rejected is
// reported and leaves the routine's file as it was.
bool callSucceeded() {
  if (!kvrtools::lastCallFailed()) return true;
  kvrtools::exitIfConnectionLost();
  const std::string text = kvrtools::lastError() + "\n";
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  return false;
}

// Writes routine rn (already set) to fileName; false when a library call or
// the file itself failed.
bool exportRoutine(const std::string& fileName, kvrexport::StagedFile& file, std::FILE*& current) {
  current = file.stream();
  kvrtools::executeWithOutput(kvrexport::bodyLine("^ROUTINE"));
  current = nullptr;
  if (!callSucceeded()) return false;
  const std::string date = kvrtools::evaluate("$g(^ROUTINE(rn,0))");
  if (!callSucceeded()) return false;
  std::fflush(file.stream());
  kvrtools::setFileTimestamp(file.writtenPath(), date);
  if (file.commit()) return true;
  const int error = errno;
  std::fflush(stdout);
  std::fprintf(stderr, "Failed to write file %s: %s.\n", fileName.c_str(), std::strerror(error));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::startTool(commandLine, kUsage)) return *status;
  const std::optional<std::string> mask = commandLine.positional(1);
  if (!mask) {
    kvrtools::reportMissingArgument("Routines for export does not specified.", kUsage);
    return 0;
  }
  kvrtools::setVariable("mask", *mask);
  kvrtools::exitIfConnectionLost();
  call(kvrtools::execute, kvrtools::kNormaliseMaskLine);
  call(kvrtools::execute, kvrtools::kSelectRoutinesLine);

  kvrtools::StringSet names;
  std::FILE* current = nullptr;
  kvrtools::setGroupReadHandler(kvrtools::collectInto(names));
  kvrtools::setOutputHandler([&current](const std::string& piece) {
    if (current) std::fwrite(piece.data(), 1, piece.size(), current);
  });
  call(kvrtools::execute, kvrtools::handBackLine("^ROUTINE"));
  kvrtools::setGroupReadHandler(nullptr);

  int status = 0;
  for (const std::string& name : names) {
    if (!kvrtools::isValidRoutineName(name)) {
      kvrtools::reportInvalidRoutineName(name);
      status = 1;
      continue;
    }
    kvrtools::setVariable("rn", name);
    kvrtools::exitIfConnectionLost();
    std::printf("Exporting routine %s\n", name.c_str());
    const std::string fileName = kvrtools::routineToFileName(name) + ".m";
    std::unique_ptr<kvrexport::StagedFile> file = kvrexport::StagedFile::create(fileName);
    if (!file) {
      std::printf("Failed to open file %s to write.\n", fileName.c_str());
      continue;
    }
    if (!exportRoutine(fileName, *file, current)) status = 1;
  }
  kvrtools::disconnectServer();
  return status;
}
