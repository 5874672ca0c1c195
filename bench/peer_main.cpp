// kvrbench_peer: the stand-in servers the benchmarks measure against.
//   kvrbench_peer pingpong   answers every 20-byte request with 10 bytes
//                            ending in NUL: the raw loopback round trip.
//   kvrbench_peer reply      a minimal Kovra reply server: greets, and answers
//                            every request with "<OK>" at once (no M engine).
//                            Two lines do more: "h N" (execute) answers after
//                            N seconds, and a "t" request whose line is a
//                            decimal count streams that many bytes of output.
//   kvrbench_peer bulk N     sends N raw bytes on every connection, then
//                            closes it: the bulk recv baseline.
// Each listens on a free port of 127.0.0.1, prints "listening on
// 127.0.0.1:PORT", serves one thread per connection and runs until it is
// stopped by a signal.
#include <sys/socket.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "request_reader.h"
#include "socket_io.h"

namespace {

using devserver::ConnectionLost;
using devserver::UniqueFd;

constexpr std::size_t kPingRequest = 20;
constexpr std::string_view kPongReply("pong12345\0", 10);
constexpr std::size_t kSendPiece = 64 * 1024;
constexpr std::size_t kLineLength = 64;

// 64 KB of terminal-like output: lines of 63 printable bytes and a line feed.
const std::string& OutputPattern() {
  static const std::string pattern = [] {
    std::string text;
    for (std::size_t i = 0; i < kSendPiece; ++i) {
      text.push_back(i % kLineLength == kLineLength - 1 ? '\n' : static_cast<char>('A' + i % 26));
    }
    return text;
  }();
  return pattern;
}

void SendPattern(int fd, std::uint64_t total) {
  const std::string& pattern = OutputPattern();
  while (total > 0) {
    const std::size_t n = total < pattern.size() ? static_cast<std::size_t>(total) : pattern.size();
    devserver::sendAll(fd, std::string_view(pattern.data(), n), 0);
    total -= n;
  }
}

bool ParseCount(std::string_view text, std::uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

void ServePingPong(int fd) {
  char request[kPingRequest];
  for (;;) {
    std::size_t have = 0;
    while (have < kPingRequest) {
      const std::size_t n = devserver::receiveSome(fd, request + have, kPingRequest - have);
      if (n == 0) return;
      have += n;
    }
    devserver::sendAll(fd, kPongReply, 0);
  }
}

void Answer(int fd, const devserver::Request& request) {
  using devserver::RequestType;
  static constexpr std::string_view kOk("<OK>\0", 5);
  switch (request.type) {
    case RequestType::kConnect:
    case RequestType::kCallbackAnswer:
    case RequestType::kMessageAck:
      return;
    case RequestType::kLogin:
      devserver::sendAll(fd, std::string_view("<OK>:1\0", 7), 0);
      return;
    case RequestType::kExecuteOutput: {
      std::uint64_t count = 0;
      if (ParseCount(request.first, count)) SendPattern(fd, count);
      devserver::sendAll(fd, std::string_view("\0<OK>\0", 6), 0);
      return;
    }
    case RequestType::kExecute: {
      std::uint64_t seconds = 0;
      const std::string_view line = request.first;
      if (line.starts_with("h ") && ParseCount(line.substr(2), seconds)) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
      }
      devserver::sendAll(fd, kOk, 0);
      return;
    }
    default:
      devserver::sendAll(fd, kOk, 0);
      return;
  }
}

void ServeReplies(int fd) {
  devserver::sendAll(fd, std::string_view("<OK>:1\0", 7), 0);
  devserver::RequestReader reader;
  devserver::Request request;
  std::string buffer(kSendPiece, '\0');
  for (;;) {
    switch (reader.next(request)) {
      case devserver::RequestReader::Status::kComplete:
        Answer(fd, request);
        continue;
      case devserver::RequestReader::Status::kInvalid:
        return;
      case devserver::RequestReader::Status::kNeedMore:
        break;
    }
    const std::size_t n = devserver::receiveSome(fd, buffer.data(), buffer.size());
    if (n == 0) return;
    reader.feed(std::string_view(buffer.data(), n));
  }
}

void ServeBulk(int fd, std::uint64_t total) {
  SendPattern(fd, total);
  ::shutdown(fd, SHUT_WR);
  // Wait for the client to close, so that every byte is read before the
  // socket goes away.
  char sink[256];
  while (devserver::receiveSome(fd, sink, sizeof sink) > 0) {
  }
}

int Usage() {
  std::cerr << "usage: kvrbench_peer pingpong | reply | bulk BYTES\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view mode = argv[1];
  std::uint64_t bulkBytes = 0;
  if (mode == "bulk" && (argc < 3 || !ParseCount(argv[2], bulkBytes))) return Usage();
  if (mode != "pingpong" && mode != "reply" && mode != "bulk") return Usage();

  UniqueFd listener = devserver::listenLoopback(0);
  std::cout << "listening on 127.0.0.1:" << devserver::localPort(listener.get()) << std::endl;
  for (;;) {
    bool exhausted = false;
    UniqueFd client = devserver::acceptConnection(listener.get(), exhausted);
    if (!client) {
      if (exhausted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    std::thread([fd = std::move(client), mode, bulkBytes] {
      try {
        if (mode == "pingpong") {
          ServePingPong(fd.get());
        } else if (mode == "reply") {
          ServeReplies(fd.get());
        } else {
          ServeBulk(fd.get(), bulkBytes);
        }
      } catch (const ConnectionLost&) {
        // The client went away: this connection ends, the server goes on.
      }
    }).detach();
  }
}
