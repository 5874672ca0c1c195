// The update modes' date comparison for many routines at once (-b on): the
// server's date of every routine and its difference to the file's date
// arrive as one value each (wo^%srv), many routines to a request, instead of
// up to four requests per routine. The rule is routineDate and
// dateDifference's, evaluated by the server exactly as they do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "routine_types.h"

namespace kvrtools {

struct DateCheck {
  std::string routine;  // has passed the routine name check
  const RoutineType* type;
  std::string fileDate;  // days,seconds or empty, as fileTimestamp gives it
};

struct DateComparison {
  std::string routineDate;  // routineDate(routine, type)
  std::int64_t difference;  // dateDifference(fileDate, routineDate)
};

// One comparison per check, in order. A check the batch could not answer
// (the server refused the line) is asked for alone, the line-by-line way.
std::vector<DateComparison> compareDates(const std::vector<DateCheck>& checks);

// compareDates for checks of which some have no file date (not a regular
// file): those are not sent and give nothing; the rest go in one batch.
std::vector<std::optional<DateComparison>> compareFileDates(const std::vector<DateCheck>& checks);

struct DateLine {
  std::string text;
  std::size_t checks;  // how many checks it covers, from the first one asked for
};

// The M line compareDates sends for the checks from index first on, within
// limit bytes (always at least one check); it hands back one value per check.
DateLine dateComparisonLine(const std::vector<DateCheck>& checks, std::size_t first, std::size_t limit);

// Splits one handed-back value into its comparison.
DateComparison parseDateComparison(const std::string& value);

}  // namespace kvrtools
