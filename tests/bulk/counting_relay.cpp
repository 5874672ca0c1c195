#include "counting_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kvrtest {
namespace {

constexpr int kPollMilliseconds = 30000;  // every wait is bounded

bool sendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads "<digits>NUL<that many bytes>" at at; false when not all there.
bool skipCounted(const std::string& text, std::size_t& at) {
  const std::size_t nul = text.find('\0', at);
  if (nul == std::string::npos) return false;
  std::size_t length = 0;
  for (std::size_t i = at; i < nul && i < at + 9; ++i) length = length * 10 + static_cast<std::size_t>(text[i] - '0');
  if (nul + 1 + length > text.size()) return false;
  at = nul + 1 + length;
  return true;
}

}  // namespace

CountingRelay::CountingRelay(int serverPort) : serverPort_(serverPort) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 1) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("relay: cannot listen on 127.0.0.1");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { relay(); });
}

CountingRelay::~CountingRelay() {
  finish();
  close(listener_);
}

std::size_t CountingRelay::finish() {
  if (thread_.joinable()) thread_.join();
  return requests_;
}

void CountingRelay::count(std::string& pending) {
  std::size_t at = 0;
  for (;;) {
    std::size_t next = at + 2;  // type byte and NUL
    if (next > pending.size()) break;
    if (!skipCounted(pending, next)) break;
    if (pending[at] == 'w' && !skipCounted(pending, next)) break;
    ++requests_;
    at = next;
  }
  pending.erase(0, at);
}

void CountingRelay::relay() {
  pollfd waitAccept{listener_, POLLIN, 0};
  if (poll(&waitAccept, 1, kPollMilliseconds) <= 0) return;
  const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(serverPort_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (client >= 0 && server >= 0 && connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string pending;
    char buffer[65536];
    for (bool open = true; open;) {
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(fds, 2, kPollMilliseconds) <= 0) break;
      for (int side = 0; side < 2 && open; ++side) {
        if (!fds[side].revents) continue;
        const int from = side == 0 ? client : server;
        const ssize_t n = recv(from, buffer, sizeof buffer, 0);
        open = n > 0 && sendAll(side == 0 ? server : client, buffer, static_cast<std::size_t>(n));
        if (open && side == 0) {
          pending.append(buffer, static_cast<std::size_t>(n));
          count(pending);
        }
      }
    }
  }
  if (client >= 0) close(client);
  if (server >= 0) close(server);
}

}  // namespace kvrtest
