#include "routine_set.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bulk_export.h"
#include "call_failure.h"
#include "exit_status.h"
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

void writeText(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

// The M line that writes NAME^TYPE^^days,seconds^ for the chosen routine.
std::string typeAndDateLine(const kvrtools::RoutineType& type) {
  const std::string global(type.global);
  return "w rn_\"^" + std::string(type.name) + "^^\"_$g(" + global + "(rn,0))_\"^\"_$c(10)";
}

// Writes one routine: header line, lines, closing empty line.
void writeRoutine(const std::string& name, const kvrtools::RoutineType& type, RoutineHeader header,
                  std::FILE* out) {
  chooseRoutine(name);
  if (header == RoutineHeader::kBareName) {
    writeText(out, name + "\n");
  } else {
    writeOutputOf(typeAndDateLine(type), out);
  }
  writeRoutineLines(type, out);
  writeText(out, "\n");
}

// -b on: one routine whose text and date arrived in bulk, written as
// writeRoutine writes it.
void writeFetched(const kvrtools::FetchedRoutine& routine, const kvrtools::RoutineType& type, RoutineHeader header,
                  std::FILE* out) {
  if (header == RoutineHeader::kBareName) {
    writeText(out, routine.name + "\n");
  } else {
    writeText(out, routine.name + "^" + std::string(type.name) + "^^" + routine.date + "^\n");
  }
  writeText(out, kvrtools::exportText(routine.lines));
  writeText(out, "\n");
}

// One section in bulk; false when a routine was skipped.
bool writeSectionInBulk(const kvrtools::StringSet& names, const kvrtools::RoutineType& type, RoutineHeader header,
                        std::FILE* out) {
  const kvrexport::RoutineWalk walk{&type, "$g(" + std::string(type.global) + "(rn,0))", true,
                                    [&](const kvrtools::FetchedRoutine& routine) {
                                      writeFetched(routine, type, header, out);
                                      return ExportOutcome::kDone;
                                    },
                                    [&](const std::string& name) {
                                      writeRoutine(name, type, header, out);
                                      return ExportOutcome::kDone;
                                    }};
  return walkRoutines(names, validNames(names), walk) == ExportOutcome::kDone;
}

// Every section after the file header; 1 when a routine was skipped.
int writeSections(const RoutineSetLayout& layout, std::FILE* out) {
  const bool bulk = kvrtools::bulkTransfer(kvrtools::connectionSettings());
  int status = kvrtools::kStatusOk;
  for (const kvrtools::RoutineType* type : layout.sections) {
    const kvrtools::StringSet names = kvrtools::recordedNames(type->global);
    if (bulk) {
      if (!writeSectionInBulk(names, *type, layout.routineHeader, out)) status = kvrtools::kStatusFailed;
      continue;
    }
    for (const std::string& name : names) {
      if (!kvrtools::acceptRoutineName(name)) {
        status = kvrtools::kStatusFailed;
        continue;
      }
      writeRoutine(name, *type, layout.routineHeader, out);
    }
  }
  writeText(out, "\n");
  return status;
}

int writeRoutineSet(const std::string& mask, const RoutineSetLayout& layout, std::FILE* out) {
  kvrtools::recordSelection(mask);
  writeText(out, layout.fileHeader);
  return writeSections(layout, out);
}

int exportRoutineSet(const std::string& mask, const std::optional<std::string>& target,
                     const RoutineSetLayout& layout) {
  if (!target) {
    const int status = writeRoutineSet(mask, layout, stdout);
    std::fflush(stdout);
    return status;
  }
  std::unique_ptr<StagedFile> file = StagedFile::create(*target);
  if (!file) {
    std::fflush(stdout);
    std::fprintf(stderr, "Failed to open file '%s' to write.\n", target->c_str());
    return kvrtools::kStatusStartupFailed;
  }
  // The file is put in place only when every call succeeded.
  const kvrtools::FailureRule anyFailureEndsRun(kvrtools::Rejection::kEndsRun);
  int status = writeRoutineSet(mask, layout, file->stream());
  if (!file->commit()) {
    const int error = errno;
    std::fflush(stdout);
    std::fprintf(stderr, "Failed to write file '%s': %s.\n", target->c_str(), std::strerror(error));
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
