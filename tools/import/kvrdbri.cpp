// kvrdbri: imports routines from plain source files, one routine per file:
// NAME.inc into ^rINC, NAME.int into ^ROUTINE, NAME.mac into ^rMAC. Include
// files go first, then INT, then MAC routines, each INT and MAC routine
// compiled right after it is stored, so includes are in place when the
// routines that use them compile. In update mode (the default) a file is
// imported only when it is newer than the routine in the database.
#include <strings.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "file_list.h"
#include "date_difference.h"
#include "local_files.h"
#include "routine_name.h"
#include "settings.h"
#include "startup.h"
#include "string_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Import routines from files with compilation.\n"
    "Usage: kvrdbri [@inifile] [-s server] [-p port] [-d database] [-m mode] files\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  file[s]:  comma-separated list of files with placeholders * and ?\n"
    "  mode:     if present, may be 'all' or 'update'\n"
    "            -m all    : import all routines anyway\n"
    "            -m update : import only routines with older timestamp\n"
    "            update mode is used by default\n"
    "If no ini file was specified indirectly, file kvrct.ini will be used.\n";

struct RoutineType {
  const char* extension;  // of the file, as the messages show it
  const char* upper;      // as the server's routine names carry it
  const char* global;
  bool compiled;
};

// In import order.
constexpr std::array<RoutineType, 3> kTypes = {{
    {"inc", "INC", "^rINC", false},
    {"int", "INT", "^ROUTINE", true},
    {"mac", "MAC", "^rMAC", true},
}};

// Routine name -> the file it is read from. A name found in several paths is
// imported once, from the last accepted path in path order.
using FoundRoutines = std::map<std::string, std::string>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void reportError(const char* format, const std::string& path) {
  std::fflush(stdout);
  std::fprintf(stderr, format, path.c_str());
}

std::optional<std::size_t> typeOfExtension(const std::string& extension) {
  for (std::size_t t = 0; t < kTypes.size(); ++t)
    if (extension.size() == 4 && extension[0] == '.' && strcasecmp(extension.c_str() + 1, kTypes[t].extension) == 0)
      return t;
  return std::nullopt;
}

// Update mode: true when the file is at least one second newer than the
// routine on the server, or the routine has no date there.
bool newerThanStored(const std::string& path, const std::string& name, const RoutineType& type) {
  const std::string fileDate = kvrtools::fileTimestamp(path);
  const std::string storedDate = kvrtools::evaluate("$$DATE^%R(\"" + name + "." + type.upper + "\")");
  kvrtools::exitIfConnectionLost();
  if (storedDate.empty()) return true;
  return kvrtools::dateDifference(fileDate, storedDate) >= 1;
}

// Sorts the paths into the three types. Paths with another extension are
// skipped silently; names that cannot go into an M line are reported.
std::array<FoundRoutines, 3> scan(const kvrtools::StringSet& paths, bool importAll, int& status) {
  std::array<FoundRoutines, 3> found;
  for (const std::string& path : paths) {
    const kvrtools::FileNameParts parts = kvrtools::splitFileName(path);
    const std::optional<std::size_t> type = typeOfExtension(parts.extension);
    if (!type) continue;
    const std::string name = kvrtools::fileToRoutineName(parts.name);
    if (!kvrtools::isValidRoutineName(name)) {
      kvrtools::reportInvalidRoutineName(name);
      status = 1;
      continue;
    }
    if (!importAll && !newerThanStored(path, name, kTypes[*type])) continue;
    found[*type][name] = path;
  }
  return found;
}

// Every line of the file. An empty line is an empty routine line, not the
// end of the routine: editors and other systems leave them inside routines.
std::optional<std::vector<std::string>> readRoutineFile(const std::string& path) {
  const FilePtr file(std::fopen(path.c_str(), "r"));
  if (!file) {
    reportError("Failed to open file %s to read.\n", path);
    return std::nullopt;
  }
  std::vector<std::string> lines;
  while (std::optional<std::string> line = kvrtools::readTextLine(file.get())) lines.push_back(std::move(*line));
  if (std::ferror(file.get())) {
    reportError("Failed to read file %s.\n", path);
    return std::nullopt;
  }
  return lines;
}

// Stores one routine in place of the old one and compiles it. The whole
// file is read before the old routine is removed, so a file that cannot be
// read never leaves the routine deleted.
bool importRoutine(const std::string& name, const std::string& path, const RoutineType& type) {
  const std::optional<std::vector<std::string>> lines = readRoutineFile(path);
  if (!lines) return false;
  const std::string global = type.global;
  const std::string node = global + "(\"" + name + "\"";

  std::printf("Importing %s.%s\n", name.c_str(), type.extension);
  std::fflush(stdout);
  kvrtools::execute("k " + node + ")");
  kvrtools::exitIfConnectionLost();
  std::size_t characters = 0;
  for (std::size_t i = 0; i < lines->size(); ++i) {
    kvrtools::setVariable(node + "," + std::to_string(i + 1) + ")", (*lines)[i]);
    kvrtools::exitIfConnectionLost();
    characters += (*lines)[i].size();
  }
  kvrtools::execute("s " + node + ",0)=\"" + kvrtools::fileTimestamp(path) + "\"");
  kvrtools::exitIfConnectionLost();
  kvrtools::execute("s " + node + ")=\"" + std::to_string(lines->size()) + "," + std::to_string(characters) + "\"");
  kvrtools::exitIfConnectionLost();

  if (type.compiled) {
    std::printf("Compiling %s.%s\n", name.c_str(), type.extension);
    std::fflush(stdout);
    kvrtools::executeWithOutput("d compile^%RCOMPIL(\"" + name + "." + type.upper + "\")");
    kvrtools::exitIfConnectionLost();
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::startTool(commandLine, kUsage)) return *status;

  const std::optional<std::string> files = commandLine.positional(1);
  if (!files) {
    kvrtools::reportMissingArgument("Routines for import does not specified.", kUsage);
    return 0;
  }
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  const bool importAll = strcasecmp(kvrtools::connectionSettings().mode.c_str(), "all") == 0;

  const kvrtools::StringSet paths = kvrtools::expandFileList(*files);
  int status = 0;
  const std::array<FoundRoutines, 3> found = scan(paths, importAll, status);
  for (std::size_t t = 0; t < kTypes.size(); ++t)
    for (const auto& [name, path] : found[t])
      if (!importRoutine(name, path, kTypes[t])) status = 1;
  kvrtools::disconnectServer();
  return status;
}
