// What kvrdblist and kvrdbrfirst share: the mask (default *.INT), one
// selection line that hands back an entry per routine, and the entries
// written one a line in byte order.
#pragma once

#include <string_view>

namespace kvrtools {

// Runs the whole listing utility and returns its exit status. selectionLine
// walks the normalised local mask and calls wo^%srv once per entry.
int runRoutineListing(int argc, char** argv, std::string_view usage, std::string_view selectionLine);

}  // namespace kvrtools
