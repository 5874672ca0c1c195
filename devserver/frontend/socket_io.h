// Every socket call of the front end lives here (but for the records of a
// TLS session, which go through the library's BIO, tls_socket_bio.h). EINTR
// is retried here and there only; a peer that has gone is reported as
// ConnectionLost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace devserver {

// The peer closed the connection or the socket failed; ends the connection.
class ConnectionLost : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Listens on 127.0.0.1 only; port 0 picks a free port. Throws
// std::system_error when the socket cannot be bound.
UniqueFd listenLoopback(std::uint16_t port);

// Listens on address, a numeric IPv4 or IPv6 address (an IPv6 socket takes
// IPv6 clients only); port 0 picks a free port. Throws std::system_error
// when the socket cannot be made or bound, std::invalid_argument when
// address is not such an address.
UniqueFd listenOnAddress(const std::string& address, std::uint16_t port);

// The port a bound socket listens on.
std::uint16_t localPort(int fd);

// Accepts one pending connection (close-on-exec, no Nagle delay, so every
// piece of a segmented reply leaves as it is written). Returns an empty
// UniqueFd when the accept failed; exhausted is then true when the process
// ran out of descriptors or memory, and the pending client stays queued.
UniqueFd acceptConnection(int listenFd, bool& exhausted);

// Blocks until one of the two descriptors is readable, or until timeoutMs
// milliseconds have passed (-1: no limit); returns the one that is readable
// (first wins when both are), or -1 on the timeout.
int waitReadable(int first, int second, int timeoutMs = -1);

// Reads at most size bytes of what has arrived; 0 means the peer closed.
// Throws ConnectionLost on a socket error.
std::size_t receiveSome(int fd, char* data, std::size_t size);

// Sends every byte. With segment > 0 the bytes go out in pieces of at most
// segment bytes, each in its own send. Throws ConnectionLost.
void sendAll(int fd, std::string_view bytes, std::size_t segment);

// True when the peer has closed its side or the socket has failed (or been
// shut down by a stop); never blocks. Bytes that wait unread do not count.
bool peerHasGone(int fd);

// Wakes a thread blocked in receiveSome on fd (it then reads end of stream).
void shutdownSocket(int fd);

}  // namespace devserver
