// kvrdbrorsa: exports the routines a mask selects into one routine-set file
// in the RSA layout (or to standard output): include files, then
// intermediate code, then macro sources, each routine behind a header line
// NAME^TYPE^^days,seconds^ that carries its type and date.
#include "routine_set.h"

int main(int argc, char** argv) {
  const kvrexport::RoutineSetLayout layout{
      .toolName = "kvrdbrorsa",
      .formatName = "RSA",
      .fileHeader = "Kovra Tools^^Routine export^~Format=Cache.S~\n\n",
      .sections = {&kvrtools::kIncludeType, &kvrtools::kIntType, &kvrtools::kMacroType},
      .routineHeader = kvrexport::RoutineHeader::kTypeAndDate};
  return kvrexport::runRoutineSetExport(argc, argv, layout);
}
