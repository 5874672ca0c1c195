// The client side of the raw baselines: a blocking loopback TCP socket with
// no Nagle delay, and whole sends and receives on it. Nothing here uses the
// library, so the baselines show what the socket alone costs.
#pragma once

#include <cstddef>
#include <string_view>

namespace kvrbench {

// An owned, connected socket; closed when the owner goes away.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Connects to 127.0.0.1:port with TCP_NODELAY; an empty Socket on failure.
Socket ConnectLoopback(int port);

// Sends every byte; false when the socket failed.
bool SendAll(int fd, std::string_view bytes);

// One recv into data; the count, 0 at the end of the stream, -1 on an error.
long ReceiveSome(int fd, char* data, std::size_t size);

// Receives until a NUL byte has arrived, reading at most size bytes in all;
// the count read, or -1 when the stream ended or failed first.
long ReceiveThroughNul(int fd, char* data, std::size_t size);

}  // namespace kvrbench
