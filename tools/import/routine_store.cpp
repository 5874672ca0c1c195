#include "routine_store.h"

#include "binding.h"
#include "bulk_store.h"
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
std::string openNode(Addressing addressing, const kvrtools::RoutineType& type, const std::string& name) {
  if (addressing == Addressing::kGlobalInEachLine) return std::string(type.global) + "(\"" + name + "\"";
  kvrtools::setVariable("rglobal", type.global);
  return "@rglobal@(\"" + name + "\"";
}

std::string dateValue(Addressing addressing, const std::string& timestamp) {
  if (timestamp.empty() && addressing == Addressing::kGlobalInLocal) return "$h";
  return "\"" + timestamp + "\"";
}

}  // namespace

bool isRoutineTimestamp(std::string_view text) {
  const std::size_t comma = text.find(',');
  return comma != std::string_view::npos && allDigits(text.substr(0, comma)) && allDigits(text.substr(comma + 1));
}

bool storeRoutine(Addressing addressing, const kvrtools::RoutineType& type, const RoutineText& routine) {
  if (kvrtools::bulkTransfer(kvrtools::connectionSettings()))
    if (const std::optional<bool> stored = storeInBulk(type, routine, dateValue(addressing, routine.timestamp)))
      return *stored;
  const std::string node = openNode(addressing, type, routine.name);
  kvrtools::execute("k " + node + ")");
  std::size_t characters = 0;
  for (std::size_t i = 0; i < routine.lines.size(); ++i) {
    kvrtools::setVariable(node + "," + std::to_string(i + 1) + ")", routine.lines[i]);
    characters += routine.lines[i].size();
  }
  kvrtools::execute("s " + node + ",0)=" + dateValue(addressing, routine.timestamp));
  kvrtools::execute("s " + node + ")=\"" + std::to_string(routine.lines.size()) + "," + std::to_string(characters) +
                    "\"");
  return true;
}

}  // namespace kvrimport
