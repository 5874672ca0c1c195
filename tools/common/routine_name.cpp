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

void reportInvalidRoutineName(std::string_view routine) {
  std::fflush(stdout);
  std::fprintf(stderr, "Skipping routine %.*s: not a valid routine name.\n",
               static_cast<int>(routine.size()), routine.data());
}

}  // namespace kvrtools
