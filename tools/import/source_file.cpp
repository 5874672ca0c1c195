#include "source_file.h"

#include <sys/stat.h>

#include <cstdio>

#include "message_text.h"

namespace kvrimport {
namespace {

SourceText refused(std::string text) { return {std::nullopt, std::move(text)}; }

}  // namespace

std::optional<std::vector<std::string>> readSourceFile(const std::string& path) {
  SourceText text = loadSourceFile(path);
  if (!text.lines) {
    // Standard output first, so the message follows the progress lines
    // before it.
    std::fflush(stdout);
    std::fputs(text.refusal.c_str(), stderr);
  }
  return std::move(text.lines);
}

SourceText loadSourceFile(const std::string& path) {
  const kvrtools::FilePtr file = kvrtools::openWithoutWaiting(path);
  if (!file) return refused(messageText("Failed to open file %s to read.\n", path));
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode))
    return refused(messageText("Failed to read file %s.\n", path));
  if (!S_ISREG(info.st_mode)) return refused(messageText("Skipping file %s: not a regular file.\n", path));
  std::vector<std::string> lines;
  while (std::optional<std::string> line = kvrtools::readTextLine(file.get())) {
    if (line->find('\0') != std::string::npos)
      return refused(messageText("Skipping file %s: it holds a NUL byte, so it is not routine text.\n", path));
    if (line->size() > kvrtools::kMaxTextLine) {
      static_assert(kvrtools::kMaxTextLine == 32767);
      return refused(messageText("Skipping file %s: line %s is longer than a routine line can be (32767 bytes).\n",
                                 path, std::to_string(lines.size() + 1)));
    }
    lines.push_back(std::move(*line));
  }
  if (std::ferror(file.get())) return refused(messageText("Failed to read file %s.\n", path));
  return {std::move(lines), {}};
}

}  // namespace kvrimport
