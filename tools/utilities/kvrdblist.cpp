// kvrdblist: lists the routines a mask selects, one NAME.EXT a line, sorted.
#include <string>
#include <string_view>

#include "mask_selection.h"
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

}  // namespace

int main(int argc, char** argv) {
  // Also leaves the normalised mask in ^TRM("mask") for later runs to see.
  const std::string selectionLine =
      R"(s ^TRM("mask")=mask )" + kvrtools::forEachSelectedLine(kvrtools::kHandBackNameAction);
  return kvrtools::runRoutineListing(argc, argv, kUsage, selectionLine);
}
