// kvrdbri: imports routines from plain source files, one routine per file:
// NAME.inc into ^rINC, NAME.int into ^ROUTINE, NAME.mac into ^rMAC. Include
// files go first, then INT, then MAC routines, each INT and MAC routine
// compiled right after it is stored, so includes are in place when the
// routines that use them compile. In update mode (the default) a file is
// imported only when it is newer than the routine in the database; with
// -m changed, only when its lines differ from the stored ones. -b on moves
// dates, routines and their compilations many to a request.
#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding.h"
#include "bulk_reader.h"
#include "date_batch.h"
#include "date_difference.h"
#include "file_list.h"
#include "local_files.h"
#include "packed_import.h"
#include "routine_compare.h"
#include "routine_name.h"
#include "routine_store.h"
#include "routine_types.h"
#include "settings.h"
#include "source_file.h"
#include "string_set.h"
#include "tool_run.h"
#include "watch_mode.h"

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

struct Candidate {
  std::string path;
  std::string name;
  std::size_t order;  // of its type in kRoutineTypes
};

// Update mode: the candidates whose files are newer than their routines, in
// one batch of date comparisons with -b on, else one routine at a time.
std::vector<Candidate> newerCandidates(std::vector<Candidate> candidates) {
  std::vector<Candidate> newer;
  if (!kvrtools::bulkTransfer(kvrtools::connectionSettings())) {
    for (Candidate& c : candidates)
      if (newerThanStored(c.path, c.name, *kvrtools::kRoutineTypes[c.order])) newer.push_back(std::move(c));
    return newer;
  }
  // A path without a file time (not a regular file) goes on to the import,
  // which says why it is refused, as it does line by line.
  std::vector<kvrtools::DateCheck> checks;
  for (const Candidate& c : candidates)
    checks.push_back({c.name, kvrtools::kRoutineTypes[c.order], kvrtools::fileTimestamp(c.path)});
  const std::vector<std::optional<kvrtools::DateComparison>> compared = kvrtools::compareFileDates(checks);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::optional<kvrtools::DateComparison>& comparison = compared[i];
    if (!comparison || comparison->routineDate.empty() || comparison->difference >= 1)
      newer.push_back(std::move(candidates[i]));
  }
  return newer;
}

// Sorts the paths into the three types, in import order. Paths with another
// extension are skipped silently; names that cannot go into an M line are
// reported.
std::array<FoundRoutines, 3> scan(const kvrtools::StringSet& paths, bool checkDates, int& status) {
  std::vector<Candidate> candidates;
  for (const std::string& path : paths) {
    const kvrtools::FileNameParts parts = kvrtools::splitFileName(path);
    const kvrtools::RoutineType* type = kvrtools::routineTypeOfExtension(parts.extension);
    if (!type) continue;
    const std::string name = kvrtools::fileToRoutineName(parts.name);
    if (!kvrtools::acceptRoutineName(name)) {
      status = kvrtools::kStatusFailed;
      continue;
    }
    const std::size_t order = std::find(kvrtools::kRoutineTypes.begin(), kvrtools::kRoutineTypes.end(), type) -
                              kvrtools::kRoutineTypes.begin();
    candidates.push_back({path, name, order});
  }
  if (checkDates) candidates = newerCandidates(std::move(candidates));
  std::array<FoundRoutines, 3> found;
  for (Candidate& c : candidates) found[c.order][c.name] = std::move(c.path);
  return found;
}

std::string announcement(const char* action, const std::string& name, const kvrtools::RoutineType& type) {
  return std::string(action) + " " + name + "." + std::string(type.extension) + "\n";
}

void announce(const char* action, const std::string& name, const kvrtools::RoutineType& type) {
  std::fputs(announcement(action, name, type).c_str(), stdout);
  std::fflush(stdout);
}

std::string compileLine(const std::string& name, const kvrtools::RoutineType& type) {
  return "d compile^%RCOMPIL(\"" + name + "." + std::string(type.name) + "\")";
}

// Where the routines go: one request each line by line, or packed many to a
// request with -b on. Either way each routine is stored in place of the old
// one and, INT and MAC, compiled right after.
class Importer {
 public:
  explicit Importer(bool bulk) {
    if (bulk) packed_.emplace();
  }

  // Imports the routine read from path (the whole file is read before the
  // old routine is removed); whenStored is told whether it was stored (a
  // file that could not be read is reported here, and is not).
  void import(const std::string& name, const std::string& path, const kvrtools::RoutineType& type,
              kvrimport::SourceText text, const std::function<void(bool)>& whenStored) {
    if (!text.lines) {
      if (packed_) {
        packed_->note({}, std::move(text.refusal));
      } else {
        std::fflush(stdout);
        std::fputs(text.refusal.c_str(), stderr);
      }
      whenStored(false);
      return;
    }
    if (!packed_) {
      whenStored(storeAndCompile(name, std::move(*text.lines), path, type));
      return;
    }
    kvrimport::PackedRoutine routine{
        .announcement = announcement("Importing", name, type),
        .type = &type,
        .text = {name, std::move(*text.lines), kvrtools::fileTimestamp(path)},
        .addressing = kvrimport::Addressing::kGlobalInEachLine,
        .compilation = std::nullopt,
        .stored = whenStored,
    };
    if (type.compiled) routine.compilation = {announcement("Compiling", name, type), compileLine(name, type)};
    packed_->add(std::move(routine));
  }

