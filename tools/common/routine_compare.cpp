#include "routine_compare.h"

#include <cstdio>
#include <string>

namespace kvrtools {

void reportComparison(const ComparisonCount& count, Moved moved) {
  const std::string compared = std::to_string(count.compared);
  const std::string done = std::to_string(count.moved);
  const std::string unchanged = std::to_string(count.unchanged);
  const std::string failed = std::to_string(count.failed);
  const bool imported = moved == Moved::kImported;
  std::fflush(stdout);
  if (count.failed == 0) {
    std::fprintf(stderr,
                 imported ? "Compared %s routines: %s imported, %s left as they were.\n"
                          : "Compared %s routines: %s written, %s left as they were.\n",
                 compared.c_str(), done.c_str(), unchanged.c_str());
  } else {
    std::fprintf(stderr,
                 imported ? "Compared %s routines: %s imported, %s left as they were, %s failed.\n"
                          : "Compared %s routines: %s written, %s left as they were, %s failed.\n",
                 compared.c_str(), done.c_str(), unchanged.c_str(), failed.c_str());
  }
}

}  // namespace kvrtools
