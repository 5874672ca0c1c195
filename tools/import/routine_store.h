// Storing one routine through the connection, for the import tools that
// address the target global by indirection (the local rglobal), so the lines
// sent are the same for every routine type.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvrimport {

// The global that holds routines of type ("INT", "MAC", "INC"), or nothing
// for any other type.
std::optional<std::string> routineGlobal(std::string_view type);

// True when text is a routine timestamp: decimal days, a comma, decimal
// seconds, nothing else. Only such a text is put into an M line.
bool isRoutineTimestamp(std::string_view text);

// Replaces routine name in global by lines: sets rglobal, removes the old
// routine, stores the lines from node 1, node 0 (timestamp, or the server's
// $h when it is empty) and the header "count,characters". A lost connection
// ends the process with status 1. name must have passed the routine name
// check and timestamp must be empty or a routine timestamp.
void storeRoutine(const std::string& global, const std::string& name, const std::vector<std::string>& lines,
                  const std::string& timestamp);

// A text file opened for reading; nothing for a path that cannot be opened or
// is a directory (which would open, then fail on the first read).
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
std::unique_ptr<std::FILE, FileCloser> openForReading(const std::string& path);

// Reports a path that cannot be read, on standard error.
void reportUnreadable(const std::string& path);

// The whole run of an import tool that reads the files of its first
// positional argument: start-up, the missing-argument message, the file list
// expanded, importFile called for each path in order, disconnect. The status
// is 1 when any importFile returned false, else 0 (start-up failures end as
// the start-up says).
int runFileImport(int argc, char** argv, std::string_view usage,
                  const std::function<bool(const std::string& path)>& importFile);

}  // namespace kvrimport
