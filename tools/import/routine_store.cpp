#include "routine_store.h"

#include <cstdio>

#include "binding.h"
#include "message_text.h"
#include "routine_name.h"

namespace kvrimport {
namespace {

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The routine's node without its closing parenthesis: ^G("NAME" or
// @rglobal@("NAME".
std::string nodeText(Addressing addressing, const kvrtools::RoutineType& type, const std::string& name) {
  if (addressing == Addressing::kGlobalInEachLine) return std::string(type.global) + "(\"" + name + "\"";
  return "@rglobal@(\"" + name + "\"";
}

}  // namespace

std::string headerValue(const std::vector<std::string>& lines) {
  std::size_t characters = 0;
  for (const std::string& line : lines) characters += line.size();
  return "\"" + std::to_string(lines.size()) + "," + std::to_string(characters) + "\"";
}

bool isRoutineTimestamp(std::string_view text) {
  const std::size_t comma = text.find(',');
  return comma != std::string_view::npos && allDigits(text.substr(0, comma)) && allDigits(text.substr(comma + 1));
}

// Without a file time the routine is dated by the server's clock, the same in
// every importer: an empty date would make update mode import it every time.
std::string dateValue(const std::string& timestamp) {
  if (timestamp.empty()) return "$h";
  return "\"" + timestamp + "\"";
}

// Every text the routine needs must fit in one call; asked before the old
// routine is removed.
std::optional<std::string> unsendableReason(Addressing addressing, const kvrtools::RoutineType& type,
                                            const RoutineText& routine) {
  const std::string node = nodeText(addressing, type, routine.name);
  const std::string longestLine = "s " + node + ",0)=\"" + routine.timestamp + "\"";
  const std::string lastLineNode = node + "," + std::to_string(routine.lines.size()) + ")";
  const std::string headerLine = "s " + node + ")=\"" + std::to_string(routine.lines.size()) + "," +
                                 std::to_string(routine.lines.size() * kvrtools::kMaxCallText) + "\"";
  const std::string shown = kvrtools::printableName(routine.name);
  if (!kvrtools::fitsOneCall(longestLine) || !kvrtools::fitsOneCall(lastLineNode) ||
      !kvrtools::fitsOneCall(headerLine))
    return messageText("Skipping routine %s: its name is too long to send.\n", shown);
  for (std::size_t i = 0; i < routine.lines.size(); ++i) {
    if (kvrtools::fitsOneCall(routine.lines[i])) continue;
    return messageText("Skipping routine %s: line %s is too long to send.\n", shown, std::to_string(i + 1));
  }
  return std::nullopt;
}

bool storeRoutine(Addressing addressing, const kvrtools::RoutineType& type, const RoutineText& routine) {
  if (const std::optional<std::string> reason = unsendableReason(addressing, type, routine)) {
    std::fflush(stdout);
    std::fputs(reason->c_str(), stderr);
    return false;
  }
  if (addressing == Addressing::kGlobalInLocal) kvrtools::setVariable("rglobal", type.global);
  const std::string node = nodeText(addressing, type, routine.name);
  kvrtools::execute("k " + node + ")");
  for (std::size_t i = 0; i < routine.lines.size(); ++i)
    kvrtools::setVariable(node + "," + std::to_string(i + 1) + ")", routine.lines[i]);
  kvrtools::execute("s " + node + ",0)=" + dateValue(routine.timestamp));
  kvrtools::execute("s " + node + ")=" + headerValue(routine.lines));
  return true;
}

}  // namespace kvrimport
