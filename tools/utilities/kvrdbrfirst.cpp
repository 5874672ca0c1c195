// kvrdbrfirst: lists the routines a mask selects with their first lines:
// NAME.EXT, a tab, line 1 of the routine; sorted.
#include <string>
#include <string_view>

#include "mask_selection.h"
#include "routine_listing.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "List first lines of routines in the database.\n"
    "Usage: kvrdbrfirst [-s server] [-p port] [-d database] mask\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "kvrdbrfirst -h displays this help screen.\n"
    "If no ini file was specified indirectly, file kvrct.ini will be used.\n"
    "If no any mask was specified, mask *.INT will be used.\n";

}  // namespace

int main(int argc, char** argv) {
  // Leaves the database unchanged.
  const std::string selectionLine =
      kvrtools::forEachSelectedLine(R"(d wo^%srv(rn_"."_$p(m,".",2)_$c(9)_$g(@g@(rn,1))))");
  return kvrtools::runRoutineListing(argc, argv, kUsage, selectionLine);
}
