// kvrdbrostd: exports the intermediate-code routines a mask selects into one
// routine-set file in the ANSI layout (or to standard output): each routine
// behind a header line that is its bare name, without type or date.
#include "routine_set.h"

int main(int argc, char** argv) {
  const kvrexport::RoutineSetLayout layout{.toolName = "kvrdbrostd",
                                           .formatName = "ANSI",
                                           .fileHeader = "Kovra Tools, Routine export~Format=ANSI.S~\n\n",
                                           .sections = {&kvrtools::kIntType},
                                           .routineHeader = kvrexport::RoutineHeader::kBareName};
  return kvrexport::runRoutineSetExport(argc, argv, layout);
}
