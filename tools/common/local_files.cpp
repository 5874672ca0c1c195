#include "local_files.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace kvrtools {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDayOf1970 = 47117;  // $HOROLOG day of 1 January 1970

// Seconds east of UTC in force at instant t, daylight saving included. The
// zone data is initialised once, so both directions of the conversion read
// the same zone.
std::int64_t offsetAt(std::int64_t t) {
  static std::once_flag once;
  std::call_once(once, [] { tzset(); });
  const time_t instant = static_cast<time_t>(t);
  tm local{};
  if (!localtime_r(&instant, &local)) return 0;
  return static_cast<std::int64_t>(local.tm_gmtoff);
}

// The instant whose local time is the local seconds count given. Offsets
// never reach a day, so the instant lies within a day either side, where at
// most the offsets before and after one switch apply. In the hour a switch
// repeats the earlier instant is taken; a time the switch skips is read with
// the offset before it.
std::int64_t instantOfLocal(std::int64_t local) {
  const std::int64_t before = local - offsetAt(local - kSecondsPerDay);
  const std::int64_t after = local - offsetAt(local + kSecondsPerDay);
  const bool beforeFits = before + offsetAt(before) == local;
  const bool afterFits = after + offsetAt(after) == local;
  if (beforeFits && afterFits) return std::min(before, after);
  if (afterFits) return after;
  return before;
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

FilePtr openWithoutWaiting(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  FilePtr file(fdopen(descriptor, "r"));
  if (!file) close(descriptor);
  return file;
}

std::optional<std::string> readTextLine(std::FILE* file) {
  // getline keeps NUL bytes and has no length limit, so the caller sees the
  // line as it is; one buffer serves every call.
  struct LineBuffer {
    char* data = nullptr;
    std::size_t capacity = 0;
    ~LineBuffer() { std::free(data); }
  };
  static LineBuffer buffer;
  const ssize_t length = getline(&buffer.data, &buffer.capacity, file);
  if (length < 0) return std::nullopt;
  std::string line(buffer.data, static_cast<std::size_t>(length));
  if (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
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
  const std::int64_t local = static_cast<std::int64_t>(info.st_mtime) + offsetAt(info.st_mtime);
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
  const std::int64_t t = instantOfLocal((days - kDayOf1970) * kSecondsPerDay + seconds);
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
