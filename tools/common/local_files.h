// Local file helpers shared by the utilities that read and write routine
// files.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "string_set.h"

namespace kvrtools {

// A file opened with fopen, closed when it goes.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens path for reading without waiting: a named pipe would otherwise block
// the open until some writer came. Nothing when it cannot be opened.
FilePtr openWithoutWaiting(const std::string& path);

// Longest routine line a file can hold, counting the carriage return a CR LF
// line keeps (the server holds no longer line).
inline constexpr std::size_t kMaxTextLine = 32767;

// The next line of file, whole and byte for byte (NUL bytes included),
// without its final line feed or carriage return (one character only, so a
// CR LF line keeps its CR). An empty line gives the empty text; the end of
// the file or a read error gives nothing (ferror tells them apart).
std::optional<std::string> readTextLine(std::FILE* file);

// text without trailing white space, CR and LF, and without leading white
// space.
std::string trimText(std::string_view text);

// The file's modification time as a routine timestamp "days,seconds" in the
// local time in force at that moment, daylight saving included (day 47117 is
// 1 January 1970), or the empty text when the path is neither a regular file
// nor a directory.
std::string fileTimestamp(const std::string& path);

// Sets the access and modification time of path from a routine timestamp,
// read as local time with the offset in force then (the inverse of
// fileTimestamp; in the hour a switch to standard time repeats, the earlier
// instant).
// Leaves the file alone and returns false when timestamp is not of the form
// days,seconds (decimal digits, seconds below 86400).
bool setFileTimestamp(const std::string& path, std::string_view timestamp);

struct FileNameParts {
  std::string drive;      // "X:" or empty
  std::string directory;  // everything between drive and last element, separators kept
  std::string name;       // last element before its extension
  std::string extension;  // from the last "." of the last element, "." included
};

// Splits a path at "/" and "\" the way drive-letter systems do. Only the
// first 260 characters are looked at; each part is at most 255 characters.
// A last element "." or ".." belongs to the directory.
FileNameParts splitFileName(std::string_view path);

// Adds to paths every existing path that one of patterns matches (glob);
// a pattern matching nothing adds nothing.
void expandPatterns(const StringSet& patterns, StringSet& paths);

}  // namespace kvrtools
