// kvrdbrfirst: lists the routines a mask selects with their first lines:
// NAME.EXT, a tab, line 1 of the routine; sorted.
#include <string_view>

#include "command_line.h"
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

// Leaves the database unchanged.
constexpr std::string_view kSelectionLine =
    R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s p=$$pat^%RSEL($p(m,".")) s g=$$gloname^%RSEL(m) s rn="" f  s rn=$o(@g@(rn)) q:rn=""  i rn?@p d wo^%srv(rn_"."_$p(m,".",2)_$c(9)_$g(@g@(rn,1))))";

}  // namespace

int main(int argc, char** argv) {
  return kvrtools::listRoutines(kvrtools::CommandLine(argc, argv), kUsage, kSelectionLine);
}
