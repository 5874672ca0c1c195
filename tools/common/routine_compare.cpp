#include "routine_compare.h"

#include <cstdio>
#include <string>

namespace kvrtools {

void reportComparison(const ComparisonCount& count, std::string_view movedWord) {
  const std::string word(movedWord);
  std::fflush(stdout);
  std::fprintf(stderr, "Compared %s routines: %s %s, %s left as they were.\n", std::to_string(count.compared).c_str(),
               std::to_string(count.moved).c_str(), word.c_str(), std::to_string(count.unchanged).c_str());
}

}  // namespace kvrtools
