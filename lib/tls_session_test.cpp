// TLS through the library's C interface against kvrdevserver: each test
// makes its own certificate authority with the openssl command, starts a
// server with the certificate it needs and opens connections with the
// KOVRA_TLS variables set for this process.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kovrasc.h"
#include "kvr_connect.h"
#include "loopback_socket.h"
#include "process.h"
#include "test_authority.h"

namespace kvrtest {
namespace {

constexpr const char* kVariables[] = {"KOVRA_TLS",      "KOVRA_TLS_CA",          "KOVRA_TLS_CERT",
                                      "KOVRA_TLS_KEY",  "KOVRA_CONNECT_TIMEOUT", "KOVRA_TRACE"};

KOVRA_STR Record(const std::string& text) {
  KOVRA_STR record;
  record.len = static_cast<uint16_t>(text.size());
  std::memcpy(record.str, text.data(), text.size());
  return record;
}

std::string Text(const KOVRA_STR& record) { return std::string(record.str, record.len); }

// One handle; the connection's outcome and what it reads.
class Client {
 public:
  explicit Client(int port) : handle_(KVRCreateConnect("127.0.0.1", port, "USER")) {}
  ~Client() { KVRDestroyConnect(handle_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Open() { return KVRConnectOpen(handle_) == 1; }
  std::string LastError() const {
    KOVRA_STR error;
    KVRGetLastError(handle_, &error);
    return Text(error);
  }
  bool Write(const std::string& name, const std::string& value) {
    KOVRA_STR key = Record(name);
    KOVRA_STR text = Record(value);
    return KVRWrite(handle_, &key, &text) == 1;
  }
  std::optional<std::string> Read(const std::string& expression) {
    KOVRA_STR in = Record(expression);
    KOVRA_STR out;
    if (KVRRead(handle_, &in, &out) != 1) return std::nullopt;
    return Text(out);
  }

 private:
  void* handle_;
};

class TlsLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) ::unsetenv(name);
    serverCertificate_ = authority_.issue("server", "localhost", "DNS:localhost,IP:127.0.0.1");
  }
  void TearDown() override {
    for (const char* name : kVariables) ::unsetenv(name);
  }

  static void Set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

  // kvrdevserver with TLS on every connection.
  static std::unique_ptr<DevServer> TlsServer(const IssuedCertificate& certificate,
                                              const std::string& clientCa = "") {
    ServerOptions options;
    options.arguments = {"--tls-cert", certificate.certificate, "--tls-key", certificate.key};
    if (!clientCa.empty()) options.arguments.insert(options.arguments.end(), {"--tls-client-ca", clientCa});
    return std::make_unique<DevServer>(options);
  }

  // Opens a connection with the variables as set; "" when it worked and
  // carried a read, else the last error.
  static std::string Outcome(int port) {
    Client client(port);
    if (!client.Open()) return client.LastError();
    const std::optional<std::string> value = client.Read("6*7");
    if (value != "42") return "read gave " + value.value_or("nothing") + ": " + client.LastError();
    return "";
  }

