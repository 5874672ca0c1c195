#include "routine_listing.h"

#include <cstdio>
#include <string>

#include "binding.h"
#include "connection_lost.h"
#include "mask_lines.h"
#include "startup.h"
#include "string_set.h"

namespace kvrtools {

int listRoutines(const CommandLine& commandLine, std::string_view usage, std::string_view selectionLine) {
  if (auto status = startTool(commandLine, usage)) return *status;

  setVariable("mask", commandLine.positional(1).value_or("*.INT"));
  exitIfConnectionLost();
  execute(kNormaliseMaskLine);
  exitIfConnectionLost();
  StringSet entries;
  setGroupReadHandler(collectInto(entries));
  execute(selectionLine);
  exitIfConnectionLost();
  disconnectServer();

  for (const std::string& entry : entries) {
    std::fwrite(entry.data(), 1, entry.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}

}  // namespace kvrtools
