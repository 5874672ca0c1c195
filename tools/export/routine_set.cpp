#include "routine_set.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "binding.h"
#include "connection_lost.h"
#include "mask_lines.h"
#include "routine_lines.h"
#include "routine_name.h"
#include "staged_file.h"
#include "startup.h"
#include "string_set.h"

namespace kvrexport {
namespace {

// After each library call. Standard output is written as the content comes,
// so there only a lost connection ends the run; a file must not be put in
// place unless every call succeeded, so there any failure ends it (the
// staged file is removed on exit).
void checkCall(bool writingFile) {
  if (!kvrtools::lastCallFailed()) return;
  if (!writingFile) {
    kvrtools::exitIfConnectionLost();
    return;
  }
  const std::string text = kvrtools::lastError() + "\n";
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  kvrtools::disconnectServer();
  std::exit(1);
}

void writeText(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

}  // namespace

int exportRoutineSet(const kvrtools::CommandLine& commandLine, std::string_view usage,
                     const RoutineSetLayout& layout) {
  if (auto status = kvrtools::startTool(commandLine, usage)) return *status;
  const std::optional<std::string> mask = commandLine.positional(1);
  if (!mask) {
    kvrtools::reportMissingArgument("Routines for export does not specified.", usage);
    return 0;
  }
  const std::optional<std::string> target = commandLine.positional(2);
  std::unique_ptr<StagedFile> file;
  if (target) {
    file = StagedFile::create(*target);
    if (!file) {
      std::fflush(stdout);
      std::fprintf(stderr, "Failed to open file '%s' to write.\n", target->c_str());
      kvrtools::printUsage(usage);
      kvrtools::disconnectServer();
      return -1;
    }
  }
  const bool writingFile = file != nullptr;
  std::FILE* out = writingFile ? file->stream() : stdout;

  kvrtools::setVariable("mask", *mask);
  checkCall(writingFile);
  kvrtools::execute(kvrtools::kNormaliseMaskLine);
  checkCall(writingFile);
  kvrtools::execute(kvrtools::kSelectRoutinesLine);
  checkCall(writingFile);
  writeText(out, layout.fileHeader);

  kvrtools::StringSet names;
  kvrtools::setGroupReadHandler(kvrtools::collectInto(names));
  kvrtools::setOutputHandler([out](const std::string& piece) { writeText(out, piece); });
  int status = 0;
  for (const Section& section : layout.sections) {
    names.clear();
    kvrtools::execute(kvrtools::handBackLine(section.global));
    checkCall(writingFile);
    for (const std::string& name : names) {
      if (!kvrtools::isValidRoutineName(name)) {
        kvrtools::reportInvalidRoutineName(name);
        status = 1;
        continue;
      }
      kvrtools::setVariable("rn", name);
      checkCall(writingFile);
      if (section.headerLine.empty()) {
        writeText(out, name + "\n");
      } else {
        kvrtools::executeWithOutput(section.headerLine);
        checkCall(writingFile);
      }
      kvrtools::executeWithOutput(bodyLine(section.global));
      checkCall(writingFile);
      writeText(out, "\n");
    }
  }
  writeText(out, "\n");
  kvrtools::setOutputHandler(nullptr);
  kvrtools::setGroupReadHandler(nullptr);
  if (writingFile && !file->commit()) {
    const int error = errno;
    std::fflush(stdout);
    std::fprintf(stderr, "Failed to write file '%s': %s.\n", target->c_str(), std::strerror(error));
    status = 1;
  }
  std::fflush(stdout);
  kvrtools::disconnectServer();
  return status;
}

}  // namespace kvrexport