  TestAuthority authority_;
  IssuedCertificate serverCertificate_;
};

TEST_F(TlsLibraryTest, AVerifiedChainCarriesTheProtocolAndTheTraceNamesTheSession) {
  auto server = TlsServer(serverCertificate_);
  TempDir dir;
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  Set("KOVRA_TRACE", dir.file("trace"));
  EXPECT_EQ(Outcome(server->port()), "");

  const std::string trace = dir.read("trace");
  EXPECT_NE(trace.find(" ! TLS TLSv1.3 TLS_"), std::string::npos) << trace;
  EXPECT_NE(trace.find(", server certificate CN=localhost\n"), std::string::npos) << trace;
  // The protocol bytes as without TLS: the read request and its answer.
  EXPECT_NE(trace.find(" > r\\x003\\x006*7\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" < <GO ON>:2\\x0042\n"), std::string::npos) << trace;

  // verify-ca and require work with the same server as well.
  for (const char* mode : {"verify-ca", "require"}) {
    Set("KOVRA_TLS", mode);
    EXPECT_EQ(Outcome(server->port()), "") << mode;
  }
}

// Replies cut into many small records, several of which arrive in one read
// (the greeting among them, while the opening's time limit watches the
// socket), and a request longer than one record: the protocol sees the bytes
// as in clear.
TEST_F(TlsLibraryTest, ManySmallRecordsAndARequestLongerThanARecordCarryTheProtocol) {
  ServerOptions options;
  options.arguments = {"--tls-cert", serverCertificate_.certificate,
                       "--tls-key",  serverCertificate_.key,
                       "--segment",  "3"};
  DevServer server(options);
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  Set("KOVRA_CONNECT_TIMEOUT", "5");
  Client client(server.port());
  ASSERT_TRUE(client.Open()) << client.LastError();
  EXPECT_EQ(client.Read("6*7"), "42");

  // 30000 bytes: two records from the client, ten thousand back.
  std::string value(30000, 'y');
  for (std::size_t i = 0; i < value.size(); i += 1000) {
    value[i] = static_cast<char>('a' + i / 1000 % 26);
  }
  ASSERT_TRUE(client.Write("big", value)) << client.LastError();
  EXPECT_EQ(client.Read("$l(big)"), "30000");
  const std::optional<std::string> back = client.Read("big");
  ASSERT_TRUE(back.has_value()) << client.LastError();
  EXPECT_TRUE(*back == value) << "a value of " << back->size() << " bytes came back different";
  EXPECT_EQ(client.Read("$e(big,29001,29003)"), "dyy");
}

TEST_F(TlsLibraryTest, AWrongHostNameFailsOnlyTheFullVerification) {
  const IssuedCertificate elsewhere = authority_.issue("elsewhere", "db.example.org", "DNS:db.example.org");
  auto server = TlsServer(elsewhere);
  Set("KOVRA_TLS_CA", authority_.root());
  Set("KOVRA_TLS", "verify-full");
  EXPECT_EQ(Outcome(server->port()), "TLS: certificate verify failed: IP address mismatch");
  Set("KOVRA_TLS", "verify-ca");
  EXPECT_EQ(Outcome(server->port()), "");
}

TEST_F(TlsLibraryTest, AnUnknownIssuerFailsVerificationButNotEncryption) {
  const TestAuthority stranger;
  auto server = TlsServer(stranger.issue("server", "localhost", "DNS:localhost,IP:127.0.0.1"));
  Set("KOVRA_TLS_CA", authority_.root());
  for (const char* mode : {"verify-ca", "verify-full"}) {
    Set("KOVRA_TLS", mode);
    EXPECT_EQ(Outcome(server->port()), "TLS: certificate verify failed: unable to get local issuer certificate")
        << mode;
  }
  Set("KOVRA_TLS", "require");
  EXPECT_EQ(Outcome(server->port()), "");
}

TEST_F(TlsLibraryTest, AnExpiredCertificateIsRefused) {
  auto server = TlsServer(authority_.issue("expired", "localhost", "DNS:localhost,IP:127.0.0.1", -1));
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  EXPECT_EQ(Outcome(server->port()), "TLS: certificate verify failed: certificate has expired");
}

// Names cannot be dialled yet, so the test opens over a socket of its own
// and names the host the certificate is checked against.
TEST_F(TlsLibraryTest, AHostNameIsCheckedAgainstTheCertificatesNames) {
  auto server = TlsServer(serverCertificate_);
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  kovra::TKvrConnect named;
  named.SetServerAddress("localhost");
  named.OpenOnSocket(connectLoopback(server->port()));
  ASSERT_TRUE(named.Active()) << named.ConnectFailure();
  EXPECT_EQ(named.Read("1+1"), "2");

  kovra::TKvrConnect misnamed;
  misnamed.SetServerAddress("db.example.org");
  misnamed.OpenOnSocket(connectLoopback(server->port()));
  EXPECT_FALSE(misnamed.Active());
  EXPECT_EQ(misnamed.ConnectFailure(), "TLS: certificate verify failed: hostname mismatch");
  EXPECT_EQ(misnamed.Socket(), -1);
}

// A listener that stands in for a plain server: it greets as soon as a client
// connects (or stays silent) and keeps every byte the client sends.
class PlainPeer {
 public:
  explicit PlainPeer(bool greets) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this, greets] { Serve(greets); });
  }
  ~PlainPeer() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int port() const { return port_; }
  // The bytes the client sent, once it has closed (or after 20 s).
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void Serve(bool greets) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 20000) != 1) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    if (greets) sendAll(fd, "<OK>:1\0", 7);
    char buffer[4096];
    for (int reads = 0; reads < 1000; ++reads) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20000) != 1) break;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::string received_;
  std::thread thread_;
};

