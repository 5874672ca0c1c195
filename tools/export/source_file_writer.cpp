#include "source_file_writer.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "export_report.h"
#include "staged_file.h"

namespace kvrexport {

ExportOutcome writeSourceFile(const std::string& fileName, const std::string& date,
                              const std::function<bool(OutputStream&)>& fill) {
  std::printf("Exporting routine %s\n", fileName.c_str());
  std::fflush(stdout);
  std::unique_ptr<StagedFile> file = StagedFile::create(fileName);
  if (!file) {
    if (reportRefusedTarget(fileName, errno)) return ExportOutcome::kFailed;
    reportOpenFailure(fileName);
    return ExportOutcome::kStopRun;
  }
  if (!fill(file->stream())) return ExportOutcome::kFailed;
  file->setTimestamp(date);
  if (!file->commit()) {
    reportWriteFailure(fileName, errno);
    return ExportOutcome::kFailed;
  }
  return ExportOutcome::kDone;
}

}  // namespace kvrexport
