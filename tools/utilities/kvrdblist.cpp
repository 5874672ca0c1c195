// kvrdblist: lists the routines a mask selects, one NAME.EXT a line, sorted.
#include <cstdio>
#include <string>

#include "binding.h"
#include "command_line.h"
#include "connection_lost.h"
#include "mask_lines.h"
#include "startup.h"
#include "string_set.h"

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
  const kvrtools::CommandLine commandLine(argc, argv);
  if (auto status = kvrtools::startTool(commandLine, kUsage)) return *status;

  kvrtools::setVariable("mask", commandLine.positional(1).value_or("*.INT"));
  kvrtools::exitIfConnectionLost();
  kvrtools::execute(kvrtools::kNormaliseMaskLine);
  kvrtools::exitIfConnectionLost();
  kvrtools::StringSet entries;
  kvrtools::setGroupReadHandler(kvrtools::collectInto(entries));
  kvrtools::execute(kSelectionLine);
  kvrtools::exitIfConnectionLost();
  kvrtools::disconnectServer();

  for (const std::string& entry : entries) {
    std::fwrite(entry.data(), 1, entry.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}
