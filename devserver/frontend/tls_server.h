// TLS on kvrdevserver's connections: one context for the server, loaded at
// start-up, and one session per connection, whose handshake runs on the
// connection's own thread so a slow or wrong client never holds up others.
// The sessions read and write the socket through the library's BIO
// (tls_socket_bio.h), which never raises SIGPIPE.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;

namespace devserver {

struct TlsFiles {
  std::string certificate;  // PEM chain, the server's own certificate first
  std::string key;          // PEM private key
  std::string clientCa;     // PEM roots for client certificates; empty: none asked
};

// One connection's session. The socket stays the caller's.
class TlsStream {
 public:
  struct Parts;
  explicit TlsStream(std::unique_ptr<Parts> parts);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // As receiveSome and sendAll of socket_io.h, through the session.
  std::size_t receiveSome(char* data, std::size_t size);
  void sendAll(std::string_view bytes, std::size_t segment);

 private:
  std::unique_ptr<Parts> parts_;
  ssl_st* ssl_;
};

class TlsContext {
 public:
  // Throws std::runtime_error with a one-line reason when a file cannot be
  // read or the key does not belong to the certificate.
  explicit TlsContext(const TlsFiles& files);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // Runs the server's handshake on fd within limit; null when the client
  // failed it (the caller then drops the client).
  std::unique_ptr<TlsStream> accept(int fd, std::chrono::milliseconds limit) const;

 private:
  ssl_ctx_st* context_;
};

// Frees what OpenSSL keeps for the calling thread. A connection's thread
// calls it before it lets the server know it has ended: a stopping server
// may exit as soon as the last connection has, and must not leave that
// memory behind.
void endTlsOnThisThread();

// The handshake's time limit: KOVRA_CONNECT_TIMEOUT seconds (as the client
// library reads it), 10 s when unset or not a positive number.
std::chrono::milliseconds handshakeLimit();

}  // namespace devserver
