#include "socket_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "connect_error.h"

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
  ::fcntl(fd, F_SETFL, 0);
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

WaitResult WaitReadable(int fd, int timeoutMs) {
  if (fd < 0) return WaitResult::kFailed;
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 || (p.revents & POLLNVAL)) return WaitResult::kFailed;
  if (rc == 0) return WaitResult::kTimedOut;
  // POLLHUP and POLLERR also mean "a read will not block": the read tells
  // whether it is data, the end of the stream or an error.
  return WaitResult::kReadable;
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

std::string SocketErrorText(int code) {
  switch (code) {
    case 10004: return "Interrupted function call.";
    case 10013: return "Permission denied.";
    case 10014: return "Bad address.";
    case 10022: return "Invalid argument.";
    case 10024: return "Too many open files.";
    case 10035: return "Resource temporarily unavailable.";
    case 10036: return "Operation now in progress.";
    case 10037: return "Operation already in progress.";
    case 10038: return "Socket operation on non-socket.";
    case 10039: return "Destination address required.";
    case 10040: return "Message too long.";
    case 10041: return "Protocol wrong type for socket.";
    case 10042: return "Bad protocol option.";
    case 10043: return "Protocol not supported.";
    case 10044: return "Socket type not supported.";
    case 10045: return "Operation not supported.";
    case 10046: return "Protocol family not supported.";
    case 10047: return "Address family not supported by protocol family.";
    case 10048: return "Address already in use.";
    case 10049: return "Cannot assign requested address.";
    case 10050: return "Network is down.";
    case 10051: return "Network is unreachable.";
    case 10052: return "Network dropped connection on reset.";
    case 10053: return "Software caused connection abort.";
    case 10054: return "Connection reset by peer.";
    case 10055: return "No buffer space available.";
    case 10056: return "Socket is already connected.";
    case 10057: return "Socket is not connected.";
    case 10058: return "Cannot send after socket shutdown.";
    case 10060: return "Connection timed out.";
    case 10061:
      return "Connection refused. Can't establish connection with database.\r"
             "Check server is running.";
    case 10064: return "Host is down.";
    case 10065: return "No route to host.";
    case 10067: return "Too many processes.";
    case 10091: return "Network subsystem is unavailable.";
    case 10092: return "WINSOCK.DLL version out of range.";
    case 11001: return "Host not found.";
    case 11002: return "Non-authoritative host not found.";
    default: return "Unknown error code.";
  }
}

void RaiseSocketError(int code) {
  char head[48];
  std::snprintf(head, sizeof head, "Socket error. Code %d", code);
  throw EKovraError(std::string(head) + ": " + SocketErrorText(code));
}

}  // namespace kovra::net
