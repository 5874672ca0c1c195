// The exporters' walk over a type's selected routines with -b on (and
// kvrdbro's -m changed): the texts read many to a request, handed over in
// name order; refused names reported where the line-by-line walk reports
// them; a routine that could not travel handed to the line-by-line export.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bulk_reader.h"
#include "routine_types.h"
#include "string_set.h"

namespace kvrexport {

// Ordered by severity: the walk reports the worst outcome it met.
enum class ExportOutcome { kDone, kFailed, kStopRun };

struct RoutineWalk {
  const kvrtools::RoutineType* type;
  std::string dateExpression;  // evaluated per routine, rn its name
  bool bulk;                   // many to a request, else one
  // A routine's text and date arrived.
  std::function<ExportOutcome(const kvrtools::FetchedRoutine&)> arrived;
  // A routine that could not travel: the line-by-line export of it.
  std::function<ExportOutcome(const std::string& name)> lineByLine;
};

// The names of names that pass the routine name check, in order, silently.
std::vector<std::string> validNames(const kvrtools::StringSet& names);

// Walks names in order; only those in chosen (a subsequence of the valid
// names, in the same order) are read and handed over. Stops at kStopRun.
ExportOutcome walkRoutines(const kvrtools::StringSet& names, const std::vector<std::string>& chosen,
                           const RoutineWalk& walk);

}  // namespace kvrexport
