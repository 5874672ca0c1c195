// The string set: texts in plain byte order (std::string compares bytes as
// unsigned char), each text once. Utilities collect routine names, file paths
// and listing entries in one and work through it in order.
#pragma once

#include <set>
#include <string>

#include "binding.h"

namespace kvrtools {

using StringSet = std::set<std::string>;

// A group-read handler that adds every non-empty value to set. The set must
// outlive the handler's installation.
TextHandler collectInto(StringSet& set);

// An output handler that writes every piece to standard output unchanged and
// at once (no line end added, flushed).
TextHandler writeToStandardOutput();

}  // namespace kvrtools
