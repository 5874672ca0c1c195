// kvrdbcompile: compiles the routines a mask selects, on the server, and
// shows the compiler's terminal output. Include files are never compiled.
#include <string>

#include "binding.h"
#include "mask_selection.h"
#include "string_set.h"
#include "tool_run.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Compile one or more routines in database.\n"
    "Usage: kvrdbcompile [-s server] [-p port] [-d database] masks\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "kvrdbcompile -h displays this help screen.\n";

// INT routines first; one whose macro source is selected too is left to the
// MAC line, which regenerates its INT code from that source.
constexpr std::string_view kCompileIntLine =
    R"(s rn="" f  s rn=$o(rtn("^ROUTINE",rn)) q:rn=""  i '$d(rtn("^rMAC",rn)) w "Compile "_rn_".INT"_$c(10) d compile^%RCOMPIL(rn_".INT"))";

// Every selected MAC routine. (Skipping the ones selected as INT as well
// would leave a routine selected both ways compiled by neither line.)
constexpr std::string_view kCompileMacLine =
    R"(s rn="" f  s rn=$o(rtn("^rMAC",rn)) q:rn=""  w "Compile "_rn_".MAC"_$c(10) d compile^%RCOMPIL(rn_".MAC"))";

int compile(const std::string& mask) {
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  kvrtools::recordSelection(mask);
  kvrtools::executeWithOutput(kCompileIntLine);
  kvrtools::executeWithOutput(kCompileMacLine);
  return kvrtools::kStatusOk;
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for compilation does not specified."};
  return kvrtools::runTool(argc, argv, tool,
                           [](const std::string& mask, const kvrtools::CommandLine&) { return compile(mask); });
}
