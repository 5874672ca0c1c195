#include "routine_name.h"

#include <cstdio>

namespace kvrtools {

bool isValidRoutineName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || c == '"' || c == '/' || c == '\\') return false;
  }
  return true;
}

std::string printableName(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) {
      out += "_$C(" + std::to_string(byte) + ")_";
    } else {
      out += c;
    }
  }
  return out;
}

void reportInvalidRoutineName(std::string_view routine) {
  const std::string shown = printableName(routine);
  std::fflush(stdout);
  std::fprintf(stderr, "Skipping routine %s: not a valid routine name.\n", shown.c_str());
}

bool isTransferableRoutineName(std::string_view name) {
  return isValidRoutineName(name) && !name.starts_with('_') && name.find('^') == std::string_view::npos &&
         !name.starts_with(' ') && !name.ends_with(' ');
}

bool acceptRoutineName(std::string_view name) {
  if (isTransferableRoutineName(name)) return true;
  reportInvalidRoutineName(name);
  return false;
}

}  // namespace kvrtools
