// kvrdbexec never sends a cut line and fails on a command file it cannot
// read; the start-up refuses a port that is not one, and a login check that
// loses the connection or is refused fails the start-up with a word why.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cutting_proxy.h"
#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

constexpr const char* kExecUsageHead = "Kovra CommandLine Tools.\nExecute one or series of line[s] of MUMPS commands.\n";

class ExecAndStartupTest : public PlainFilesTest {};

// A line of more than a call can carry whose first 32768 bytes end in
// "k ^DEMO": sent cut, it would kill the whole global.
std::string LineCutAfterKill() {
  const std::string head = "s x=\"";
  const std::string tail = "\" k ^DEMO";
  return head + std::string(32768 - head.size() - tail.size(), 'x') + tail + "(1)";
}

TEST_F(ExecAndStartupTest, ALineTooLongForOneCallIsReportedAndNeverSent) {
  M("s ^DEMO(1)=1,^DEMO(2)=2");
  const std::string line = LineCutAfterKill();
  RunResult r = Run("kvrdbexec", {line});
  EXPECT_EQ(r.err, "\nError while execute line\n" + line +
                       "\nNot sent: a text of 32771 bytes does not fit in one call (at most 32768 bytes).\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Value("$d(^DEMO(1))_$d(^DEMO(2))"), "11");

  // From a file the lines around it still run, whole.
  Write("cmds.m", "w \"before\"\n" + line + "\nw \"after\"\n");
  r = Run("kvrdbexec", {"@cmds.m"});
  EXPECT_EQ(r.out, "beforeafter");
  EXPECT_NE(r.err.find("Not sent: a text of 32771 bytes"), std::string::npos) << r.err.substr(0, 200);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Value("$d(^DEMO(1))_$d(^DEMO(2))"), "11");
}

TEST_F(ExecAndStartupTest, ACommandFileThatCannotBeOpenedOrIsAFolderFailsTheRun) {
  ASSERT_EQ(mkdir(dir_.file("folder").c_str(), 0755), 0);
  for (const char* name : {"nofile", "folder"}) {
    const RunResult r = Run("kvrdbexec", {std::string("@") + name});
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("Error while opening file " + std::string(name) + ".\n" + kExecUsageHead))
        << r.err;
    EXPECT_EQ(r.status, 1) << name;
  }
}

// A listener on an ephemeral loopback port, to see whether a utility dials.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      ADD_FAILURE() << "listener";
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  int port() const { return port_; }
  bool dialled() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(ExecAndStartupTest, APortThatIsNotANumberFrom1To65535DialsNothing) {
  const Listener listener;
  // The old reading took the leading digits and let the library wrap them,
  // so listener.port() + 65536 reached the listener.
  for (const std::string& port : {std::to_string(listener.port() + 65536), std::string("abc"), std::string("0"),
                                 std::to_string(listener.port()) + "x", std::string("-1")}) {
    const RunResult r = Run("kvrdbexec", {"-s", "127.0.0.1", "-p", port, "w 1"});
    EXPECT_EQ(r.out, "Failed to connect to Kovra Server at 127.0.0.1:" + port + ", database USER.\n");
    EXPECT_TRUE(r.err.starts_with("port " + port + " is not a number from 1 to 65535\n" + kExecUsageHead)) << r.err;
    EXPECT_EQ(r.status, 255) << port;
  }
  EXPECT_FALSE(listener.dialled());
}

TEST_F(ExecAndStartupTest, AConnectionLostDuringTheLoginCheckFailsTheStartUp) {
  CuttingProxy proxy(server_->port(), "ReadString^%INI", 0, CuttingProxy::AtTrigger::kCut);
  const RunResult r = Run("kvrdbexec", {"-p", std::to_string(proxy.port()), "w 1"});
  EXPECT_TRUE(proxy.triggered());
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("Connection lost during the login check: ")) << r.err;
  EXPECT_NE(r.err.find("\n" + std::string(kExecUsageHead)), std::string::npos) << r.err;
  EXPECT_EQ(r.status, 255);
}

}  // namespace
}  // namespace kvrtest
