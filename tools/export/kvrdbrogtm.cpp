// kvrdbrogtm: exports the intermediate-code routines a mask selects as GT.M
// routine files in the current directory, NAME.m each ("%" written as "_"),
// holding the routine's lines and dated by its node 0. An empty routine line
// is written as an empty line, which a GT.M file reads back as one, so a
// file imported and exported again keeps its bytes. Each file is staged and
// renamed into place only when its lines and date arrived. -b on reads many
// routines to a request and writes them exactly as one at a time.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bulk_export.h"
#include "call_failure.h"
#include "export_report.h"
#include "mask_selection.h"
#include "routine_name.h"
#include "routine_reader.h"
#include "routine_types.h"
#include "settings.h"
#include "staged_file.h"
#include "tool_run.h"

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

// Announces the routine and opens NAME.m for it; nothing when it cannot be
// written: a file that cannot be opened, or a symbolic link in its place, is
// reported and passed over.
std::unique_ptr<kvrexport::StagedFile> openRoutineFile(const std::string& name, std::string& fileName) {
  std::printf("Exporting routine %s\n", name.c_str());
  fileName = kvrtools::routineToFileName(name) + ".m";
  std::unique_ptr<kvrexport::StagedFile> file = kvrexport::StagedFile::create(fileName);
  if (!file && !kvrexport::reportRefusedTarget(fileName, errno))
    std::printf("Failed to open file %s to write.\n", fileName.c_str());
  return file;
}

// Dates the written file and puts it in place; false, with the reason
// reported, when it could not be written to its end.
bool finishRoutineFile(const std::string& fileName, kvrexport::StagedFile& file, const std::string& date) {
  file.setTimestamp(date);
  if (file.commit()) return true;
  const int error = errno;
  std::fflush(stdout);
  std::fprintf(stderr, "Failed to write file %s: %s.\n", fileName.c_str(), std::strerror(error));
  return false;
}

// Writes the chosen routine into file; false when a library call or the file
// itself failed. A line the server rejected is reported and leaves the
// routine's file as it was.
bool writeRoutineFile(const std::string& fileName, kvrexport::StagedFile& file) {
  const kvrtools::FailureRule reportRejection(kvrtools::Rejection::kReported);
  if (!kvrexport::writeRoutineLines(kvrtools::kIntType, kvrexport::EmptyLine::kEmpty, file.stream())) return false;
  const std::optional<std::string> date = kvrexport::chosenRoutineDate(kvrtools::kIntType);
  if (!date) return false;
  return finishRoutineFile(fileName, file, *date);
}

// One routine into NAME.m; false when it was not written.
bool exportRoutine(const std::string& name) {
  if (!kvrtools::acceptRoutineName(name)) return false;
  kvrexport::chooseRoutine(name);
  std::string fileName;
  std::unique_ptr<kvrexport::StagedFile> file = openRoutineFile(name, fileName);
  return file && writeRoutineFile(fileName, *file);
}

// -b on: one routine whose text and date arrived in bulk, written as
// exportRoutine writes it.
kvrexport::ExportOutcome writeFetched(const kvrtools::FetchedRoutine& routine) {
  std::string fileName;
  std::unique_ptr<kvrexport::StagedFile> file = openRoutineFile(routine.name, fileName);
  if (!file) return kvrexport::ExportOutcome::kFailed;
  file->stream().write(kvrtools::exportText(routine.lines, kvrtools::EmptyLine::kEmpty));
  return finishRoutineFile(fileName, *file, routine.date) ? kvrexport::ExportOutcome::kDone
                                                          : kvrexport::ExportOutcome::kFailed;
}

int exportSelection(const std::string& mask) {
  kvrtools::recordSelection(mask);
  const kvrtools::StringSet names = kvrtools::recordedNames(kvrtools::kIntType.global);
  if (names.empty()) {
    kvrexport::reportNothingSelected(mask);
    return kvrtools::kStatusFailed;
  }
  if (kvrtools::bulkTransfer(kvrtools::connectionSettings())) {
    const kvrexport::RoutineWalk walk{&kvrtools::kIntType, "$g(^ROUTINE(rn,0))", true, writeFetched,
                                      [](const std::string& name) {
                                        return exportRoutine(name) ? kvrexport::ExportOutcome::kDone
                                                                   : kvrexport::ExportOutcome::kFailed;
                                      }};
    const kvrexport::ExportOutcome outcome = kvrexport::walkRoutines(names, kvrexport::validNames(names), walk);
    return kvrtools::statusOf(outcome == kvrexport::ExportOutcome::kDone);
  }
  int status = kvrtools::kStatusOk;
  for (const std::string& name : names)
    if (!exportRoutine(name)) status = kvrtools::kStatusFailed;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for export does not specified."};
  return kvrtools::runTool(argc, argv, tool,
                           [](const std::string& mask, const kvrtools::CommandLine&) { return exportSelection(mask); });
}
