#include "routine_set.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bulk_export.h"
#include "call_failure.h"
#include "exit_status.h"
#include "export_report.h"
#include "mask_selection.h"
#include "routine_name.h"
#include "routine_reader.h"
#include "settings.h"
#include "staged_file.h"
#include "tool_run.h"

namespace kvrexport {
namespace {

std::string usageOf(const RoutineSetLayout& layout) {
  const std::string tool(layout.toolName);
  return "Kovra CommandLine Tools.\n"
         "Export one or more routines from database in " + std::string(layout.formatName) + " format.\n"
         "Usage: " + tool + " [-s server] [-p port] [-d database] masks file\n"
         "  server:   TCP/IP computer name of Kovra Server.\n"
         "  port:     TCP/IP port of server listening port (default 5000).\n"
         "  database: current Kovra database name.\n"
         "  mask:     comma-separated mask list with placeholders * and ?\n"
         "  file;     optional name of file for export\n"
         "If file was not specified, utility dumps export content.\n" +
         tool + " -h displays this help screen.\n";
}

// The M line that writes NAME^TYPE^^days,seconds^ for the chosen routine.
std::string typeAndDateLine(const kvrtools::RoutineType& type) {
  const std::string global(type.global);
  return "w rn_\"^" + std::string(type.name) + "^^\"_$g(" + global + "(rn,0))_\"^\"_$c(10)";
}

// The heading of a failed call's report. A run that goes on names the
// routine, whose text in the output is incomplete; a run that ends keeps
// the library's bare text, as for any lost connection.
std::string failureHeading(const std::string& name, const kvrtools::RoutineType& type,
                           kvrtools::Rejection onFailure) {
  if (onFailure != kvrtools::Rejection::kReported) return {};
  return "Failed to export routine " + name + "." + std::string(type.name) + ": ";
}

// Writes one routine: header line, lines, closing empty line. A failed call
// is settled by the rule onFailure; false when one failed.
bool writeRoutine(const std::string& name, const kvrtools::RoutineType& type, RoutineHeader header,
                  kvrtools::Rejection onFailure, OutputStream& out) {
  const kvrtools::FailureRule rule(onFailure, failureHeading(name, type, onFailure));
  chooseRoutine(name);
  bool written = true;
  if (header == RoutineHeader::kBareName) {
    out.write(name + "\n");
  } else {
    written = writeOutputOf(typeAndDateLine(type), out);
  }
  written = writeRoutineLines(type, EmptyLine::kSingleBlank, out) && written;
  out.write("\n");
  return written;
}

// -b on: one routine whose text and date arrived in bulk, written as
// writeRoutine writes it.
void writeFetched(const kvrtools::FetchedRoutine& routine, const kvrtools::RoutineType& type, RoutineHeader header,
                  OutputStream& out) {
  if (header == RoutineHeader::kBareName) {
    out.write(routine.name + "\n");
  } else {
    out.write(routine.name + "^" + std::string(type.name) + "^^" + routine.date + "^\n");
  }
  out.write(kvrtools::exportText(routine.lines, kvrtools::EmptyLine::kSingleBlank));
  out.write("\n");
}

// One section in bulk; false when a routine was skipped or failed. A routine
// that could not travel is written line by line, under the rule onFailure.
bool writeSectionInBulk(const kvrtools::StringSet& names, const kvrtools::RoutineType& type, RoutineHeader header,
                        kvrtools::Rejection onFailure, OutputStream& out) {
  const kvrexport::RoutineWalk walk{&type, "$g(" + std::string(type.global) + "(rn,0))", true,
                                    [&](const kvrtools::FetchedRoutine& routine) {
                                      writeFetched(routine, type, header, out);
                                      return ExportOutcome::kDone;
                                    },
                                    [&](const std::string& name) {
                                      return writeRoutine(name, type, header, onFailure, out) ? ExportOutcome::kDone
                                                                                              : ExportOutcome::kFailed;
                                    }};
  return walkRoutines(names, validNames(names), walk) == ExportOutcome::kDone;
}

// Every section after the file header; 1 when a routine was skipped or
// failed, or when the mask selected none of the layout's types.
int writeSections(const std::string& mask, const RoutineSetLayout& layout, kvrtools::Rejection onFailure,
                  OutputStream& out) {
  const bool bulk = kvrtools::bulkTransfer(kvrtools::connectionSettings());
  int status = kvrtools::kStatusOk;
  bool anySelected = false;
  for (const kvrtools::RoutineType* type : layout.sections) {
    const kvrtools::StringSet names = kvrtools::recordedNames(type->global);
    if (!names.empty()) anySelected = true;
    if (bulk) {
      if (!writeSectionInBulk(names, *type, layout.routineHeader, onFailure, out)) status = kvrtools::kStatusFailed;
      continue;
    }
    for (const std::string& name : names) {
      if (!kvrtools::acceptRoutineName(name) || !writeRoutine(name, *type, layout.routineHeader, onFailure, out))
        status = kvrtools::kStatusFailed;
    }
  }
  out.write("\n");
  if (!anySelected) {
    reportNothingSelected(mask);
    status = kvrtools::kStatusFailed;
  }
  return status;
}

int writeRoutineSet(const std::string& mask, const RoutineSetLayout& layout, kvrtools::Rejection onFailure,
                    OutputStream& out) {
  kvrtools::recordSelection(mask);
  out.write(layout.fileHeader);
  return writeSections(mask, layout, onFailure, out);
}

// Standard output is written as the content comes: a routine whose call
// failed is reported and the run goes on, as there is no file to keep.
int exportToStandardOutput(const std::string& mask, const RoutineSetLayout& layout) {
  const kvrtools::FailureRule anyRejectionReported(kvrtools::Rejection::kReported);
  OutputStream out(stdout);
  int status = writeRoutineSet(mask, layout, kvrtools::Rejection::kReported, out);
  if (!out.flush()) {
    reportWriteFailure("standard output", out.error());
    status = kvrtools::kStatusFailed;
  }
  return status;
}

int exportRoutineSet(const std::string& mask, const std::optional<std::string>& target,
                     const RoutineSetLayout& layout) {
  if (!target) return exportToStandardOutput(mask, layout);
  std::unique_ptr<StagedFile> file = StagedFile::create(*target);
  if (!file) {
    if (reportRefusedTarget(*target, errno)) return kvrtools::kStatusFailed;
    reportOpenFailure(*target);
    return kvrtools::kStatusStartupFailed;
  }
  // The file is put in place only when every call succeeded.
  const kvrtools::FailureRule anyFailureEndsRun(kvrtools::Rejection::kEndsRun);
  int status = writeRoutineSet(mask, layout, kvrtools::Rejection::kEndsRun, file->stream());
  if (!file->commit()) {
    reportWriteFailure(*target, errno);
    status = kvrtools::kStatusFailed;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace

int runRoutineSetExport(int argc, char** argv, const RoutineSetLayout& layout) {
  const std::string usage = usageOf(layout);
  const kvrtools::Tool tool{.usage = usage, .missingArgument = "Routines for export does not specified."};
  return kvrtools::runTool(argc, argv, tool, [&layout](const std::string& mask, const kvrtools::CommandLine& line) {
    return exportRoutineSet(mask, line.positional(2), layout);
  });
}

}  // namespace kvrexport
