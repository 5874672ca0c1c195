#include "bulk_source_export.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "bulk_reader.h"
#include "call_failure.h"
#include "date_batch.h"
#include "date_difference.h"
#include "local_files.h"
#include "routine_name.h"
#include "routine_reader.h"
#include "source_file_writer.h"

namespace kvrexport {
namespace {

struct RoutineFile {
  std::string text;
  std::string date;
};

// Writes text into fileName dated date, as the line-by-line export does.
ExportOutcome writeRoutineFile(const std::string& fileName, const RoutineFile& file) {
  return writeSourceFile(fileName, file.date, [&file](OutputStream& out) {
    out.write(file.text);
    return true;
  });
}

// The whole content of the file at path, read as bytes; nothing when it is
// not a regular file or cannot be read. Opened without waiting, so a named
// pipe under a routine's file name never blocks the comparison.
std::optional<std::string> fileContent(const std::string& path) {
  const kvrtools::FilePtr file = kvrtools::openWithoutWaiting(path);
  if (!file) return std::nullopt;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string content;
  char buffer[65536];
  while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get())) content.append(buffer, n);
  if (std::ferror(file.get())) return std::nullopt;
  return content;
}

// A routine that did not travel, read the line-by-line way into memory;
// nothing when the server refused the line (reported).
std::optional<RoutineFile> readLineByLine(const std::string& name, const kvrtools::RoutineType& type) {
  RoutineFile file{{}, kvrtools::routineDate(name, type)};
  chooseRoutine(name);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (!memory) return std::nullopt;
  bool read = false;
  {
    const kvrtools::FailureRule reportRejection(kvrtools::Rejection::kReported);
    OutputStream out(memory);
    read = writeRoutineLines(type, EmptyLine::kSingleBlank, out) && out.flush();
  }
  std::fclose(memory);
  file.text.assign(buffer, size);
  std::free(buffer);
  if (!read) return std::nullopt;
  return file;
}

// -m changed: writes the file unless it holds text already.
ExportOutcome writeIfChanged(const std::string& fileName, const RoutineFile& file, kvrtools::ComparisonCount& count) {
  ++count.compared;
  if (fileContent(fileName) == file.text) {
    ++count.unchanged;
    return ExportOutcome::kDone;
  }
  const ExportOutcome outcome = writeRoutineFile(fileName, file);
  ++(outcome == ExportOutcome::kDone ? count.moved : count.failed);
  return outcome;
}

// Update mode with -b on: the names whose files are missing or not current,
// from one batch of date comparisons.
std::vector<std::string> outdatedNames(const std::vector<std::string>& names, const kvrtools::RoutineType& type,
                                       const SourceExportRules& rules) {
  std::vector<kvrtools::DateCheck> checks;
  for (const std::string& name : names)
    checks.push_back({name, &type, kvrtools::fileTimestamp(kvrtools::sourceFileName(name, type))});
  const std::vector<std::optional<kvrtools::DateComparison>> compared = kvrtools::compareFileDates(checks);
  std::vector<std::string> outdated;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!compared[i] || !rules.isCurrent(compared[i]->difference, type)) outdated.push_back(names[i]);
  return outdated;
}

}  // namespace

ExportOutcome exportSourceFiles(const kvrtools::RoutineType& type, const kvrtools::StringSet& names,
                                const SourceExportRules& rules, kvrtools::ComparisonCount& count) {
  std::vector<std::string> chosen = validNames(names);
  if (!rules.exportAll && !rules.changedOnly) chosen = outdatedNames(chosen, type, rules);
  RoutineWalk walk{&type, "$$DATE^%R(rn_\"." + std::string(type.name) + "\")", rules.bulk, {}, {}};
  walk.arrived = [&](const kvrtools::FetchedRoutine& routine) {
    const std::string fileName = kvrtools::sourceFileName(routine.name, type);
    const RoutineFile file{kvrtools::exportText(routine.lines, kvrtools::EmptyLine::kSingleBlank), routine.date};
    return rules.changedOnly ? writeIfChanged(fileName, file, count) : writeRoutineFile(fileName, file);
  };
  walk.lineByLine = [&](const std::string& name) {
    if (!rules.changedOnly) return rules.lineByLine(name, type);
    const std::optional<RoutineFile> file = readLineByLine(name, type);
    return file ? writeIfChanged(kvrtools::sourceFileName(name, type), *file, count) : ExportOutcome::kFailed;
  };
  return walkRoutines(names, chosen, walk);
}

}  // namespace kvrexport
