// kvrdbrostd: exports the intermediate-code routines a mask selects into one
// routine-set file in the ANSI layout (or to standard output): each routine
// behind a header line that is its bare name, without type or date.
#include "command_line.h"
#include "routine_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Export one or more routines from database in ANSI format.\n"
    "Usage: kvrdbrostd [-s server] [-p port] [-d database] masks file\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "  file;     optional name of file for export\n"
    "If file was not specified, utility dumps export content.\n"
    "kvrdbrostd -h displays this help screen.\n";

}  // namespace

int main(int argc, char** argv) {
  const kvrexport::RoutineSetLayout layout{"Kovra Tools, Routine export~Format=ANSI.S~\n\n", {{"^ROUTINE", ""}}};
  return kvrexport::exportRoutineSet(kvrtools::CommandLine(argc, argv), kUsage, layout);
}
