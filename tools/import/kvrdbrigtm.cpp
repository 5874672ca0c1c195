// kvrdbrigtm: imports GT.M routine files, one routine per file, each stored
// as an INT routine. The routine name is the file name cut at its first ".",
// a leading "_" standing for "%"; the file's time becomes the routine's date.
// Empty lines are part of the routine: GT.M sources often hold them. -b on
// packs many routines into a request (packed_import.h).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "binding.h"
#include "file_list.h"
#include "local_files.h"
#include "packed_import.h"
#include "routine_name.h"
#include "routine_store.h"
#include "routine_types.h"
#include "settings.h"
#include "source_file.h"
#include "tool_run.h"

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
  kvrimport::RoutineText routine{routineNameOf(path), {}, kvrtools::fileTimestamp(path)};
  std::printf("Processing file %s\n", path.c_str());
  if (!kvrtools::acceptRoutineName(routine.name)) return false;
  std::optional<std::vector<std::string>> lines = kvrimport::readSourceFile(path);
  if (!lines) return false;
  std::printf("Importing routine %s.INT\n", routine.name.c_str());
  routine.lines = std::move(*lines);
  return kvrimport::storeRoutine(kvrimport::Addressing::kGlobalInLocal, kvrtools::kIntType, routine);
}

// importFile with -b on: the routine queued in packed, the messages in their
// turn; false when it failed here already, later ones noted in failed.
bool queueFile(kvrimport::PackedImport& packed, const std::string& path, bool& failed) {
  kvrimport::RoutineText routine{routineNameOf(path), {}, kvrtools::fileTimestamp(path)};
  const std::string processing = "Processing file " + path + "\n";
  if (!kvrtools::isTransferableRoutineName(routine.name)) {
    packed.note(processing);
    packed.finish();
    return kvrtools::acceptRoutineName(routine.name);
  }
  kvrimport::SourceText text = kvrimport::loadSourceFile(path);
  if (!text.lines) {
    packed.note(processing, std::move(text.refusal));
    return false;
  }
  routine.lines = std::move(*text.lines);
  packed.add({.announcement = processing + "Importing routine " + routine.name + ".INT\n",
              .type = &kvrtools::kIntType,
              .text = std::move(routine),
              .addressing = kvrimport::Addressing::kGlobalInLocal,
              .compilation = std::nullopt,
              .stored = [&failed](bool stored) { failed = failed || !stored; }});
  return true;
}

int importFiles(const std::string& files) {
  if (!kvrtools::bulkTransfer(kvrtools::connectionSettings()))
    return kvrtools::statusOf(kvrtools::forEachListedFile(files, importFile));
  kvrimport::PackedImport packed;
  bool failed = false;
  const bool queued =
      kvrtools::forEachListedFile(files, [&](const std::string& path) { return queueFile(packed, path, failed); });
  packed.finish();
  return kvrtools::statusOf(queued && !failed);
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for import does not specified."};
  return kvrtools::runTool(argc, argv, tool, [](const std::string& files, const kvrtools::CommandLine&) {
    return importFiles(files);
  });
}
