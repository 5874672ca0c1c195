#include "string_set.h"

#include <cstdio>

namespace kvrtools {

TextHandler collectInto(StringSet& set) {
  return [&set](const std::string& value) {
    if (!value.empty()) set.insert(value);
  };
}

TextHandler writeToStandardOutput() {
  return [](const std::string& piece) {
    std::fwrite(piece.data(), 1, piece.size(), stdout);
    std::fflush(stdout);
  };
}

}  // namespace kvrtools
