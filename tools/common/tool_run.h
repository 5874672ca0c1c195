// The run of every utility around its own work:
//   1. help anywhere on the line: usage text on standard error, status 0;
//   then a word the command line does not understand (an unknown option,
//   an option without its value, a value an option does not take): its
//   message and the usage text on standard error, status -1;
//   2. the settings file kvrct.ini (the current folder's, else the user's);
//   3. the options, then the check that
//   server, port and database are set (first missing one reported);
//   4. the first positional argument (see Tool); 5. connectServer;
//   6. on failure of 3, 4 or 5: usage text, status -1; 7. the work;
//   8. disconnect. Nothing is dialled before step 5.
// A utility's main names its Tool and its work and returns runTool's status.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "exit_status.h"

namespace kvrtools {

struct Tool {
  std::string_view usage = {};
  // Without a first positional argument: this message and a line feed on
  // standard output, the usage text, and status -1 ...
  std::string_view missingArgument = {};
  // ... unless there is a default to use in its place.
  std::optional<std::string_view> defaultArgument = {};
  // Values of -m that only this utility takes, besides all, update and
  // changed.
  std::vector<std::string_view> moreModes = {};
};

// The work of a utility: its first positional argument and the whole command
// line in, the exit status out. kStatusStartupFailed has the usage text shown
// after the work's own message.
using ToolWork = std::function<int(const std::string& argument, const CommandLine& commandLine)>;

// Steps 1 to 8; the exit status.
int runTool(int argc, char** argv, const Tool& tool, const ToolWork& work);

// Writes the usage text to standard error unchanged.
void printUsage(std::string_view usage);

}  // namespace kvrtools
