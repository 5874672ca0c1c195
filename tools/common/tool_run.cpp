#include "tool_run.h"

#include <cstdio>

#include "binding.h"
#include "settings.h"

namespace kvrtools {
namespace {

// Steps 1 to 3, and the refusal of a command line with a word not understood.
std::optional<int> prepare(const CommandLine& commandLine, const Tool& tool) {
  const std::string_view usage = tool.usage;
  if (commandLine.helpRequested()) {
    printUsage(usage);
    return kStatusOk;
  }
  if (std::optional<std::string> mistake = commandLine.mistake(tool.moreModes)) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", mistake->c_str());
    printUsage(usage);
    return kStatusStartupFailed;
  }
  Settings& settings = connectionSettings();
  if (!readSettingsFile(kSettingsFileName, settings)) readSettingsFile(userSettingsPath(), settings);
  commandLine.applyOptions(settings);
  if (const char* message = missingSettingMessage(settings)) {
    std::printf("%s\n", message);
    printUsage(usage);
    return kStatusStartupFailed;
  }
  return std::nullopt;
}

// Steps 4 and 5.
std::optional<int> connect(std::string_view usage) {
  if (!connectServer()) {
    printUsage(usage);
    return kStatusStartupFailed;
  }
  return std::nullopt;
}

// Step 6: the argument, or the status of a run that lacks it.
std::optional<int> findArgument(const CommandLine& commandLine, const Tool& tool, std::string& argument) {
  if (std::optional<std::string> given = commandLine.positional(1)) {
    argument = *given;
  } else if (tool.defaultArgument) {
    argument = *tool.defaultArgument;
  } else {
    std::printf("%.*s\n", static_cast<int>(tool.missingArgument.size()), tool.missingArgument.data());
    printUsage(tool.usage);
    return kStatusStartupFailed;
  }
  return std::nullopt;
}

// A run that lacks its argument ends before anything is dialled.
std::optional<int> start(const CommandLine& commandLine, const Tool& tool, std::string& argument) {
  if (auto status = prepare(commandLine, tool)) return status;
  if (auto status = findArgument(commandLine, tool, argument)) return status;
  return connect(tool.usage);
}

}  // namespace

void printUsage(std::string_view usage) {
  std::fflush(stdout);
  std::fwrite(usage.data(), 1, usage.size(), stderr);
  std::fflush(stderr);
}

int runTool(int argc, char** argv, const Tool& tool, const ToolWork& work) {
  const CommandLine commandLine(argc, argv);
  std::string argument;
  int status = kStatusOk;
  if (auto early = start(commandLine, tool, argument)) {
    status = *early;
  } else {
    status = work(argument, commandLine);
    if (status == kStatusStartupFailed) printUsage(tool.usage);
  }
  disconnectServer();
  return status;
}

}  // namespace kvrtools
