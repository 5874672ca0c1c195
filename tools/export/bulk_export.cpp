#include "bulk_export.h"

#include "routine_name.h"

namespace kvrexport {

std::vector<std::string> validNames(const kvrtools::StringSet& names) {
  std::vector<std::string> valid;
  for (const std::string& name : names)
    if (kvrtools::isValidRoutineName(name)) valid.push_back(name);
  return valid;
}

ExportOutcome walkRoutines(const kvrtools::StringSet& names, const std::vector<std::string>& chosen,
                           const RoutineWalk& walk) {
  kvrtools::RoutineSource source(*walk.type, chosen, walk.dateExpression, walk.bulk);
  ExportOutcome outcome = ExportOutcome::kDone;
  std::size_t next = 0;
  for (const std::string& name : names) {
    ExportOutcome done = ExportOutcome::kDone;
    if (!kvrtools::acceptRoutineName(name)) {
      done = ExportOutcome::kFailed;
    } else if (next < chosen.size() && chosen[next] == name) {
      ++next;
      const kvrtools::FetchedRoutine routine = source.next();
      done = routine.travelled ? walk.arrived(routine) : walk.lineByLine(name);
    }
    if (done > outcome) outcome = done;
    if (outcome == ExportOutcome::kStopRun) break;
  }
  return outcome;
}

}  // namespace kvrexport
