// The start-up sequence every utility's main begins with:
//   1. help anywhere on the line: usage text on standard error, status 0;
//   2. the settings file kvrct.ini; 3. the options, then the check that
//   server, port and database are set (first missing one reported);
//   4. connectServer; 5. on failure of 3 or 4: usage text, status -1.
// Each function returns the exit status when the utility must end now, or
// nothing when it goes on.
#pragma once

#include <optional>
#include <string_view>

#include "command_line.h"

namespace kvrtools {

// Writes the usage text to standard error unchanged.
void printUsage(std::string_view usage);

// Steps 1 to 5.
std::optional<int> startTool(const CommandLine& commandLine, std::string_view usage);

// Steps 1 to 3 only, for a utility that looks at its arguments before it
// connects; follow with connectTool.
std::optional<int> prepareTool(const CommandLine& commandLine, std::string_view usage);

// Steps 4 and 5.
std::optional<int> connectTool(std::string_view usage);

// The end of a run that lacks its required positional argument: the message
// and a line feed on standard output, the usage text on standard error, and
// the connection (if any) closed.
void reportMissingArgument(std::string_view message, std::string_view usage);

}  // namespace kvrtools
