// The routine-set writer behind kvrdbrorsa (RSA layout) and kvrdbrostd
// (ANSI layout). Output, to standard output or to the file target names:
//   the file header line, an empty line;
//   per routine, section by section, names in byte order: a routine header
//   line, the routine's lines (an empty one written as a single blank), an
//   empty line;
//   one more empty line.
// A file is staged and renamed into place only when every library call
// succeeded (any failure ends the run then); standard output is written as
// the content comes, so there a routine whose call failed is reported (its
// text may be incomplete) and only a lost connection ends the run. A target
// that is a symbolic link is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "routine_types.h"

namespace kvrexport {

enum class RoutineHeader {
  kTypeAndDate,  // NAME^TYPE^^days,seconds^ (RSA)
  kBareName,     // NAME (ANSI)
};

struct RoutineSetLayout {
  std::string_view toolName;    // as the usage text names the utility
  std::string_view formatName;  // as the usage text names the layout
  std::string_view fileHeader;  // the first two lines, line feeds included
  std::vector<const kvrtools::RoutineType*> sections;
  RoutineHeader routineHeader;
};

// The whole utility, usage text included: its mask the first positional
// argument, the optional target file the second. The exit status: 0, or 1
// when a routine was skipped for its name or failed, the mask selected no
// routine of the layout's types, or the output could not be written (a
// symbolic link, a full disk); 255 with the usage text when the target
// cannot be opened.
int runRoutineSetExport(int argc, char** argv, const RoutineSetLayout& layout);

}  // namespace kvrexport
