// The relay between two socket pairs: client <-> [relay] <-> server. Every
// read waits on poll with a limit, so a relay that loses bytes fails the
// test instead of hanging it.
#include "relay_link.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kDelay(20);
constexpr int kReadLimitMs = 10000;

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 256);
  return bytes;
}

class RelayLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int clientPair[2];
    int serverPair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, clientPair), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, serverPair), 0);
    client_ = clientPair[0];
    relayClientSide_ = clientPair[1];
    server_ = serverPair[0];
    relayServerSide_ = serverPair[1];
    relay_ = std::thread(
        [this] { kvrbench::RelayConnection(relayClientSide_, relayServerSide_, kDelay); });
  }

  void TearDown() override {
    CloseClient();
    CloseServer();
    // Both ends closed: the relay forwards both ends of stream and returns.
    relay_.join();
    ::close(relayClientSide_);
    ::close(relayServerSide_);
  }

  static void Write(int fd, const std::string& bytes, std::size_t piece) {
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t size = std::min(piece, bytes.size() - at);
      const ssize_t n = ::send(fd, bytes.data() + at, size, MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      at += static_cast<std::size_t>(n);
    }
  }

  // Reads until size bytes or the end of the stream have arrived.
  static std::string Read(int fd, std::size_t size) {
    std::string got;
    char buffer[65536];
    while (got.size() < size) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, kReadLimitMs) != 1) break;
      const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, size - got.size()), 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  // True when the stream ends (recv reads 0) within the read limit.
  static bool ReadsEnd(int fd) {
    pollfd ready{fd, POLLIN, 0};
    char byte;
    return ::poll(&ready, 1, kReadLimitMs) == 1 && ::recv(fd, &byte, 1, 0) == 0;
  }

  void CloseClient() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  void CloseServer() {
    if (server_ >= 0) ::close(server_);
    server_ = -1;
  }

  int client_ = -1;
  int server_ = -1;
  int relayClientSide_ = -1;
  int relayServerSide_ = -1;
  std::thread relay_;
};

TEST_F(RelayLinkTest, DelaysEachWayByAtLeastTheDelay) {
  const Clock::time_point sent = Clock::now();
  Write(client_, "request", 64);
  EXPECT_EQ(Read(server_, 7), "request");
  const Clock::time_point arrived = Clock::now();
  EXPECT_GE(arrived - sent, kDelay);

  Write(server_, "reply", 64);
  EXPECT_EQ(Read(client_, 5), "reply");
  EXPECT_GE(Clock::now() - arrived, kDelay);
}

TEST_F(RelayLinkTest, KeepsOrderAndBytesOfOneByteWritesBothWays) {
  const std::string up = Pattern(600, 1);
  const std::string down = Pattern(600, 7);
  Write(client_, up, 1);
  Write(server_, down, 1);
  EXPECT_EQ(Read(server_, up.size()), up);
  EXPECT_EQ(Read(client_, down.size()), down);
}

// More than the relay holds in flight and than the sockets buffer: both
// ways at once, so the relay must keep reading one side while the other
// side's receiver is full.
TEST_F(RelayLinkTest, KeepsLargeWritesWholeBothWaysAtOnce) {
  const std::string up = Pattern(6 * 1024 * 1024, 3);
  const std::string down = Pattern(6 * 1024 * 1024, 5);
  std::thread upWriter([&] { Write(client_, up, up.size()); });
  std::thread downWriter([&] { Write(server_, down, down.size()); });
  std::string gotDown;
  std::thread downReader([&] { gotDown = Read(client_, down.size()); });
  const std::string gotUp = Read(server_, up.size());
  downReader.join();
  upWriter.join();
  downWriter.join();
  EXPECT_TRUE(gotUp == up) << "upstream: " << gotUp.size() << " of " << up.size() << " bytes";
  EXPECT_TRUE(gotDown == down) << "downstream: " << gotDown.size() << " of " << down.size() << " bytes";
}

TEST_F(RelayLinkTest, ClientCloseReachesServerAfterItsData) {
  Write(client_, "last words", 64);
  CloseClient();
  EXPECT_EQ(Read(server_, 10), "last words");
  EXPECT_TRUE(ReadsEnd(server_));
}

TEST_F(RelayLinkTest, ServerCloseReachesClient) {
  const Clock::time_point closed = Clock::now();
  CloseServer();
  EXPECT_TRUE(ReadsEnd(client_));
  EXPECT_GE(Clock::now() - closed, kDelay);
}

// A client that ends its requests may still read the reply.
TEST_F(RelayLinkTest, HalfClosedClientStillGetsTheReply) {
  Write(client_, "question", 64);
  ASSERT_EQ(::shutdown(client_, SHUT_WR), 0);
  EXPECT_EQ(Read(server_, 8), "question");
  EXPECT_TRUE(ReadsEnd(server_));
  Write(server_, "answer", 64);
  CloseServer();
  EXPECT_EQ(Read(client_, 6), "answer");
  EXPECT_TRUE(ReadsEnd(client_));
}

}  // namespace
