// A reason for every failed start-up, after the fixed message, and the
// server given by name or by IPv6 address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback_socket.h"
#include "tool_fixture.h"

namespace kvrtest {
namespace {

constexpr const char* kUsageStart = "Kovra CommandLine Tools.\nExecute one or series";

class ConnectReasonsTest : public ToolTest {
 protected:
  RunResult Exec(const std::vector<std::string>& args, const std::string& limit = "") {
    RunOptions options;
    options.cwd = dir_.path();
    if (!limit.empty()) options.env["KOVRA_CONNECT_TIMEOUT"] = limit;
    RunResult result = runTool(toolPath("kvrdbexec"), args, options);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  // The fixed message on standard output, the reason first on standard
  // error, then the usage text, status 255.
  void ExpectFailure(const RunResult& r, const std::string& server, const std::string& port,
                     const std::string& database, const std::string& reason) {
    EXPECT_EQ(r.out, "Failed to connect to Kovra Server at " + server + ":" + port + ", database " + database + ".\n");
    EXPECT_TRUE(r.err.starts_with(reason + "\n" + kUsageStart)) << r.err;
    EXPECT_EQ(r.status, 255);
  }
};

TEST_F(ConnectReasonsTest, RefusedUnknownHostBadPortAndUnknownDatabaseSayWhy) {
  int closedPort = 0;
  close(listenOnLoopback(closedPort));
  const std::string closed = std::to_string(closedPort);
  ExpectFailure(Exec({"-p", closed, "w 1"}), "127.0.0.1", closed, "USER", "Connection refused");
  ExpectFailure(Exec({"-s", "db.nosuch.invalid", "w 1"}), "db.nosuch.invalid", std::to_string(server_->port()),
                "USER", "unknown host db.nosuch.invalid");
  ExpectFailure(Exec({"-p", "70000", "w 1"}), "127.0.0.1", "70000", "USER", "port 70000 is not a number from 1 to 65535");
  const std::string port = std::to_string(server_->port());
  ExpectFailure(Exec({"-d", "NOSUCH", "w 1"}), "127.0.0.1", port, "NOSUCH", "database NOSUCH does not exist");
  ExpectFailure(Exec({"w 1"}, "never"), "127.0.0.1", port, "USER",
                "KOVRA_CONNECT_TIMEOUT is not a positive number of seconds: never");
}

// A listener on 127.0.0.1 that never accepts, with room for backlog + 1
// queued connections; -1 when it cannot be made.
int silentListener(int backlog, int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// A port where the kernel completes the connect but nothing ever speaks.
TEST_F(ConnectReasonsTest, SilentServerEndsAtTheGreetingLimit) {
  int port = 0;
  const int listener = silentListener(4, port);
  ASSERT_GE(listener, 0);
  const std::string text = std::to_string(port);
  ExpectFailure(Exec({"-p", text, "w 1"}, "1"), "127.0.0.1", text, "USER", "the server did not greet within 1 s");
  close(listener);
}

// A port where the connect itself hangs: a listener whose queue one
// connection fills drops the packets of the next, as a firewall does.
TEST_F(ConnectReasonsTest, HangingConnectEndsAtTheTimeLimit) {
  int port = 0;
  const int listener = silentListener(0, port);
  ASSERT_GE(listener, 0);
  const int filler = connectLoopback(port);
  ASSERT_GE(filler, 0);
  const std::string text = std::to_string(port);
  ExpectFailure(Exec({"-p", text, "w 1"}, "0.5"), "127.0.0.1", text, "USER", "connect timed out after 0.5 s");
  close(filler);
  close(listener);
}

TEST_F(ConnectReasonsTest, ServerGivenByName) {
  const RunResult r = Exec({"-s", "localhost", "w 6*7"});
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(ConnectIPv6Test, ServerOnAnIPv6Address) {
  std::unique_ptr<DevServer> server;
  try {
    ServerOptions options;
    options.arguments = {"--listen", "::1"};
    server = std::make_unique<DevServer>(options);
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback: " << e.what();
  }
  TempDir dir;
  RunOptions options;
  options.cwd = dir.path();
  for (const std::string& address : {std::string("::1"), std::string("[::1]")}) {
    const RunResult r =
        runTool(toolPath("kvrdbexec"), {"-s", address, "-p", std::to_string(server->port()), "-d", "USER", "w 6*7"},
                options);
    EXPECT_EQ(r.out, "42") << address << ": " << r.err;
    EXPECT_EQ(r.status, 0);
  }
}

}  // namespace
}  // namespace kvrtest
