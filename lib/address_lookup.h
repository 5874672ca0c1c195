// The addresses a connection dials: the server text of the connection turned
// into socket addresses, by the system's resolver for a host name.
#pragma once

#include <sys/socket.h>

#include <string>
#include <string_view>
#include <vector>

namespace kovra::net {

struct TSocketAddress {
  sockaddr_storage address;
  socklen_t length;
  // The address as numeric text ("127.0.0.1", "::1"), for the reasons.
  std::string text;
};

struct TLookup {
  std::vector<TSocketAddress> addresses;  // in the resolver's order
  std::string failure;                    // why there are none
};

// server is an IPv4 address in dotted-decimal form, an IPv6 address (bare or
// in brackets), or a host name, which the resolver looks up (IPv4 and IPv6
// addresses, in its order of preference). Other texts are refused without a
// lookup: the legacy forms of IPv4 addresses ("127.1", "2130706433",
// "010.0.0.1") dial addresses nobody meant, and blanks or other characters
// that no host name has are typing mistakes. Only the low 16 bits of port
// are used.
TLookup LookUpServer(std::string_view server, int port);

}  // namespace kovra::net
