#include "counting_relay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "loopback_socket.h"

namespace kvrtest {
namespace {

constexpr int kPollMilliseconds = 30000;  // every wait is bounded

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
  listener_ = listenOnLoopback(port_);
  if (listener_ < 0) throw std::runtime_error("relay: cannot listen on 127.0.0.1");
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
  const int server = connectLoopback(serverPort_);
  if (client >= 0 && server >= 0) {
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
