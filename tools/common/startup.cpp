#include "startup.h"

#include <cstdio>

#include "binding.h"
#include "settings.h"

namespace kvrtools {

void printUsage(std::string_view usage) {
  std::fflush(stdout);
  std::fwrite(usage.data(), 1, usage.size(), stderr);
  std::fflush(stderr);
}

std::optional<int> prepareTool(const CommandLine& commandLine, std::string_view usage) {
  if (commandLine.helpRequested()) {
    printUsage(usage);
    return 0;
  }
  Settings& settings = connectionSettings();
  readSettingsFile(kSettingsFileName, settings);
  commandLine.applyOptions(settings);
  if (const char* message = missingSettingMessage(settings)) {
    std::printf("%s\n", message);
    printUsage(usage);
    return -1;
  }
  return std::nullopt;
}

std::optional<int> connectTool(std::string_view usage) {
  if (!connectServer()) {
    printUsage(usage);
    return -1;
  }
  return std::nullopt;
}

std::optional<int> startTool(const CommandLine& commandLine, std::string_view usage) {
  if (auto status = prepareTool(commandLine, usage)) return status;
  return connectTool(usage);
}

void reportMissingArgument(std::string_view message, std::string_view usage) {
  std::printf("%.*s\n", static_cast<int>(message.size()), message.data());
  printUsage(usage);
  disconnectServer();
}

}  // namespace kvrtools
