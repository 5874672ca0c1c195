// kvrdbkill: deletes the routines a mask selects. At a terminal it asks
// before each one; otherwise it deletes every match. Deleting MAC code also
// deletes the INT code and object made from it; deleting INT code also
// deletes its object.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "binding.h"
#include "mask_selection.h"
#include "routine_name.h"
#include "routine_types.h"
#include "string_set.h"
#include "tool_run.h"

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
// Answers are read a character at a time, so letters typed ahead answer the
// prompts that follow. White space (the Enter that ends an answer at a
// terminal above all) answers nothing and brings no prompt of its own:
// otherwise each answer and its Enter would show the next prompt twice.
// Any other character is a wrong answer and asks again.
Answer ask(const std::string& entry) {
  bool prompt = true;
  for (;;) {
    if (prompt) {
      std::printf("Kill routine %s? [ Yes | No | All | Stop ] : ", entry.c_str());
      std::fflush(stdout);
    }
    const int c = std::getchar();
    if (c == EOF) return Answer::kStop;
    switch (std::toupper(c)) {
      case 'Y': return Answer::kYes;
      case 'N': return Answer::kNo;
      case 'A': return Answer::kAll;
      case 'S': return Answer::kStop;
      default: break;
    }
    prompt = !std::isspace(c);
  }
}

// Sends one kill command for name in global and prints its message.
void killNode(std::string_view global, const std::string& name, const std::string& message) {
  kvrtools::execute("k " + std::string(global) + "(\"" + name + "\")");
  std::printf("Routine %s removed.\n", message.c_str());
}

std::string withExtension(const std::string& name, std::string_view extension) {
  return name + "." + std::string(extension);
}

// Deleting a routine takes along what was made from it: the INT code made
// from MAC code, and the object made from compiled code. An entry of
// another type deletes nothing.
void removeRoutine(const std::string& entry, const std::string& name, const std::string& extension) {
  const kvrtools::RoutineType* type = kvrtools::routineTypeOfExtension(extension);
  if (!type) return;
  if (type == &kvrtools::kMacroType) {
    killNode(kvrtools::kMacroType.global, name, withExtension(name, kvrtools::kMacroType.extension));
    killNode(kvrtools::kIntType.global, name, withExtension(name, kvrtools::kIntType.extension));
  } else {
    killNode(type->global, name, entry);
  }
  if (type->compiled) killNode(kvrtools::kObjectGlobal, name, withExtension(name, "obj"));
}

int killSelection(const std::string& mask) {
  const kvrtools::StringSet entries =
      kvrtools::selectByMask(mask, kvrtools::forEachSelectedLine(kvrtools::kHandBackNameAction));
  bool asking = isatty(STDOUT_FILENO) && isatty(STDIN_FILENO);
  if (entries.empty()) std::printf("No routines matched mask was found.\n");
  int status = kvrtools::kStatusOk;
  for (const std::string& entry : entries) {
    const std::size_t period = entry.rfind('.');
    const std::string name = entry.substr(0, period);
    const std::string extension = period == std::string::npos ? std::string() : entry.substr(period);
    if (!kvrtools::isValidRoutineName(name)) {
      kvrtools::reportInvalidRoutineName(entry);
      status = kvrtools::kStatusFailed;
      continue;
    }
    if (asking) {
      const Answer answer = ask(entry);
      if (answer == Answer::kStop) break;
      if (answer == Answer::kNo) continue;
      if (answer == Answer::kAll) asking = false;
    }
    removeRoutine(entry, name, extension);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for removing does not specified."};
  return kvrtools::runTool(argc, argv, tool,
                           [](const std::string& mask, const kvrtools::CommandLine&) { return killSelection(mask); });
}
