// -m changed (kvrdbri, kvrdbro): routines move only when their text differs
// from the other side's, and the run ends with a count on standard error.
#pragma once

#include <cstddef>

namespace kvrtools {

struct ComparisonCount {
  std::size_t compared = 0;
  std::size_t moved = 0;      // imported or written
  std::size_t unchanged = 0;  // left as they were
  std::size_t failed = 0;     // differed, but could not be imported or written
};

enum class Moved { kImported, kWritten };

// "Compared N routines: M imported, K left as they were." (or "M written"),
// with ", F failed" before the full stop when some could not be moved; on
// standard error.
void reportComparison(const ComparisonCount& count, Moved moved);

}  // namespace kvrtools
