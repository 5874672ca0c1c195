// The file argument of the import tools: a comma-separated list of file
// patterns with * and ?, turned into the paths that exist.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "string_set.h"

namespace kvrtools {

// Splits fileList at its commas on the server (through the local files, the
// way the masks are split) and expands each piece to the existing paths it
// matches, in byte order. When nothing matches at all, says so on standard
// error ("No file matches LIST.") and gives the empty set; the run then ends
// with status 1.
StringSet expandFileList(std::string_view fileList);

// Calls work for every path of expandFileList(fileList), in order; true when
// some path matched and every call returned true.
bool forEachListedFile(std::string_view fileList, const std::function<bool(const std::string& path)>& work);

}  // namespace kvrtools