// A TLS server that finishes the handshake, then sends the header of a
// record and part of its body, and nothing more: the client holds part of a
// record that will never be whole.
class HalfRecordPeer {
 public:
  explicit HalfRecordPeer(const IssuedCertificate& certificate) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this, certificate] { Serve(certificate); });
  }
  ~HalfRecordPeer() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int port() const { return port_; }
  bool HandshakeDone() {
    if (thread_.joinable()) thread_.join();
    return handshakeDone_;
  }

 private:
  void Serve(const IssuedCertificate& certificate) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 20000) != 1) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    const timeval limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(context, certificate.certificate.c_str());
    SSL_CTX_use_PrivateKey_file(context, certificate.key.c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    handshakeDone_ = SSL_accept(ssl) == 1;
    if (handshakeDone_) {
      // Application data, 64 bytes long; 10 of them come.
      const std::string part = std::string("\x17\x03\x03\x00\x40", 5) + "0123456789";
      sendAll(fd, part.data(), part.size());
      char buffer[4096];
      for (int reads = 0; reads < 1000; ++reads) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1 || ::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
      }
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    ::close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  bool handshakeDone_ = false;
  std::thread thread_;
};

// The opening's time limit holds while part of a record waits for the rest.
TEST_F(TlsLibraryTest, AGreetingThatStopsInsideARecordEndsWithinTheLimit) {
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  Set("KOVRA_CONNECT_TIMEOUT", "1");
  HalfRecordPeer peer(serverCertificate_);
  EXPECT_EQ(Outcome(peer.port()), "the server did not greet within 1 s");
  EXPECT_TRUE(peer.HandshakeDone());
}

TEST_F(TlsLibraryTest, APlainServerGetsNoProtocolByteInClear) {
  Set("KOVRA_TLS", "require");
  PlainPeer greeter(true);
  EXPECT_EQ(Outcome(greeter.port()), "TLS: the server did not answer the TLS handshake");
  const std::string sent = greeter.Received();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent.substr(0, 2), std::string("\x16\x03", 2)) << "not a TLS handshake record";
  EXPECT_EQ(sent.find("zn"), std::string::npos);

  // A server that says nothing at all: the handshake's time limit ends it.
  Set("KOVRA_CONNECT_TIMEOUT", "1");
  PlainPeer silent(false);
  EXPECT_EQ(Outcome(silent.port()), "TLS: the server did not answer the TLS handshake within 1 s");
}

TEST_F(TlsLibraryTest, APlainClientIsDroppedAndTheServerGoesOn) {
  // The server's handshake limit comes from the same variable.
  Set("KOVRA_CONNECT_TIMEOUT", "1");
  auto server = TlsServer(serverCertificate_);
  EXPECT_NE(Outcome(server->port()), "");  // waits for a greeting that never comes
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  EXPECT_EQ(Outcome(server->port()), "");
}

TEST_F(TlsLibraryTest, AServerThatAsksForAClientCertificateGetsOne) {
  auto server = TlsServer(serverCertificate_, authority_.root());
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  const std::string missing = Outcome(server->port());
  EXPECT_TRUE(missing.starts_with("TLS: ") && missing.find("certificate required") != std::string::npos)
      << missing;

  const TestAuthority stranger;
  const IssuedCertificate unknown = stranger.issue("client", "intruder", "");
  Set("KOVRA_TLS_CERT", unknown.certificate);
  Set("KOVRA_TLS_KEY", unknown.key);
  const std::string refused = Outcome(server->port());
  EXPECT_TRUE(refused.starts_with("TLS: ") && refused.find("unknown ca") != std::string::npos) << refused;

  const IssuedCertificate client = authority_.issue("client", "kovra user", "");
  Set("KOVRA_TLS_CERT", client.certificate);
  Set("KOVRA_TLS_KEY", client.key);
  EXPECT_EQ(Outcome(server->port()), "");
}

