// kvrdblist: lists the routines a mask selects, one NAME.EXT a line, sorted.
#include <string_view>

#include "command_line.h"
#include "routine_listing.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "List routine names in the database.\n"
    "Usage: kvrdblist [@inifile] [-s server] [-p port] [-d database] mask\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  mask:     comma-separated mask list with placeholders * and ?\n"
    "kvrdblist -h displays this help screen.\n"
    "If no ini file was specified indirectly, file kvrct.ini will be used.\n"
    "If no any mask was specified, mask *.INT will be used.\n";

// Also leaves the normalised mask in ^TRM("mask") for later runs to see.
constexpr std::string_view kSelectionLine =
    R"(s ^TRM("mask")=mask f n=1:1:$l(mask,",") s m=$p(mask,",",n) s p=$$pat^%RSEL($p(m,".")) s g=$$gloname^%RSEL(m) s rn="" f  s rn=$o(@g@(rn)) q:rn=""  i rn?@p d wo^%srv(rn_"."_$p(m,".",2)))";

}  // namespace

int main(int argc, char** argv) {
  return kvrtools::listRoutines(kvrtools::CommandLine(argc, argv), kUsage, kSelectionLine);
}