  // Everything sent and shown.
  void finish() {
    if (packed_) packed_->finish();
  }

 private:
  // Stores one routine line by line in place of the old one and compiles it;
  // false when it was not stored.
  static bool storeAndCompile(const std::string& name, std::vector<std::string> lines, const std::string& path,
                              const kvrtools::RoutineType& type) {
    announce("Importing", name, type);
    if (!kvrimport::storeRoutine(kvrimport::Addressing::kGlobalInEachLine, type,
                                 {name, std::move(lines), kvrtools::fileTimestamp(path)}))
      return false;
    if (type.compiled) {
      announce("Compiling", name, type);
      kvrtools::executeWithOutput(compileLine(name, type));
    }
    return true;
  }

  std::optional<kvrimport::PackedImport> packed_;
};

// -m changed: imports the routines of one type whose stored lines differ
// from their files' (or that the server lacks), counting them; status
// becomes failed when a file could not be read or a routine not stored
// (with -b on, by the time the importer has finished).
void importChanged(const FoundRoutines& found, const kvrtools::RoutineType& type, Importer& importer,
                   kvrtools::ComparisonCount& count, int& status, const kvrimport::StopCheck& stop) {
  std::vector<std::string> names;
  for (const auto& entry : found) names.push_back(entry.first);
  kvrtools::RoutineSource stored(type, std::move(names), "\"\"",
                                 kvrtools::bulkTransfer(kvrtools::connectionSettings()));
  for (const auto& [name, path] : found) {
    if (stop()) break;
    const kvrtools::FetchedRoutine current = stored.next();
    // A file that cannot be read is reported by the import.
    kvrimport::SourceText text = kvrimport::loadSourceFile(path);
    const bool readable = text.lines.has_value();
    if (readable) {
      ++count.compared;
      // A routine whose text could not travel is imported: it may differ.
      if (current.exists && current.travelled && current.lines == *text.lines) {
        ++count.unchanged;
        continue;
      }
    }
    importer.import(name, path, type, std::move(text), [&count, &status, readable](bool done) {
      if (done) {
        ++count.moved;
        return;
      }
      if (readable) ++count.failed;
      status = kvrtools::kStatusFailed;
    });
  }
}

// -m changed over paths, with its count; the run's status. Ends before the
// next routine once stop() says so.
int importChangedPaths(const kvrtools::StringSet& paths, const kvrimport::StopCheck& stop) {
  int status = kvrtools::kStatusOk;
  const std::array<FoundRoutines, 3> found = scan(paths, false, status);
  Importer importer(kvrtools::bulkTransfer(kvrtools::connectionSettings()));
  kvrtools::ComparisonCount count;
  for (std::size_t t = 0; t < found.size(); ++t)
    importChanged(found[t], *kvrtools::kRoutineTypes[t], importer, count, status, stop);
  importer.finish();
  kvrtools::reportComparison(count, kvrtools::Moved::kImported);
  return status;
}

int importFiles(const std::string& files) {
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  const kvrtools::Settings& settings = kvrtools::connectionSettings();
  if (kvrtools::modeIsWatch(settings)) return kvrimport::watchFiles(files, importChangedPaths);
  const kvrtools::StringSet paths = kvrtools::expandFileList(files);
  if (paths.empty()) return kvrtools::kStatusFailed;
  if (kvrtools::modeIsChanged(settings)) return importChangedPaths(paths, [] { return false; });
  int status = kvrtools::kStatusOk;
  const std::array<FoundRoutines, 3> found = scan(paths, !kvrtools::modeIsAll(settings), status);
  Importer importer(kvrtools::bulkTransfer(settings));
  const auto noteFailure = [&status](bool stored) {
    if (!stored) status = kvrtools::kStatusFailed;
  };
  for (std::size_t t = 0; t < found.size(); ++t)
    for (const auto& [name, path] : found[t])
      importer.import(name, path, *kvrtools::kRoutineTypes[t], kvrimport::loadSourceFile(path), noteFailure);
  importer.finish();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{
      .usage = kUsage, .missingArgument = "Routines for import does not specified.", .moreModes = {"watch"}};
  return kvrtools::runTool(argc, argv, tool,
                           [](const std::string& files, const kvrtools::CommandLine&) { return importFiles(files); });
}
