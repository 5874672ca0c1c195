#include "socket_transport.h"

#include "address_lookup.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kovra::net {

namespace {

void CloseDescriptor(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
  ::close(fd);
}

// Polls one descriptor for events until limit has passed. True when an event
// came, false on the time-out or a failed poll.
bool PollWithin(int fd, short events, const TConnectLimit& limit) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, limit.RemainingMs());
    if (rc > 0) return true;
    if (rc == 0 || errno != EINTR) return false;
  }
}

enum class DialOutcome { kConnected, kFailed, kTimedOut };

// One address: a non-blocking connect, so the wait for it is bounded. On
// kConnected fd holds the socket, made blocking again; on kFailed error holds
// the errno.
DialOutcome Dial(const TSocketAddress& address, const TConnectLimit& limit, int& fd, int& error) {
  fd = ::socket(address.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) {
    error = errno;
    return DialOutcome::kFailed;
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length);
  } while (rc < 0 && errno == EINTR);
  error = rc == 0 ? 0 : errno;
  if (error == EISCONN) error = 0;  // a retried connect that had finished
  if (rc < 0 && (error == EINPROGRESS || error == EALREADY)) {
    if (!PollWithin(fd, POLLOUT, limit)) {
      CloseDescriptor(fd);
      fd = -1;
      return DialOutcome::kTimedOut;
    }
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  }
  if (error != 0) {
    CloseDescriptor(fd);
    fd = -1;
    return DialOutcome::kFailed;
  }
  ::fcntl(fd, F_SETFL, 0);  // blocking from here on
  // Every request leaves in one send and the next waits for its reply:
  // Nagle's algorithm could only hold a request back for an acknowledgement.
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return DialOutcome::kConnected;
}

}  // namespace

TConnectResult ConnectTcp(std::string_view server, int port, const TConnectLimit& limit) {
  const TLookup lookup = LookUpServer(server, port);
  if (lookup.addresses.empty()) return {-1, lookup.failure};
  // The reason each address failed with, in the order they were tried.
  std::vector<std::pair<std::string, std::string>> failures;
  for (const TSocketAddress& address : lookup.addresses) {
    int fd = -1;
    int error = 0;
    switch (Dial(address, limit, fd, error)) {
      case DialOutcome::kConnected:
        return {fd, {}};
      case DialOutcome::kTimedOut:
        return {-1, "connect timed out after " + limit.Seconds() + " s"};
      case DialOutcome::kFailed:
        failures.emplace_back(std::strerror(error), address.text);
        break;
    }
    if (limit.RemainingMs() == 0) return {-1, "connect timed out after " + limit.Seconds() + " s"};
  }
  bool allAlike = true;
  for (const auto& failure : failures) allAlike = allAlike && failure.first == failures.front().first;
  if (allAlike) return {-1, failures.front().first};
  std::string reasons;
  for (const auto& [reason, address] : failures) {
    if (!reasons.empty()) reasons += "; ";
    reasons += reason + " (" + address + ")";
  }
  return {-1, reasons};
}

bool WaitReadable(int fd, const TConnectLimit& limit) { return PollWithin(fd, POLLIN, limit); }

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
