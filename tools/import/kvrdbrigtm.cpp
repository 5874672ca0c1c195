// kvrdbrigtm: imports GT.M routine files, one routine per file, each stored
// as an INT routine. The routine name is the file name cut at its first ".",
// a leading "_" standing for "%"; the file's time becomes the routine's date.
// Empty lines are part of the routine: GT.M sources often hold them.
#include <cstdio>
#include <string>
#include <vector>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "local_files.h"
#include "routine_name.h"
#include "routine_store.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Import one or more routines from file in GT.M format.\n"
    "Usage: kvrdbrigtm [-s server] [-p port] [-d database] file[s]\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  file[s]:     comma-separated list of files with placeholders * and ?\n"
    "kvrdbrigtm -h displays this help screen.\n";

// The routine a path holds: its last element, "_" turned back into "%", cut
// at the first ".".
std::string routineNameOf(const std::string& path) {
  const kvrtools::FileNameParts parts = kvrtools::splitFileName(path);
  const std::string name = kvrtools::fileToRoutineName(parts.name + parts.extension);
  return name.substr(0, name.find('.'));
}

// Imports one path; false when it held no routine that could be stored.
bool importFile(const std::string& path) {
  const std::string name = routineNameOf(path);
  const std::string timestamp = kvrtools::fileTimestamp(path);
  std::printf("Processing file %s\n", path.c_str());
  if (!kvrtools::isValidRoutineName(name)) {
    kvrtools::reportInvalidRoutineName(name);
    return false;
  }
  auto file = kvrimport::openForReading(path);
  if (!file) {
    kvrimport::reportUnreadable(path);
    return true;
  }
  std::printf("Importing routine %s.INT\n", name.c_str());
  // The whole file is read before the old routine is removed.
  std::vector<std::string> lines;
  while (std::optional<std::string> line = kvrtools::readTextLine(file.get())) lines.push_back(std::move(*line));
  file.reset();
  kvrimport::storeRoutine("^ROUTINE", name, lines, timestamp);
  return true;
}

}  // namespace

int main(int argc, char** argv) { return kvrimport::runFileImport(argc, argv, kUsage, importFile); }
