// kvrdbro: exports the routines a mask selects into plain source files in
// the current directory: NAME.inc, NAME.mac and NAME.int. Every written file
// carries its routine's date, so a later run in update mode (the default)
// writes only what changed. A file is replaced only by a complete export:
// the text goes into a temporary file that is renamed over NAME.ext once the
// server has sent all of it.
#include <strings.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "date_difference.h"
#include "local_files.h"
#include "mask_lines.h"
#include "routine_name.h"
#include "settings.h"
#include "staged_file.h"
#include "startup.h"
#include "string_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Export routines from the database.\n"
    "Usage: kvrdbro [@inifile] [-s server] [-p port] [-d database] [-m mode] mask\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "  mode:     if present, may be 'all' or 'update'\n"
    "            -m all    : exports routines anyway\n"
    "            -m update : exports routines only with older timestamp\n"
    "            update mode is used by default\n"
    "If no ini file was specified indirectly, file kvrct.ini will be used.\n";

struct RoutineType {
  const char* global;
  const char* extension;
  const char* upper;
  // In update mode an INT file as old as its routine is current; INC and MAC
  // files are written again then.
  bool equalDateIsCurrent;
};

// In export order.
constexpr std::array<RoutineType, 3> kTypes = {{
    {"^rINC", ".inc", "INC", false},
    {"^rMAC", ".mac", "MAC", false},
    {"^ROUTINE", ".int", "INT", true},
}};

// Writes every line after node 0, an empty line as a single blank.
std::string routineTextLine(const RoutineType& type) {
  const std::string global = type.global;
  return "s n=0 f  s n=$o(" + global + "(rn,n)) q:n=\"\"  s l=$g(" + global +
         "(rn,n)) w $s(l=\"\":\" \",1:l)_$c(10)";
}

// The file the output handler writes routine text into, if any.
kvrexport::StagedFile* currentFile = nullptr;

enum class Outcome { kDone, kFailed, kStopRun };

// Exports one routine unless update mode finds its file current.
Outcome exportRoutine(const std::string& name, const RoutineType& type, bool exportAll) {
  if (!kvrtools::isValidRoutineName(name)) {
    kvrtools::reportInvalidRoutineName(name);
    return Outcome::kFailed;
  }
  const std::string fileName = kvrtools::routineToFileName(name) + type.extension;
  const std::string fileDate = kvrtools::fileTimestamp(fileName);
  const std::string routineDate = kvrtools::evaluate("$$DATE^%R(\"" + name + "." + type.upper + "\")");
  kvrtools::exitIfConnectionLost();
  if (!exportAll && !fileDate.empty()) {
    const std::int64_t difference = kvrtools::dateDifference(fileDate, routineDate);
    if (difference > 0 || (difference == 0 && type.equalDateIsCurrent)) return Outcome::kDone;
  }
  kvrtools::setVariable("rn", name);
  kvrtools::exitIfConnectionLost();

  std::printf("Exporting routine %s\n", fileName.c_str());
  std::fflush(stdout);
  std::unique_ptr<kvrexport::StagedFile> file = kvrexport::StagedFile::create(fileName);
  if (!file) {
    std::fprintf(stderr, "Failed to open file '%s' to write.\n", fileName.c_str());
    return Outcome::kStopRun;
  }
  currentFile = file.get();
  const bool sent = kvrtools::executeWithOutput(routineTextLine(type));
  currentFile = nullptr;
  if (!sent) {
    file.reset();  // the existing file stays as it was
    kvrtools::exitIfConnectionLost();
    const std::string error = kvrtools::lastError() + "\n";
    std::fwrite(error.data(), 1, error.size(), stderr);
    return Outcome::kFailed;
  }
  std::fflush(file->stream());
  kvrtools::setFileTimestamp(file->writtenPath(), routineDate);
  if (!file->commit()) {
    std::fprintf(stderr, "Failed to open file '%s' to write.\n", fileName.c_str());
    return Outcome::kStopRun;
  }
  return Outcome::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::prepareTool(commandLine, kUsage)) return *status;
  const std::optional<std::string> mask = commandLine.positional(1);
  if (!mask) {
    kvrtools::reportMissingArgument("Routine mask for export need to be specified.", kUsage);
    return 0;
  }
  if (auto status = kvrtools::connectTool(kUsage)) return *status;

  kvrtools::StringSet names;
  kvrtools::setGroupReadHandler(kvrtools::collectInto(names));
  kvrtools::setOutputHandler([](const std::string& piece) {
    if (currentFile) currentFile->write(piece);
  });
  kvrtools::setVariable("mask", *mask);
  kvrtools::exitIfConnectionLost();
  kvrtools::execute(kvrtools::kNormaliseMaskLine);
  kvrtools::exitIfConnectionLost();
  kvrtools::execute(kvrtools::kSelectRoutinesLine);
  kvrtools::exitIfConnectionLost();
  const bool exportAll = strcasecmp(kvrtools::connectionSettings().mode.c_str(), "all") == 0;

  int status = 0;
  for (const RoutineType& type : kTypes) {
    names.clear();
    kvrtools::execute(kvrtools::handBackLine(type.global));
    kvrtools::exitIfConnectionLost();
    // Taken out of the set: the lines run for each routine hand back values
    // of their own.
    const std::vector<std::string> selected(names.begin(), names.end());
    for (const std::string& name : selected) {
      const Outcome outcome = exportRoutine(name, type, exportAll);
      if (outcome == Outcome::kFailed) status = 1;
      if (outcome == Outcome::kStopRun) {
        kvrtools::printUsage(kUsage);
        kvrtools::disconnectServer();
        return -1;
      }
    }
  }
  kvrtools::disconnectServer();
  return status;
}
