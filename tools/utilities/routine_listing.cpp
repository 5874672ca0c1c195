#include "routine_listing.h"

#include <cstdio>
#include <string>

#include "binding.h"
#include "mask_selection.h"
#include "tool_run.h"

namespace kvrtools {
namespace {

int listRoutines(const std::string& mask, std::string_view selectionLine) {
  const StringSet entries = selectByMask(mask, selectionLine);
  // The listing is written with the connection already closed.
  disconnectServer();
  for (const std::string& entry : entries) {
    std::fwrite(entry.data(), 1, entry.size(), stdout);
    std::fputc('\n', stdout);
  }
  return kStatusOk;
}

}  // namespace

int runRoutineListing(int argc, char** argv, std::string_view usage, std::string_view selectionLine) {
  const Tool tool{.usage = usage, .defaultArgument = "*.INT"};
  return runTool(argc, argv, tool, [selectionLine](const std::string& mask, const CommandLine&) {
    return listRoutines(mask, selectionLine);
  });
}

}  // namespace kvrtools
