// Reading routine source files for the importers: the one way a routine's
// text travels from a local file into memory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "local_files.h"

namespace kvrimport {

// A file opened for reading; nothing for a path that cannot be opened or is
// a directory (which would open, then fail on the first read).
kvrtools::FilePtr openForReading(const std::string& path);

// Reports a path openForReading refused, on standard error.
void reportUnreadable(const std::string& path);

// Every line up to the end of the file. An empty line is an empty routine
// line, not the end of the routine: editors and other systems leave them
// inside routines.
std::vector<std::string> remainingLines(std::FILE* file);

// Every line of the file at path; nothing, with the failure reported on
// standard error, when it cannot be opened or read to its end.
std::optional<std::vector<std::string>> readSourceFile(const std::string& path);

}  // namespace kvrimport
