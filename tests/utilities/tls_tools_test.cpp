// TLS through the utilities: the kvrct.ini keys tls, tls_ca, tls_cert and
// tls_key, and the library's KOVRA_TLS variables as the utilities' users set
// them. A failed TLS connect is a failed start-up (status 255).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "process.h"
#include "test_authority.h"

namespace kvrtest {
namespace {

const std::string kFailedConnect = "Failed to connect to Kovra Server at 127.0.0.1:";

class TlsToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.addLibrary();
    server_ = authority_.issue("server", "localhost", "DNS:localhost,IP:127.0.0.1");
  }

  static std::unique_ptr<DevServer> Server(const std::vector<std::string>& arguments) {
    ServerOptions options;
    options.arguments = arguments;
    return std::make_unique<DevServer>(options);
  }
  std::unique_ptr<DevServer> TlsServer(const IssuedCertificate& certificate, bool askClients = false) {
    std::vector<std::string> arguments = {"--tls-cert", certificate.certificate, "--tls-key", certificate.key};
    if (askClients) arguments.insert(arguments.end(), {"--tls-client-ca", authority_.root()});
    return Server(arguments);
  }

  // kvrct.ini for port with further [connection] lines.
  void Settings(int port, const std::string& lines) {
    dir_.write("kvrct.ini", "[connection]\nserver=127.0.0.1\nport=" + std::to_string(port) +
                                "\ndatabase=USER\n" + lines);
  }

  RunResult Exec(const std::map<std::string, std::string>& env = {}) {
    RunOptions options;
    options.cwd = dir_.path();
    options.env = env;
    RunResult result = runTool(toolPath("kvrdbexec"), {"w 6*7"}, options);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  TempDir dir_;
  TestAuthority authority_;
  IssuedCertificate server_;
};

TEST_F(TlsToolsTest, TheSettingsFileChoosesAVerifiedConnection) {
  auto server = TlsServer(server_);
  Settings(server->port(), "tls=verify-full\ntls_ca=" + authority_.root() + "\n");
  const RunResult r = Exec();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "42");
}

TEST_F(TlsToolsTest, TheEnvironmentServesWhenTheFileIsSilent) {
  auto server = TlsServer(server_);
  Settings(server->port(), "");
  const RunResult r = Exec({{"KOVRA_TLS", "verify-full"}, {"KOVRA_TLS_CA", authority_.root()}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "42");
}

TEST_F(TlsToolsTest, AKeyInTheFileWinsOverTheEnvironment) {
  // The file asks only for encryption: the name the certificate lacks does
  // not matter then, whatever the environment says.
  auto elsewhere = TlsServer(authority_.issue("elsewhere", "db.example.org", "DNS:db.example.org"));
  Settings(elsewhere->port(), "tls=require\n");
  const std::map<std::string, std::string> strict = {{"KOVRA_TLS", "verify-full"},
                                                     {"KOVRA_TLS_CA", authority_.root()}};
  RunResult r = Exec(strict);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  Settings(elsewhere->port(), "");
  r = Exec(strict);
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.starts_with(kFailedConnect)) << r.out;

  // An empty key in the file puts the default back: no TLS.
  auto plain = Server({});
  Settings(plain->port(), "tls=\n");
  r = Exec({{"KOVRA_TLS", "require"}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(TlsToolsTest, FailedVerificationsAreFailedStartUps) {
  const TestAuthority stranger;
  auto unknown = TlsServer(stranger.issue("server", "localhost", "IP:127.0.0.1"));
  auto expired = TlsServer(authority_.issue("expired", "localhost", "IP:127.0.0.1", -1));
  for (int port : {unknown->port(), expired->port()}) {
    Settings(port, "tls=verify-ca\ntls_ca=" + authority_.root() + "\n");
    const RunResult r = Exec();
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.out.starts_with(kFailedConnect + std::to_string(port))) << r.out;
  }
}

TEST_F(TlsToolsTest, PlainAndTlsDoNotMeet) {
  auto plain = Server({});
  Settings(plain->port(), "tls=require\n");
  RunResult r = Exec();
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.starts_with(kFailedConnect)) << r.out;

  // The server's handshake limit, from the same variable as the client's:
  // it drops the plain client, which waits for a greeting in clear.
  ::setenv("KOVRA_CONNECT_TIMEOUT", "1", 1);
  auto tls = TlsServer(server_);
  ::unsetenv("KOVRA_CONNECT_TIMEOUT");
  Settings(tls->port(), "");
  r = Exec();
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.starts_with(kFailedConnect)) << r.out;
}

TEST_F(TlsToolsTest, AClientCertificateFromTheSettingsFile) {
  auto server = TlsServer(server_, true);
  const std::string trust = "tls=verify-full\ntls_ca=" + authority_.root() + "\n";
  Settings(server->port(), trust);
  RunResult r = Exec();
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.starts_with(kFailedConnect)) << r.out;

  const IssuedCertificate client = authority_.issue("client", "kovra user", "");
  Settings(server->port(), trust + "tls_cert=" + client.certificate + "\ntls_key=" + client.key + "\n");
  r = Exec();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "42");
}

}  // namespace
}  // namespace kvrtest
