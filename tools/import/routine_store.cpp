#include "routine_store.h"

#include <cstdio>

#include "binding.h"
#include "bulk_store.h"
#include "routine_name.h"
#include "settings.h"

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

// nodeText, with rglobal set on the server where the node names it.
std::string openNode(Addressing addressing, const kvrtools::RoutineType& type, const std::string& name) {
  if (addressing == Addressing::kGlobalInLocal) kvrtools::setVariable("rglobal", type.global);
  return nodeText(addressing, type, name);
}

// Without a file time the routine is dated by the server's clock, the same in
// every importer: an empty date would make update mode import it every time.
std::string dateValue(const std::string& timestamp) {
  if (timestamp.empty()) return "$h";
  return "\"" + timestamp + "\"";
}

// True when every text the routine needs fits in one call; otherwise says
// why on standard error. Asked before the old routine is removed.
bool sendableWhole(const std::string& node, const RoutineText& routine) {
  const std::string longestLine = "s " + node + ",0)=\"" + routine.timestamp + "\"";
  const std::string lastLineNode = node + "," + std::to_string(routine.lines.size()) + ")";
  const std::string headerLine = "s " + node + ")=\"" + std::to_string(routine.lines.size()) + "," +
                                 std::to_string(routine.lines.size() * kvrtools::kMaxCallText) + "\"";
  if (!kvrtools::fitsOneCall(longestLine) || !kvrtools::fitsOneCall(lastLineNode) ||
      !kvrtools::fitsOneCall(headerLine)) {
    std::fflush(stdout);
    std::fprintf(stderr, "Skipping routine %s: its name is too long to send.\n",
                 kvrtools::printableName(routine.name).c_str());
    return false;
  }
  for (std::size_t i = 0; i < routine.lines.size(); ++i) {
    if (kvrtools::fitsOneCall(routine.lines[i])) continue;
    std::fflush(stdout);
    std::fprintf(stderr, "Skipping routine %s: line %s is too long to send.\n",
                 kvrtools::printableName(routine.name).c_str(), std::to_string(i + 1).c_str());
    return false;
  }
  return true;
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

bool storeRoutine(Addressing addressing, const kvrtools::RoutineType& type, const RoutineText& routine) {
  if (kvrtools::bulkTransfer(kvrtools::connectionSettings())) {
    // What line by line would skip is skipped before anything is sent. In
    // bulk the requests name the global itself.
    if (!sendableWhole(nodeText(addressing, type, routine.name), routine)) return false;
    const std::string node = nodeText(Addressing::kGlobalInEachLine, type, routine.name);
    if (const std::optional<bool> stored = storeInBulk(node, routine, dateValue(routine.timestamp))) return *stored;
  }
  const std::string node = openNode(addressing, type, routine.name);
  if (!sendableWhole(node, routine)) return false;
  kvrtools::execute("k " + node + ")");
  for (std::size_t i = 0; i < routine.lines.size(); ++i)
    kvrtools::setVariable(node + "," + std::to_string(i + 1) + ")", routine.lines[i]);
  kvrtools::execute("s " + node + ",0)=" + dateValue(routine.timestamp));
  kvrtools::execute("s " + node + ")=" + headerValue(routine.lines));
  return true;
}

}  // namespace kvrimport
