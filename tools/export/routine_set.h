// The routine-set writer behind kvrdbrorsa (RSA layout) and kvrdbrostd
// (ANSI layout). Output, to standard output or to a file named by the second
// positional argument:
//   the file header line, an empty line;
//   per routine, section by section, names in byte order: a routine header
//   line, the routine's lines (an empty one written as a single blank), an
//   empty line;
//   one more empty line.
// A file is staged and renamed into place only when every library call
// succeeded; then the run ends with status 0, or 1 when a routine was
// skipped for its name.
#pragma once

#include <string_view>
#include <vector>

#include "command_line.h"

namespace kvrexport {

struct Section {
  std::string_view global;  // "^ROUTINE", "^rMAC" or "^rINC"
  // The M line (sent with executeWithOutput after rn is set) that writes the
  // routine header line; empty when the header is the bare name, written by
  // the tool itself.
  std::string_view headerLine;
};

struct RoutineSetLayout {
  std::string_view fileHeader;  // the first two lines, line feeds included
  std::vector<Section> sections;
};

// The whole tool after the help check: start-up, mask, output, export.
// Returns the exit status.
int exportRoutineSet(const kvrtools::CommandLine& commandLine, std::string_view usage,
                     const RoutineSetLayout& layout);

}  // namespace kvrexport
