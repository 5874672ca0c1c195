// kvrdbkill: deletes the routines a mask selects. At a terminal it asks
// before each one; otherwise it deletes every match. Deleting MAC code also
// deletes the INT code and object made from it; deleting INT code also
// deletes its object.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <strings.h>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "mask_lines.h"
#include "routine_name.h"
#include "startup.h"
#include "string_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Kill routines in the database.\n"
    "Usage: kvrdbkill [@inifile] [-s server] [-p port] [-d database] mask\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "kvrdbkill -h displays this help screen.\n"
    "If no ini file was specified indirectly, file kvrct.ini will be used.\n";

enum class Answer { kYes, kNo, kAll, kStop };

// Asks until a known letter comes; the end of the input stops the asking.
Answer ask(const std::string& entry) {
  for (;;) {
    std::printf("Kill routine %s? [ Yes | No | All | Stop ] : ", entry.c_str());
    std::fflush(stdout);
    const int c = std::getchar();
    if (c == EOF) return Answer::kStop;
    switch (std::toupper(c)) {
      case 'Y': return Answer::kYes;
      case 'N': return Answer::kNo;
      case 'A': return Answer::kAll;
      case 'S': return Answer::kStop;
      default: break;
    }
  }
}

// Sends one kill command for name in global and prints its message.
void killNode(const char* global, const std::string& name, const std::string& message) {
  kvrtools::execute("k " + std::string(global) + "(\"" + name + "\")");
  kvrtools::exitIfConnectionLost();
  std::printf("Routine %s removed.\n", message.c_str());
}

void removeRoutine(const std::string& entry, const std::string& name, const std::string& type) {
  if (strcasecmp(type.c_str(), ".INC") == 0) {
    killNode("^rINC", name, entry);
  } else if (strcasecmp(type.c_str(), ".INT") == 0) {
    killNode("^ROUTINE", name, entry);
    killNode("^rOBJ", name, name + ".obj");
  } else if (strcasecmp(type.c_str(), ".MAC") == 0) {
    killNode("^rMAC", name, name + ".mac");
    killNode("^ROUTINE", name, name + ".int");
    killNode("^rOBJ", name, name + ".obj");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::startTool(commandLine, kUsage)) return *status;

  const std::optional<std::string> mask = commandLine.positional(1);
  if (!mask) {
    kvrtools::reportMissingArgument("Routines for removing does not specified.", kUsage);
    return 0;
  }
  kvrtools::StringSet entries;
  kvrtools::setGroupReadHandler(kvrtools::collectInto(entries));
  kvrtools::setVariable("mask", *mask);
  kvrtools::exitIfConnectionLost();
  kvrtools::execute(kvrtools::kNormaliseMaskLine);
  kvrtools::exitIfConnectionLost();
  kvrtools::execute(kvrtools::kListRoutinesLine);
  kvrtools::exitIfConnectionLost();
  kvrtools::setGroupReadHandler(nullptr);

  bool asking = isatty(STDOUT_FILENO) && isatty(STDIN_FILENO);
  if (entries.empty()) std::printf("No routines matched mask was found.\n");
  int status = 0;
  for (const std::string& entry : entries) {
    const std::size_t period = entry.rfind('.');
    const std::string name = entry.substr(0, period);
    const std::string type = period == std::string::npos ? std::string() : entry.substr(period);
    if (!kvrtools::isValidRoutineName(name)) {
      kvrtools::reportInvalidRoutineName(entry);
      status = 1;
      continue;
    }
    if (asking) {
      const Answer answer = ask(entry);
      if (answer == Answer::kStop) break;
      if (answer == Answer::kNo) continue;
      if (answer == Answer::kAll) asking = false;
    }
    removeRoutine(entry, name, type);
  }
  kvrtools::disconnectServer();
  return status;
}
