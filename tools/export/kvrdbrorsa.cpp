// kvrdbrorsa: exports the routines a mask selects into one routine-set file
// in the RSA layout (or to standard output): include files, then
// intermediate code, then macro sources, each routine behind a header line
// NAME^TYPE^^days,seconds^ that carries its type and date.
#include "command_line.h"
#include "routine_set.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Export one or more routines from database in RSA format.\n"
    "Usage: kvrdbrorsa [-s server] [-p port] [-d database] masks file\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "  file;     optional name of file for export\n"
    "If file was not specified, utility dumps export content.\n"
    "kvrdbrorsa -h displays this help screen.\n";

}  // namespace

int main(int argc, char** argv) {
  const kvrexport::RoutineSetLayout layout{
      "Kovra Tools^^Routine export^~Format=Cache.S~\n\n",
      {
          {"^rINC", R"(w rn_"^INC^^"_$g(^rINC(rn,0))_"^"_$c(10))"},
          {"^ROUTINE", R"(w rn_"^INT^^"_$g(^ROUTINE(rn,0))_"^"_$c(10))"},
          {"^rMAC", R"(w rn_"^MAC^^"_$g(^rMAC(rn,0))_"^"_$c(10))"},
      }};
  return kvrexport::exportRoutineSet(kvrtools::CommandLine(argc, argv), kUsage, layout);
}
