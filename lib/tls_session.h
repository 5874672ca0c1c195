// TLS under the wire protocol: when the environment asks for it, the socket
// of a new connection is wrapped in a client TLS session before the first
// byte of the protocol, and every send and receive of the connection then
// goes through the session. The protocol above never knows.
//
// Chosen when a connection opens, from the environment (the C interface has
// no place for settings):
//   KOVRA_TLS       off (default) | require (encrypt, no verification) |
//                   verify-ca (the chain) | verify-full (chain and host)
//   KOVRA_TLS_CA    PEM file of trusted roots (default: the system's)
//   KOVRA_TLS_CERT  client certificate (PEM), for servers that ask for one
//   KOVRA_TLS_KEY   its private key (default: the certificate's file)
//   KOVRA_CONNECT_TIMEOUT  seconds the handshake may take (default 10)
// Failures are worded "TLS: ..." for the connection's last error; nothing is
// ever printed.
#pragma once

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "socket_transport.h"

namespace kovra::tls {

enum class TTlsMode { tmOff, tmRequire, tmVerifyCa, tmVerifyFull };

struct TTlsSettings {
  TTlsMode mode = TTlsMode::tmOff;
  std::string caFile;
  std::string certFile;
  std::string keyFile;
  std::chrono::milliseconds handshakeLimit{10000};
  // Set when the environment asks for something that cannot be done (an
  // unknown KOVRA_TLS word): the connection must fail rather than fall back
  // to clear text.
  std::string problem;
};

// The settings the environment asks for now.
TTlsSettings SettingsFromEnvironment();

// The time limit of KOVRA_CONNECT_TIMEOUT (seconds, may have a fraction);
// 10 s when unset or not a positive number.
std::chrono::milliseconds ConnectTimeLimit();

// "10 s", "0.5 s": a time limit as the failure texts word it.
std::string DescribeLimit(std::chrono::milliseconds limit);

class TTlsSession {
 public:
  // Runs the client handshake on fd (a connected socket, which stays the
  // caller's) within settings.handshakeLimit. host is what the client
  // dialled: sent as SNI unless it is an IP address, and checked against the
  // certificate with verify-full. Null on failure, with failure set.
  static std::unique_ptr<TTlsSession> Start(int fd, std::string_view host,
                                            const TTlsSettings& settings, std::string& failure);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  // As net::SendAll and net::ReceiveSome, through the session.
  bool SendAll(std::string_view bytes);
  net::ReadResult ReceiveSome(std::span<char> into);
  // The same, but kTimedOut once limit has passed with no byte to hand over,
  // even when part of a record has come (a plain wait for the socket would
  // block in the read for the rest of it; bytes the session holds already
  // need no wait at all).
  net::ReadResult ReceiveWithin(std::span<char> into, const TConnectLimit& limit);

  // Sends the closing alert (best effort; never blocks for an answer).
  void Close();

  // For the wire trace: protocol version, cipher and the subject of the
  // server's certificate.
  std::string Describe() const;
  // Why the last send or receive failed ("TLS: ..."); empty when the peer
  // simply went away.
  const std::string& Failure() const { return failure_; }

 private:
  struct Parts;
  explicit TTlsSession(std::unique_ptr<Parts> parts);

  std::unique_ptr<Parts> parts_;
  std::string failure_;
};

}  // namespace kovra::tls
