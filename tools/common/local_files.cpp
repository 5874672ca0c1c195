#include "local_files.h"

#include <glob.h>
#include <sys/stat.h>
#include <utime.h>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace kvrtools {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDayOf1970 = 47117;  // $HOROLOG day of 1 January 1970

// Seconds west of UTC, from time-zone data initialised exactly once, so that
// both directions of the conversion use the same offset.
std::int64_t zoneOffset() {
  static std::once_flag once;
  std::call_once(once, [] { tzset(); });
  return static_cast<std::int64_t>(timezone);
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Floor division, so a time before 1970 still gives seconds in 0..86399.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool parseDecimal(std::string_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 15) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return true;
}

std::string cut(std::string_view text, std::size_t limit) {
  return std::string(text.substr(0, std::min(text.size(), limit)));
}

struct GlobResult {
  glob_t result{};
  ~GlobResult() { globfree(&result); }
};

}  // namespace

std::optional<std::string> readTextLine(std::FILE* file) {
  char buffer[kMaxTextLine + 1];
  if (!std::fgets(buffer, sizeof buffer, file)) return std::nullopt;
  std::string line(buffer);
  const bool fullPiece = line.size() == kMaxTextLine && line.back() != '\n';
  if (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (fullPiece) {
    // The piece filled the buffer; when the line ends right here, take its
    // line feed along instead of returning it later as an empty line.
    const int next = std::fgetc(file);
    if (next != '\n' && next != EOF) std::ungetc(next, file);
  }
  return line;
}

std::string trimText(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && isSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && isSpace(text[begin])) ++begin;
  return std::string(text.substr(begin, end - begin));
}

std::string fileTimestamp(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return {};
  const std::int64_t local = static_cast<std::int64_t>(info.st_mtime) - zoneOffset();
  const std::int64_t days = floorDiv(local, kSecondsPerDay);
  const std::int64_t seconds = local - days * kSecondsPerDay;
  return std::to_string(days + kDayOf1970) + "," + std::to_string(seconds);
}

bool setFileTimestamp(const std::string& path, std::string_view timestamp) {
  const std::size_t comma = timestamp.find(',');
  if (comma == std::string_view::npos) return false;
  std::int64_t days = 0;
  std::int64_t seconds = 0;
  if (!parseDecimal(timestamp.substr(0, comma), days) || !parseDecimal(timestamp.substr(comma + 1), seconds) ||
      seconds >= kSecondsPerDay)
    return false;
  const std::int64_t t = (days - kDayOf1970) * kSecondsPerDay + seconds + zoneOffset();
  utimbuf times{};
  times.actime = static_cast<time_t>(t);
  times.modtime = static_cast<time_t>(t);
  return utime(path.c_str(), &times) == 0;
}

FileNameParts splitFileName(std::string_view path) {
  constexpr std::size_t kMaxPath = 260;
  constexpr std::size_t kMaxPart = 255;
  path = path.substr(0, std::min(path.size(), kMaxPath));
  FileNameParts parts;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = std::string(path.substr(0, 2));
    path.remove_prefix(2);
  }
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string_view directory = path.substr(0, start);
  std::string_view last = path.substr(start);
  if (last == "." || last == "..") {
    directory = path;
    last = {};
  }
  const std::size_t dot = last.rfind('.');
  std::string_view name = dot == std::string_view::npos ? last : last.substr(0, dot);
  std::string_view extension = dot == std::string_view::npos ? std::string_view() : last.substr(dot);
  parts.drive = cut(parts.drive, kMaxPart);
  parts.directory = cut(directory, kMaxPart);
  parts.name = cut(name, kMaxPart);
  parts.extension = cut(extension, kMaxPart);
  return parts;
}

void expandPatterns(const StringSet& patterns, StringSet& paths) {
  for (const std::string& pattern : patterns) {
    GlobResult expansion;
    if (glob(pattern.c_str(), 0, nullptr, &expansion.result) != 0) continue;
    for (std::size_t i = 0; i < expansion.result.gl_pathc; ++i) paths.insert(expansion.result.gl_pathv[i]);
  }
}

}  // namespace kvrtools