TEST_F(TlsLibraryTest, SettingsThatCannotBeHonouredFailTheConnect) {
  auto server = TlsServer(serverCertificate_);
  Set("KOVRA_TLS", "maybe");
  EXPECT_EQ(Outcome(server->port()),
            "TLS: KOVRA_TLS is 'maybe'; it must be off, require, verify-ca or verify-full");
  Set("KOVRA_TLS", "verify-ca");
  Set("KOVRA_TLS_CA", authority_.file("missing.pem"));
  EXPECT_EQ(Outcome(server->port()), "TLS: cannot read the trusted certificates in " +
                                         authority_.file("missing.pem") + ": No such file or directory");
  Set("KOVRA_TLS_CA", authority_.root());
  const IssuedCertificate client = authority_.issue("client", "kovra user", "");
  Set("KOVRA_TLS_CERT", client.certificate);
  Set("KOVRA_TLS_KEY", serverCertificate_.key);
  EXPECT_EQ(Outcome(server->port()), "TLS: the client key in " + serverCertificate_.key +
                                         " does not belong to the certificate in " + client.certificate);
  // Upper case words are the same words.
  ::unsetenv("KOVRA_TLS_CERT");
  ::unsetenv("KOVRA_TLS_KEY");
  Set("KOVRA_TLS", "VERIFY-FULL");
  EXPECT_EQ(Outcome(server->port()), "");
}

// Several threads, a handle and a TLS session each, against one server: the
// ThreadSanitizer pass runs this too.
TEST_F(TlsLibraryTest, ThreadsWithAHandleEachShareNothing) {
  auto server = TlsServer(serverCertificate_);
  Set("KOVRA_TLS", "verify-full");
  Set("KOVRA_TLS_CA", authority_.root());
  constexpr int kThreads = 4;
  std::vector<std::string> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Client client(server->port());
      if (!client.Open()) {
        outcomes[t] = client.LastError();
        return;
      }
      for (int i = 0; i < 20; ++i) {
        const std::string expected = std::to_string(t * 100 + i);
        if (client.Read(std::to_string(t * 100) + "+" + std::to_string(i)) != expected) {
          outcomes[t] = "wrong value at " + expected;
          return;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(outcomes[t], "") << "thread " << t;
}

TEST(TlsServerStartTest, UnreadableOrMismatchedFilesAreOneLineAtStart) {
  const TestAuthority authority;
  const IssuedCertificate server = authority.issue("server", "localhost", "DNS:localhost");
  const IssuedCertificate other = authority.issue("other", "localhost", "DNS:localhost");
  RunOptions options;
  options.timeout = std::chrono::seconds(20);
  const std::string missing = authority.file("missing.pem");
  const RunResult unreadable = runTool(
      toolPath("kvrdevserver"), {"--port", "0", "--tls-cert", missing, "--tls-key", server.key}, options);
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_EQ(unreadable.err,
            "kvrdevserver: cannot read the TLS certificate " + missing + ": No such file or directory\n");
  const RunResult mismatched = runTool(
      toolPath("kvrdevserver"),
      {"--port", "0", "--tls-cert", server.certificate, "--tls-key", other.key}, options);
  EXPECT_EQ(mismatched.status, 1);
  EXPECT_EQ(mismatched.err, "kvrdevserver: the TLS key " + other.key +
                                " does not belong to the certificate " + server.certificate + "\n");
  const RunResult noAuthorities = runTool(
      toolPath("kvrdevserver"),
      {"--port", "0", "--tls-cert", server.certificate, "--tls-key", server.key, "--tls-client-ca", missing},
      options);
  EXPECT_EQ(noAuthorities.status, 1);
  EXPECT_EQ(noAuthorities.err, "kvrdevserver: cannot read the client certificate authorities " + missing +
                                   ": No such file or directory\n");
}

}  // namespace
}  // namespace kvrtest
