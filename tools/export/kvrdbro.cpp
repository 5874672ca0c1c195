// kvrdbro: exports the routines a mask selects into plain source files in
// the current directory: NAME.inc, NAME.mac and NAME.int. Every written file
// carries its routine's date, so a later run in update mode (the default)
// writes only what changed. A file is replaced only by a complete export:
// the text goes into a temporary file that is renamed over NAME.ext once the
// server has sent all of it. A file that cannot be written to its end is
// reported with its reason and passed over; one that cannot be opened at all
// stops the run. -b on reads many routines to a request; -m changed writes
// only the files whose text differs from the routine's.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bulk_source_export.h"
#include "call_failure.h"
#include "date_difference.h"
#include "export_report.h"
#include "local_files.h"
#include "mask_selection.h"
#include "routine_name.h"
#include "routine_reader.h"
#include "routine_types.h"
#include "settings.h"
#include "source_file_writer.h"
#include "tool_run.h"

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

// In export order.
constexpr std::array<const kvrtools::RoutineType*, 3> kExportOrder = {&kvrtools::kIncludeType, &kvrtools::kMacroType,
                                                                      &kvrtools::kIntType};

using Outcome = kvrexport::ExportOutcome;

// Update mode: true when the file is current. An INT file as old as its
// routine is current; INC and MAC files are written again then.
bool isCurrent(std::int64_t difference, const kvrtools::RoutineType& type) {
  return difference > 0 || (difference == 0 && &type == &kvrtools::kIntType);
}

bool fileIsCurrent(const std::string& fileDate, const std::string& routineDate, const kvrtools::RoutineType& type) {
  return isCurrent(kvrtools::dateDifference(fileDate, routineDate), type);
}

// Writes the chosen routine into its file, dated as the routine
// (writeSourceFile); a line the server rejected is reported.
Outcome writeRoutineFile(const std::string& fileName, const kvrtools::RoutineType& type,
                         const std::string& routineDate) {
  return kvrexport::writeSourceFile(fileName, routineDate, [&type](kvrexport::OutputStream& out) {
    const kvrtools::FailureRule reportRejection(kvrtools::Rejection::kReported);
    return kvrexport::writeRoutineLines(type, kvrexport::EmptyLine::kSingleBlank, out);
  });
}

// Exports one routine unless update mode finds its file current.
Outcome exportRoutine(const std::string& name, const kvrtools::RoutineType& type, bool exportAll) {
  if (!kvrtools::acceptRoutineName(name)) return Outcome::kFailed;
  const std::string fileName = kvrtools::sourceFileName(name, type);
  const std::string fileDate = kvrtools::fileTimestamp(fileName);
  const std::string routineDate = kvrtools::routineDate(name, type);
  if (!exportAll && !fileDate.empty() && fileIsCurrent(fileDate, routineDate, type)) return Outcome::kDone;
  kvrexport::chooseRoutine(name);
  return writeRoutineFile(fileName, type, routineDate);
}

int exportSelection(const std::string& mask) {
  kvrtools::recordSelection(mask);
  const kvrtools::Settings& settings = kvrtools::connectionSettings();
  const bool exportAll = kvrtools::modeIsAll(settings);
  const kvrexport::SourceExportRules rules{.exportAll = exportAll,
                                           .changedOnly = kvrtools::modeIsChanged(settings),
                                           .bulk = kvrtools::bulkTransfer(settings),
                                           .isCurrent = isCurrent,
                                           .lineByLine = [exportAll](const std::string& name,
                                                                     const kvrtools::RoutineType& type) {
                                             return exportRoutine(name, type, exportAll);
                                           }};
  kvrtools::ComparisonCount count;
  int status = kvrtools::kStatusOk;
  bool anySelected = false;
  for (const kvrtools::RoutineType* type : kExportOrder) {
    const kvrtools::StringSet names = kvrtools::recordedNames(type->global);
    if (!names.empty()) anySelected = true;
    if (rules.bulk || rules.changedOnly) {
      const Outcome outcome = kvrexport::exportSourceFiles(*type, names, rules, count);
      if (outcome == Outcome::kFailed) status = kvrtools::kStatusFailed;
      if (outcome == Outcome::kStopRun) return kvrtools::kStatusStartupFailed;
      continue;
    }
    for (const std::string& name : names) {
      const Outcome outcome = exportRoutine(name, *type, exportAll);
      if (outcome == Outcome::kFailed) status = kvrtools::kStatusFailed;
      // Shown with the usage text, as a start-up failure is.
      if (outcome == Outcome::kStopRun) return kvrtools::kStatusStartupFailed;
    }
  }
  if (!anySelected) {
    kvrexport::reportNothingSelected(mask);
    return kvrtools::kStatusFailed;
  }
  if (rules.changedOnly) kvrtools::reportComparison(count, kvrtools::Moved::kWritten);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routine mask for export need to be specified."};
  return kvrtools::runTool(argc, argv, tool,
                           [](const std::string& mask, const kvrtools::CommandLine&) { return exportSelection(mask); });
}
