// The socket layer: every POSIX socket call of the library lives here (and,
// for a TLS connection, in the session's BIO, wire/tls_socket_bio.h), and only
// there is EINTR retried. Descriptors are plain ints owned by the caller
// (TKvrConnect), which releases them with ReleaseSocket.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "connect_limit.h"

namespace kovra::net {

struct TConnectResult {
  int fd = -1;          // a connected blocking socket, or -1
  std::string failure;  // why there is none ("Connection refused")
};

// Connects a TCP socket to server:port, server being an IPv4 or IPv6 address
// or a host name (address_lookup.h). Each address of the server is tried in
// turn until one accepts, all within limit; the socket returned is blocking.
// On failure no descriptor is left open and failure says why: the system's
// text for the error of the address tried ("Connection refused", "No route
// to host"; with several addresses that failed differently, each followed by
// its address), "unknown host NAME", or "connect timed out after N s".
TConnectResult ConnectTcp(std::string_view server, int port, const TConnectLimit& limit);

// Waits until fd is readable or limit has passed; false on the latter.
bool WaitReadable(int fd, const TConnectLimit& limit);

// Shuts the socket down in both directions and closes it. fd may be -1.
void ReleaseSocket(int fd);

// Sends all of bytes (MSG_NOSIGNAL, so a closed peer is an error result, not a
// signal). True when every byte went out; an empty text sends nothing and
// succeeds.
bool SendAll(int fd, std::string_view bytes);

// kTimedOut: a time limit passed before a byte came (only reads given one).
enum class ReadStatus { kData, kEndOfStream, kFailed, kTimedOut };
struct ReadResult {
  ReadStatus status;
  std::size_t count;  // bytes stored in the span, for kData only
};

// One recv into the span (which must not be empty). A 0-byte read is the end
// of the stream, never "no data".
ReadResult ReceiveSome(int fd, std::span<char> into);

}  // namespace kovra::net
