// The socket layer: every POSIX socket call of the library lives here (and,
// for a TLS connection, in the session's BIO of tls_session.cpp), and only
// there is EINTR retried. Descriptors are plain ints owned by the caller
// (TKvrConnect), which releases them with ReleaseSocket.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kovra::net {

// Opens a blocking IPv4 TCP socket connected to address:port. The address must
// be dotted-decimal IPv4 text; nothing is ever looked up by name. Returns the
// descriptor, or -1 when the address is not such text or socket/connect fails
// (no descriptor is left open then). Only the low 16 bits of port are used.
int ConnectTcp(std::string_view address, int port);

// Shuts the socket down in both directions and closes it. fd may be -1.
void ReleaseSocket(int fd);

// Sends all of bytes (MSG_NOSIGNAL, so a closed peer is an error result, not a
// signal). True when every byte went out; an empty text sends nothing and
// succeeds.
bool SendAll(int fd, std::string_view bytes);

enum class ReadStatus { kData, kEndOfStream, kFailed };
struct ReadResult {
  ReadStatus status;
  std::size_t count;  // bytes stored in the span, for kData only
};

// One recv into the span (which must not be empty). A 0-byte read is the end
// of the stream, never "no data".
ReadResult ReceiveSome(int fd, std::span<char> into);

}  // namespace kovra::net
