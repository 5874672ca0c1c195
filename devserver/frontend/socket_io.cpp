#include "socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace devserver {

namespace {

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

UniqueFd listenLoopback(std::uint16_t port) { return listenOnAddress("127.0.0.1", port); }

UniqueFd listenOnAddress(const std::string& address, std::uint16_t port) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof *v6;
  } else {
    throw std::invalid_argument("not an IPv4 or IPv6 address: " + address);
  }
  UniqueFd fd(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) throwErrno("socket");
  int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (storage.ss_family == AF_INET6) ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    throwErrno(("bind " + address).c_str());
  }
  if (::listen(fd.get(), SOMAXCONN) != 0) throwErrno("listen");
  return fd;
}

std::uint16_t localPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throwErrno("getsockname");
  }
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

UniqueFd acceptConnection(int listenFd, bool& exhausted) {
  int fd;
  do {
    fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  exhausted = fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM);
  if (fd < 0) return UniqueFd();
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return UniqueFd(fd);
}

int waitReadable(int first, int second, int timeoutMs) {
  pollfd fds[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
  for (;;) {
    int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throwErrno("poll");
    }
    if (ready == 0) return -1;
    if (fds[0].revents != 0) return first;
    if (fds[1].revents != 0) return second;
  }
}

std::size_t receiveSome(int fd, char* data, std::size_t size) {
  for (;;) {
    ssize_t count = ::recv(fd, data, size, 0);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno == EINTR) continue;
    if (errno == ECONNRESET || errno == ENOTCONN) return 0;
    throw ConnectionLost(std::string("recv: ") + std::strerror(errno));
  }
}

void sendAll(int fd, std::string_view bytes, std::size_t segment) {
  while (!bytes.empty()) {
    std::size_t piece = segment > 0 && segment < bytes.size() ? segment : bytes.size();
    ssize_t count = ::send(fd, bytes.data(), piece, MSG_NOSIGNAL);
    if (count < 0) {
      if (errno == EINTR) continue;
      throw ConnectionLost(std::string("send: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

bool peerHasGone(int fd) {
  pollfd probe = {fd, POLLIN | POLLRDHUP, 0};
  int ready;
  do {
    ready = ::poll(&probe, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  return (probe.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void shutdownSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

}  // namespace devserver
