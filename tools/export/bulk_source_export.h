// kvrdbro with -b on or -m changed: the routines of a type read many to a
// request (one to a request for -m changed alone) and written from memory,
// with the same messages, bytes, file times and safe replacement as the
// line-by-line export. A routine that cannot travel that way goes the
// line-by-line way alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bulk_export.h"
#include "routine_compare.h"
#include "routine_types.h"
#include "string_set.h"

namespace kvrexport {

struct SourceExportRules {
  bool exportAll = false;    // -m all
  bool changedOnly = false;  // -m changed: write only missing or differing files
  bool bulk = false;         // -b on
  // Update mode: true when a file whose date is difference (days times
  // 100000 plus seconds) after its routine's is current.
  std::function<bool(std::int64_t difference, const kvrtools::RoutineType&)> isCurrent;
  // The line-by-line export of one routine (update and all modes).
  std::function<ExportOutcome(const std::string& name, const kvrtools::RoutineType& type)> lineByLine;
};

// Exports the routines names of type as rules say, in name order. kStopRun
// when a file could not be opened or put in place (reported); kFailed when a
// routine was skipped or a call failed. With changedOnly every routine
// compared is counted.
ExportOutcome exportSourceFiles(const kvrtools::RoutineType& type, const kvrtools::StringSet& names,
                                const SourceExportRules& rules, kvrtools::ComparisonCount& count);

}  // namespace kvrexport
