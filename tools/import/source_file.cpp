#include "source_file.h"

#include <sys/stat.h>

namespace kvrimport {
namespace {

void reportError(const char* format, const std::string& path) {
  std::fflush(stdout);
  std::fprintf(stderr, format, path.c_str());
}

}  // namespace

kvrtools::FilePtr openForReading(const std::string& path) {
  kvrtools::FilePtr file(std::fopen(path.c_str(), "r"));
  struct stat info {};
  if (file && (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode))) file.reset();
  return file;
}

void reportUnreadable(const std::string& path) { reportError("Failed to open file %s to read.\n", path); }

std::vector<std::string> remainingLines(std::FILE* file) {
  std::vector<std::string> lines;
  while (std::optional<std::string> line = kvrtools::readTextLine(file)) lines.push_back(std::move(*line));
  return lines;
}

std::optional<std::vector<std::string>> readSourceFile(const std::string& path) {
  // A directory opens here and fails on the first read, reported as such.
  const kvrtools::FilePtr file(std::fopen(path.c_str(), "r"));
  if (!file) {
    reportUnreadable(path);
    return std::nullopt;
  }
  std::vector<std::string> lines = remainingLines(file.get());
  if (std::ferror(file.get())) {
    reportError("Failed to read file %s.\n", path);
    return std::nullopt;
  }
  return lines;
}

}  // namespace kvrimport
