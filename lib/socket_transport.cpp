#include "socket_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <string>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kovra::net {

namespace {

void CloseDescriptor(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
  ::close(fd);
}

// A connect interrupted by a signal goes on in the background; wait for it to
// finish and take its outcome from SO_ERROR.
bool FinishInterruptedConnect(int fd) {
  pollfd p{fd, POLLOUT, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, -1);
  } while (rc < 0 && errno == EINTR);
  if (rc != 1) return false;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return false;
  return err == 0;
}

}  // namespace

int ConnectTcp(std::string_view address, int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
  // inet_pton accepts exactly four dotted decimal parts: no names, no
  // shorthand forms, no octal or hexadecimal parts.
  const std::string text(address);
  if (::inet_pton(AF_INET, text.c_str(), &addr.sin_addr) != 1) return -1;

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return -1;
  ::fcntl(fd, F_SETFL, 0);  // blocking

  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  const bool connected = rc == 0 || (errno == EINTR && FinishInterruptedConnect(fd));
  if (!connected) {
    CloseDescriptor(fd);
    return -1;
  }
  return fd;
}

void ReleaseSocket(int fd) {
  if (fd < 0) return;
  ::shutdown(fd, SHUT_RDWR);
  CloseDescriptor(fd);
}

bool SendAll(int fd, std::string_view bytes) {
  if (fd < 0) return false;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

ReadResult ReceiveSome(int fd, std::span<char> into) {
  if (fd < 0 || into.empty()) return {ReadStatus::kFailed, 0};
  ssize_t n;
  do {
    n = ::recv(fd, into.data(), into.size(), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return {ReadStatus::kFailed, 0};
  if (n == 0) return {ReadStatus::kEndOfStream, 0};
  return {ReadStatus::kData, static_cast<std::size_t>(n)};
}

}  // namespace kovra::net
