// kvrdbri: imports routines from plain source files, one routine per file:
// NAME.inc into ^rINC, NAME.int into ^ROUTINE, NAME.mac into ^rMAC. Include
// files go first, then INT, then MAC routines, each INT and MAC routine
// compiled right after it is stored, so includes are in place when the
// routines that use them compile. In update mode (the default) a file is
// imported only when it is newer than the routine in the database.
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "binding.h"
#include "date_difference.h"
#include "file_list.h"
#include "local_files.h"
#include "routine_name.h"
#include "routine_store.h"
#include "routine_types.h"
#include "settings.h"
#include "source_file.h"
#include "string_set.h"
#include "tool_run.h"

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

// Routine name -> the file it is read from. A name found in several paths is
// imported once, from the last accepted path in path order.
using FoundRoutines = std::map<std::string, std::string>;

// Update mode: true when the file is at least one second newer than the
// routine on the server, or the routine has no date there.
bool newerThanStored(const std::string& path, const std::string& name, const kvrtools::RoutineType& type) {
  const std::string fileDate = kvrtools::fileTimestamp(path);
  // A path without a file time (not a regular file) goes on to the import,
  // which says why it is refused.
  if (fileDate.empty()) return true;
  const std::string storedDate = kvrtools::routineDate(name, type);
  if (storedDate.empty()) return true;
  return kvrtools::dateDifference(fileDate, storedDate) >= 1;
}

// Sorts the paths into the three types, in import order. Paths with another
// extension are skipped silently; names that cannot go into an M line are
// reported.
std::array<FoundRoutines, 3> scan(const kvrtools::StringSet& paths, bool importAll, int& status) {
  std::array<FoundRoutines, 3> found;
  for (const std::string& path : paths) {
    const kvrtools::FileNameParts parts = kvrtools::splitFileName(path);
    const kvrtools::RoutineType* type = kvrtools::routineTypeOfExtension(parts.extension);
    if (!type) continue;
    const std::string name = kvrtools::fileToRoutineName(parts.name);
    if (!kvrtools::acceptRoutineName(name)) {
      status = kvrtools::kStatusFailed;
      continue;
    }
    if (!importAll && !newerThanStored(path, name, *type)) continue;
    const std::size_t order = std::find(kvrtools::kRoutineTypes.begin(), kvrtools::kRoutineTypes.end(), type) -
                              kvrtools::kRoutineTypes.begin();
    found[order][name] = path;
  }
  return found;
}

void announce(const char* action, const std::string& name, const kvrtools::RoutineType& type) {
  std::printf("%s %s.%.*s\n", action, name.c_str(), static_cast<int>(type.extension.size()), type.extension.data());
  std::fflush(stdout);
}

// Stores one routine in place of the old one and compiles it. The whole
// file is read before the old routine is removed.
bool importRoutine(const std::string& name, const std::string& path, const kvrtools::RoutineType& type) {
  std::optional<std::vector<std::string>> lines = kvrimport::readSourceFile(path);
  if (!lines) return false;
  announce("Importing", name, type);
  if (!kvrimport::storeRoutine(kvrimport::Addressing::kGlobalInEachLine, type,
                               {name, std::move(*lines), kvrtools::fileTimestamp(path)}))
    return false;
  if (type.compiled) {
    announce("Compiling", name, type);
    kvrtools::executeWithOutput("d compile^%RCOMPIL(\"" + name + "." + std::string(type.name) + "\")");
  }
  return true;
}

int importFiles(const std::string& files) {
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  const bool importAll = kvrtools::modeIsAll(kvrtools::connectionSettings());
  int status = kvrtools::kStatusOk;
  const kvrtools::StringSet paths = kvrtools::expandFileList(files);
  if (paths.empty()) return kvrtools::kStatusFailed;
  const std::array<FoundRoutines, 3> found = scan(paths, importAll, status);
  for (std::size_t t = 0; t < found.size(); ++t)
    for (const auto& [name, path] : found[t])
      if (!importRoutine(name, path, *kvrtools::kRoutineTypes[t])) status = kvrtools::kStatusFailed;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for import does not specified."};
  return kvrtools::runTool(argc, argv, tool,
                           [](const std::string& files, const kvrtools::CommandLine&) { return importFiles(files); });
}
