#include "source_file.h"

#include <sys/stat.h>

#include <cstdio>

namespace kvrimport {
namespace {

// Standard output first, so the message follows the progress lines before it.
template <typename... Texts>
void report(const char* format, const Texts&... texts) {
  std::fflush(stdout);
  std::fprintf(stderr, format, texts.c_str()...);
}

}  // namespace

std::optional<std::vector<std::string>> readSourceFile(const std::string& path) {
  const kvrtools::FilePtr file = kvrtools::openWithoutWaiting(path);
  if (!file) {
    report("Failed to open file %s to read.\n", path);
    return std::nullopt;
  }
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode)) {
    report("Failed to read file %s.\n", path);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    report("Skipping file %s: not a regular file.\n", path);
    return std::nullopt;
  }
  std::vector<std::string> lines;
  while (std::optional<std::string> line = kvrtools::readTextLine(file.get())) {
    if (line->find('\0') != std::string::npos) {
      report("Skipping file %s: it holds a NUL byte, so it is not routine text.\n", path);
      return std::nullopt;
    }
    if (line->size() > kvrtools::kMaxTextLine) {
      static_assert(kvrtools::kMaxTextLine == 32767);
      report("Skipping file %s: line %s is longer than a routine line can be (32767 bytes).\n", path,
             std::to_string(lines.size() + 1));
      return std::nullopt;
    }
    lines.push_back(std::move(*line));
  }
  if (std::ferror(file.get())) {
    report("Failed to read file %s.\n", path);
    return std::nullopt;
  }
  return lines;
}

}  // namespace kvrimport
