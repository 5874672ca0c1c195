// Opening a connection across a network: host names and IPv6 addresses, the
// time limit of the connect and the greeting, and the reason every failed
// open leaves behind.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "connect_limit.h"
#include "kvr_connect.h"
#include "scripted_peer.h"

namespace kovra {
namespace {

using std::chrono::milliseconds;
using testing::ScriptedPeer;
using testing::Z;

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A listening socket on the loopback address of family (127.0.0.1 or ::1)
// with a port the kernel picks; -1 when the family is not available.
int Listen(int family, int backlog, int& port) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_storage storage{};
  socklen_t length;
  if (family == AF_INET6) {
    auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
    address->sin6_family = AF_INET6;
    address->sin6_addr = in6addr_loopback;
    length = sizeof *address;
  } else {
    auto* address = reinterpret_cast<sockaddr_in*>(&storage);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *address;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                  : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  return fd;
}

// A free port of 127.0.0.1 with nothing listening behind it.
int ClosedPort() {
  int port = 0;
  ::close(Listen(AF_INET, 1, port));
  return port;
}

std::string OpenFailure(const std::string& server, int port) {
  TKvrConnect c;
  c.SetServerAddress(server);
  c.SetServerPort(port);
  c.SetActive(true);
  EXPECT_FALSE(c.Active()) << server;
  EXPECT_EQ(c.Socket(), -1) << server;
  return c.ConnectFailure();
}

TEST(ConnectLimit, SecondsAreWholeOrWithAFractionAndPositive) {
  EXPECT_EQ(ParseSeconds("10"), milliseconds(10000));
  EXPECT_EQ(ParseSeconds("0.5"), milliseconds(500));
  EXPECT_EQ(ParseSeconds(".25"), milliseconds(250));
  EXPECT_EQ(ParseSeconds("0.0001"), milliseconds(1));  // rounded up, never to nothing
  EXPECT_EQ(ParseSeconds("1000000"), milliseconds(1000000000));
  for (const char* bad : {"", "0", "0.0", "-1", "1.", ".", "1e3", "10 ", " 10", "1000001", "abc", "1.2.3"}) {
    EXPECT_EQ(ParseSeconds(bad), std::nullopt) << bad;
  }
}

TEST(OpeningReasons, RefusedUnknownAndMalformedServersSayWhy) {
  const int port = ClosedPort();
  EXPECT_EQ(OpenFailure("127.0.0.1", port), "Connection refused");
  // Names under .invalid never resolve.
  EXPECT_EQ(OpenFailure("db.nosuch.invalid", port), "unknown host db.nosuch.invalid");
  EXPECT_EQ(OpenFailure("", port), "no server address given");
  EXPECT_EQ(OpenFailure("host name", port), "not a host name or an IP address: host name");
}

// The legacy forms of IPv4 addresses are never handed to the resolver, which
// would read them as addresses nobody wrote (127.1 is 127.0.0.1).
TEST(OpeningReasons, LegacyAddressFormsAreNeverDialled) {
  ScriptedPeer peer;
  peer.SetWaitLimitMs(300);
  peer.Send(Z("<OK>:j|"));
  peer.Start();
  for (const char* address : {"127.1", "2130706433", "0x7f.0.0.1", "127.0.0.1 ", "0177.0.0.1"}) {
    EXPECT_EQ(OpenFailure(address, peer.Port()), std::string("not a host name or an IP address: ") + address);
  }
  EXPECT_EQ(peer.Finish(), "no connection");
}

TEST(OpeningReasons, ConnectThatHangsEndsAtTheTimeLimit) {
  const ScopedVariable limit(kConnectTimeoutVariable, "0.3");
  // A listener whose queue is full drops every further SYN: a connect to it
  // neither succeeds nor fails, as behind a firewall that drops packets.
  int port = 0;
  const int listener = Listen(AF_INET, 0, port);
  ASSERT_GE(listener, 0);
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(OpenFailure("127.0.0.1", port), "connect timed out after 0.3 s");
  ::close(filler);
  ::close(listener);
}

TEST(OpeningReasons, SilentServerEndsAtTheGreetingLimit) {
  const ScopedVariable limit(kConnectTimeoutVariable, "0.3");
  // The kernel completes the connect of a listener that never accepts.
  int port = 0;
  const int listener = Listen(AF_INET, 4, port);
  ASSERT_GE(listener, 0);
  EXPECT_EQ(OpenFailure("127.0.0.1", port), "the server did not greet within 0.3 s");
  ::close(listener);
}

TEST(OpeningReasons, ServerSilentAtTheLoginStepEndsAtTheLimitToo) {
  const ScopedVariable limit(kConnectTimeoutVariable, "0.3");
  ScriptedPeer peer;
  peer.Send(Z("<CONNECT>:a:b|")).Expect(Z("lg:|")).Pause(1500);
  peer.Start();
  EXPECT_EQ(OpenFailure("127.0.0.1", peer.Port()), "the server did not answer the login within 0.3 s");
  peer.Finish();
}

TEST(OpeningReasons, ServerClosingOrRefusingInsteadOfGreetingSaysSo) {
  ScriptedPeer peer;
  peer.Close().Accept().Send(Z("<NO JOB>|"));
  peer.Start();
  EXPECT_EQ(OpenFailure("127.0.0.1", peer.Port()), "the server closed the connection without a greeting");
  EXPECT_EQ(OpenFailure("127.0.0.1", peer.Port()), "Can't create new job.");
  EXPECT_EQ(peer.Finish(), "");
}

TEST(OpeningReasons, UnusableTimeLimitFailsTheOpenWithoutDialling) {
  const ScopedVariable limit(kConnectTimeoutVariable, "soon");
  ScriptedPeer peer;
  peer.SetWaitLimitMs(300);
  peer.Start();
  EXPECT_EQ(OpenFailure("127.0.0.1", peer.Port()), "KOVRA_CONNECT_TIMEOUT is not a positive number of seconds: soon");
  EXPECT_EQ(peer.Finish(), "no connection");
}

// The limit bounds the opening only: a command may take longer.
TEST(OpeningLimit, WaitsAfterTheGreetingHaveNoLimit) {
  const ScopedVariable limit(kConnectTimeoutVariable, "0.2");
  ScriptedPeer peer;
  peer.Send(Z("<OK>:j|")).Expect(Z("r|1|x")).Pause(800).Send(Z("<GO ON>:2|ok<OK>|"));
  peer.Start();
  TKvrConnect c;
  c.SetServerAddress("127.0.0.1");
  c.SetServerPort(peer.Port());
  c.SetActive(true);
  ASSERT_TRUE(c.Active()) << c.ConnectFailure();
  EXPECT_EQ(c.ConnectFailure(), "");
  EXPECT_EQ(c.Read("x"), "ok");
  c.SetActive(false);
  EXPECT_EQ(peer.Finish(), "");
}

TEST(OpeningAddresses, HostNameIsLookedUp) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:j|"));
  peer.Start();
  TKvrConnect c;
  c.SetServerAddress("localhost");
  c.SetServerPort(peer.Port());
  c.SetActive(true);
  EXPECT_TRUE(c.Active()) << c.ConnectFailure();
  EXPECT_EQ(c.JobId(), "j");
  c.SetActive(false);
  EXPECT_EQ(peer.Finish(), "");
}

// An IPv6 server on ::1, written bare and in brackets.
TEST(OpeningAddresses, IPv6AddressIsDialled) {
  int port = 0;
  const int listener = Listen(AF_INET6, 4, port);
  if (listener < 0) GTEST_SKIP() << "no IPv6 loopback on this machine";
  std::thread greeter([listener] {
    for (int i = 0; i < 2; ++i) {
      pollfd p{listener, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) return;
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      const std::string greeting = Z("<OK>:six|");
      (void)::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
      pollfd closed{fd, POLLIN, 0};
      (void)::poll(&closed, 1, 5000);  // until the client closes
      ::close(fd);
    }
  });
  for (const char* server : {"::1", "[::1]"}) {
    TKvrConnect c;
    c.SetServerAddress(server);
    c.SetServerPort(port);
    c.SetActive(true);
    EXPECT_TRUE(c.Active()) << server << ": " << c.ConnectFailure();
    EXPECT_EQ(c.JobId(), "six") << server;
    c.SetActive(false);
  }
  greeter.join();
  ::close(listener);
}

}  // namespace
}  // namespace kovra
