#include "test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <stdexcept>

#include "requests.h"

namespace devserver::testing {

namespace {

constexpr int kWaitMillis = 10000;

bool waitReadable(int fd, int millis) {
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, millis);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

}  // namespace

TestClient::TestClient(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("connect to kvrdevserver failed");
  }
}

void TestClient::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t count = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (count <= 0) throw std::runtime_error("send to kvrdevserver failed");
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

bool TestClient::fill() {
  if (!waitReadable(socket_.get(), kWaitMillis)) throw std::runtime_error("no reply in time");
  const std::span<char> space = reader_.FreeSpace();
  if (space.empty()) throw std::runtime_error("a reply filled the client's whole buffer");
  ssize_t count = ::recv(socket_.get(), space.data(), space.size(), 0);
  if (count <= 0) return false;
  reader_.Commit(static_cast<std::size_t>(count));
  return true;
}

std::string TestClient::readReply() {
  std::string reply;
  for (int reads = 0; reads < 100000; ++reads) {
    switch (reader_.ParseBuffer(reply)) {
      case kovra::TParseResult::prComplete:
        return reply;
      case kovra::TParseResult::prNeverFits:
        throw std::runtime_error("a reply the client library could never take");
      case kovra::TParseResult::prNeedMore:
        if (!fill()) throw std::runtime_error("server closed before a whole reply");
        break;
    }
  }
  throw std::runtime_error("no whole reply after many reads");
}

std::string TestClient::readRawUntilNul() {
  // Raw output is not framed and may be longer than the buffer: it is taken
  // out as it arrives.
  std::string raw;
  for (int reads = 0; reads < 100000; ++reads) {
    const std::string_view pending = reader_.Pending();
    const std::size_t nul = pending.find('\0');
    if (nul != std::string_view::npos) {
      raw.append(pending.substr(0, nul + 1));
      reader_.Consume(nul + 1);
      return raw;
    }
    raw.append(pending);
    reader_.Consume(pending.size());
    if (!fill()) throw std::runtime_error("server closed inside terminal output");
  }
  throw std::runtime_error("no end of terminal output after many reads");
}

bool TestClient::closedByServer(std::string* rest) {
  bool closed = false;
  std::string seen;
  for (int i = 0; i < 1000 && !closed; ++i) {
    closed = !fill();
    seen.append(reader_.Pending());
    reader_.Clear();
  }
  if (rest != nullptr) *rest = seen;
  return closed;
}

std::string request(char type, std::string_view text) {
  return kovra::BuildFieldRequest(std::string_view(&type, 1), text);
}

std::string writeRequest(std::string_view target, std::string_view value) {
  return kovra::BuildWriteRequest(target, value);
}

}  // namespace devserver::testing
