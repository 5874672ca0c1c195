// kvrdbro: exports the routines a mask selects into plain source files in
// the current directory: NAME.inc, NAME.mac and NAME.int. Every written file
// carries its routine's date, so a later run in update mode (the default)
// writes only what changed. A file is replaced only by a complete export:
// the text goes into a temporary file that is renamed over NAME.ext once the
// server has sent all of it.
#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "file_replacement.h"
#include "local_files.h"
#include "mask_lines.h"
#include "routine_name.h"
#include "settings.h"
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

// Days times 100000 plus seconds of d1 minus the same of d2.
constexpr std::string_view kCompareDatesExpression =
    R"(($p(d1,",",1)*100000+$p(d1,",",2))-($p(d2,",",1)*100000+$p(d2,",",2)))";

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

// The value of a decimal integer text with optional sign (leading part only;
// no digits give 0).
std::int64_t leadingInteger(const std::string& text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), INT64_C(1) << 60);
  return negative ? -value : value;
}

// The file the output handler writes routine text into, if any.
kvrtools::FileReplacement* currentFile = nullptr;

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
    kvrtools::setVariable("d1", fileDate);
    kvrtools::exitIfConnectionLost();
    kvrtools::setVariable("d2", routineDate);
    kvrtools::exitIfConnectionLost();
    const std::int64_t difference = leadingInteger(kvrtools::evaluate(kCompareDatesExpression));
    kvrtools::exitIfConnectionLost();
    if (difference > 0 || (difference == 0 && type.equalDateIsCurrent)) return Outcome::kDone;
  }
  kvrtools::setVariable("rn", name);
  kvrtools::exitIfConnectionLost();

  std::printf("Exporting routine %s\n", fileName.c_str());
  std::fflush(stdout);
  kvrtools::FileReplacement file(fileName);
  if (!file.isOpen()) {
    std::fprintf(stderr, "Failed to open file '%s' to write.\n", fileName.c_str());
    return Outcome::kStopRun;
  }
  currentFile = &file;
  const bool sent = kvrtools::executeWithOutput(routineTextLine(type));
  currentFile = nullptr;
  if (!sent) {
    file.abandon();
    kvrtools::exitIfConnectionLost();
    const std::string error = kvrtools::lastError() + "\n";
    std::fwrite(error.data(), 1, error.size(), stderr);
    return Outcome::kFailed;
  }
  if (!file.commit(routineDate)) {
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
    std::printf("Routine mask for export need to be specified.\n");
    kvrtools::printUsage(kUsage);
    return 0;
  }
  if (auto status = kvrtools::connectTool(kUsage)) return *status;
  kvrtools::removeTemporaryFilesOnExit();

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
