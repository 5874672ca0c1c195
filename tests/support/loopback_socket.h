// Socket steps the tests' relays share: a listener on an ephemeral port of
// 127.0.0.1, a connection to a loopback port, and sending a whole buffer.
#pragma once

#include <cstddef>

namespace kvrtest {

// A listening socket on 127.0.0.1 with a port the kernel picks (set in
// port); -1 when it cannot be made.
int listenOnLoopback(int& port);

// A socket connected to 127.0.0.1:port, or -1.
int connectLoopback(int port);

// Sends every byte; false when the peer has gone.
bool sendAll(int fd, const char* data, std::size_t size);

}  // namespace kvrtest
