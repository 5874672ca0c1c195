// The file argument of the import tools: a comma-separated list of file
// patterns with * and ?, turned into the paths that exist.
#pragma once

#include <string_view>

#include "string_set.h"

namespace kvrtools {

// Splits fileList at its commas on the server (through the local files, the
// way the masks are split) and expands each piece to the existing paths it
// matches, in byte order. Ends the process with status 1 when the connection
// is lost.
StringSet expandFileList(std::string_view fileList);

}  // namespace kvrtools
