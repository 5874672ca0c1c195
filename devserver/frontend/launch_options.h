// kvrdevserver's launch options, parsed from its command line:
//   kvrdevserver [--listen ADDRESS] [--port N] [--dir DIR] [--greeting ok|connect] [--segment N]
//                [--tls-cert FILE --tls-key FILE [--tls-client-ca FILE]]
// (the TLS options are documented in the manual page, not in the usage text)
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace devserver {

inline constexpr std::string_view kUsage =
    "usage: kvrdevserver [--listen ADDRESS] [--port N] [--dir DIR] [--greeting ok|connect]\n"
    "                    [--segment N]";

// What -h prints: the usage line, then every option with its default.
inline constexpr std::string_view kHelp =
    "A development server that stands in for a Kovra Server on 127.0.0.1.\n"
    "\n"
    "  --listen ADDRESS\n"
    "                  the IPv4 or IPv6 address to listen on (default 127.0.0.1;\n"
    "                  ::1 for IPv6).\n"
    "  --port N        TCP port to listen on (default 5000); 0 picks a free one.\n"
    "                  The first line written is \"listening on ADDRESS:PORT\",\n"
    "                  an IPv6 address in brackets (\"listening on [::1]:PORT\").\n"
    "  --dir DIR       keep the databases in DIR (created when missing): one\n"
    "                  journal per database (%SYS.journal, USER.journal), replayed\n"
    "                  at start, and kovra.ini, the server settings; a [Login]\n"
    "                  entry GUI=$$CHECK^%LOGIN() with a [Users] section of\n"
    "                  name=password lines makes the utilities log in.\n"
    "                  Default: everything in memory, no login.\n"
    "  --greeting ok|connect\n"
    "                  greet clients with <OK> (default) or ask for the\n"
    "                  library's login step (connect).\n"
    "  --segment N     send every reply in pieces of at most N bytes (default 0:\n"
    "                  whole), to exercise a client's reassembly.\n"
    "  -h, --help      show this text.\n"
    "\n"
    "SIGINT or SIGTERM stops it. Exit status: 0 stopped or help shown, 1 the\n"
    "directory or the port could not be used, 2 a wrong command line.";

struct LaunchOptions {
  std::string listen = "127.0.0.1";  // a numeric IPv4 or IPv6 address
  std::uint16_t port = 5000;   // 0 picks a free port
  std::string directory;       // empty: everything in memory
  bool loginGreeting = false;  // --greeting connect
  std::size_t segment = 0;     // 0: replies whole
  // --tls-cert, --tls-key, --tls-client-ca: TLS on every connection when the
  // first two are given.
  std::string tlsCertificate;
  std::string tlsKey;
  std::string tlsClientCa;
  bool help = false;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the words after the program name; throws UsageError.
LaunchOptions parseLaunchOptions(const std::vector<std::string_view>& words);

}  // namespace devserver
