#include "tls_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "tls_reason.h"
#include "tls_socket_bio.h"

namespace kovra::tls {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSuites =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
constexpr std::size_t kReadBuffer = 64 * 1024;

}  // namespace

// The owners of the OpenSSL objects a session holds. Not file-local: a
// member of the session's parts may not have a type of an unnamed namespace
// (a unity build includes this file in another).
namespace session_parts {

struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MethodFree {
  void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

}  // namespace session_parts

// Freed in reverse order: the session before the method its BIO uses.
struct TTlsSession::Parts {
  wire::TTlsSocketPeer peer;
  std::unique_ptr<SSL_CTX, session_parts::ContextFree> context;
  std::unique_ptr<BIO_METHOD, session_parts::MethodFree> method;
  std::unique_ptr<SSL, session_parts::SslFree> ssl;
};

namespace {

std::string QueuedReason(const char* fallback, unsigned long* lastCode = nullptr) {
  return wire::QueuedTlsReason(fallback, lastCode);
}

bool IsIpAddress(std::string_view host) {
  const std::string text(host);
  unsigned char address[16];
  return ::inet_pton(AF_INET, text.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, text.c_str(), address) == 1;
}

// The context of one connection: the protocol floor, no renegotiation, and
// what the settings ask to trust and to present. "" when it is ready.
std::string Configure(SSL_CTX* context, const TTlsSettings& settings) {
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
  // The suites OpenSSL offers by default, AES-128-GCM first: as safe, and
  // the cheapest per record where the processor has AES instructions.
  SSL_CTX_set_ciphersuites(context, kSuites);
  // Read whatever the socket holds, not a record header and then its body:
  // one recv per reply instead of two, and several records of a long reply
  // at once.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_default_read_buffer_len(context, kReadBuffer);
  if (settings.mode == TTlsMode::tmRequire) {
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  } else {
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    const bool loaded = settings.caFile.empty()
                            ? SSL_CTX_set_default_verify_paths(context) == 1
                            : SSL_CTX_load_verify_locations(context, settings.caFile.c_str(), nullptr) == 1;
    if (!loaded) {
      return "TLS: cannot read the trusted certificates " +
             (settings.caFile.empty() ? std::string("of the system") : "in " + settings.caFile) +
             ": " + QueuedReason("no certificates");
    }
  }
  if (!settings.certFile.empty()) {
    if (SSL_CTX_use_certificate_chain_file(context, settings.certFile.c_str()) != 1) {
      return "TLS: cannot read the client certificate in " + settings.certFile + ": " +
             QueuedReason("no certificate");
    }
    if (SSL_CTX_use_PrivateKey_file(context, settings.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      unsigned long code = 0;
      const std::string reason = QueuedReason("no key", &code);
      if (ERR_GET_REASON(code) != X509_R_KEY_VALUES_MISMATCH) {
        return "TLS: cannot read the client key in " + settings.keyFile + ": " + reason;
      }
    }
    if (SSL_CTX_check_private_key(context) != 1) {
      ERR_clear_error();
      return "TLS: the client key in " + settings.keyFile + " does not belong to the certificate in " +
             settings.certFile;
    }
  }
  return {};
}

// Who the server must prove to be: the name for SNI, and with verify-full
// the name or address its certificate must carry.
std::string Address(SSL* ssl, std::string_view host, const TTlsSettings& settings) {
  const std::string name(host);
  const bool literal = IsIpAddress(host);
  if (!literal && !name.empty() && SSL_set_tlsext_host_name(ssl, name.c_str()) != 1) {
    return "TLS: cannot send the host name " + name + ": " + QueuedReason("refused");
  }
  if (settings.mode != TTlsMode::tmVerifyFull) return {};
  const bool set = literal ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) == 1
                           : SSL_set1_host(ssl, name.c_str()) == 1;
  if (!set) return "TLS: cannot check the server against '" + name + "'";
  return {};
}

// The words for a handshake that failed with SSL error kind.
std::string HandshakeFailure(SSL* ssl, int kind, const wire::TTlsSocketPeer& peer) {
  const long verify = SSL_get_verify_result(ssl);
  unsigned long last = 0;
  for (unsigned long code; (code = ERR_get_error()) != 0;) last = code;
  if (ERR_GET_REASON(last) == SSL_R_CERTIFICATE_VERIFY_FAILED && verify != X509_V_OK) {
    return std::string("TLS: certificate verify failed: ") + X509_verify_cert_error_string(verify);
  }
  // A TLS server answers with a handshake record (22) or an alert (21); a
  // server that answers with anything else, or closes without a word, does
  // not speak TLS on this port.
  if (peer.received == 0 || (peer.first != 21 && peer.first != 22)) {
    return "TLS: the server did not answer the TLS handshake";
  }
  if (last != 0) {
    if (const char* reason = ERR_reason_error_string(last)) return std::string("TLS: ") + reason;
  }
  if (kind == SSL_ERROR_SYSCALL && errno != 0) return std::string("TLS: ") + std::strerror(errno);
  return "TLS: the server closed the connection during the TLS handshake";
}

// Runs SSL_connect on the socket made non-blocking for the while, so that
// the deadline bounds every wait.
std::string Handshake(SSL* ssl, int fd, const wire::TTlsSocketPeer& peer,
                      std::chrono::milliseconds limit) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return std::string("TLS: ") + std::strerror(errno);
  }
  const Clock::time_point deadline = Clock::now() + limit;
  std::string failure;
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(ssl);
    if (rc == 1) break;
    const int kind = SSL_get_error(ssl, rc);
    short events = 0;
    if (kind == SSL_ERROR_WANT_READ) events = POLLIN;
    if (kind == SSL_ERROR_WANT_WRITE) events = POLLOUT;
    if (events == 0) {
      failure = HandshakeFailure(ssl, kind, peer);
      break;
    }
    if (!wire::WaitForSocket(fd, events, deadline)) {
      failure = peer.received == 0
                    ? "TLS: the server did not answer the TLS handshake within " + DescribeLimit(limit)
                    : "TLS: the TLS handshake did not finish within " + DescribeLimit(limit);
      break;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return failure;
}

}  // namespace

TTlsSession::TTlsSession(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

TTlsSession::~TTlsSession() = default;

std::unique_ptr<TTlsSession> TTlsSession::Start(int fd, std::string_view host,
                                                const TTlsSettings& settings, std::string& failure) {
  ERR_clear_error();
  auto parts = std::make_unique<Parts>();
  parts->peer.fd = fd;
  parts->context.reset(SSL_CTX_new(TLS_client_method()));
  parts->method.reset(wire::NewTlsSocketMethod());
  if (!parts->context || !parts->method) {
    failure = "TLS: " + QueuedReason("cannot set up a TLS context");
    return nullptr;
  }
  failure = Configure(parts->context.get(), settings);
  if (!failure.empty()) return nullptr;
  parts->ssl.reset(SSL_new(parts->context.get()));
  std::unique_ptr<BIO, session_parts::BioFree> bio(BIO_new(parts->method.get()));
  if (!parts->ssl || !bio) {
    failure = "TLS: " + QueuedReason("cannot set up a TLS session");
    return nullptr;
  }
  BIO_set_data(bio.get(), &parts->peer);
  SSL_set_bio(parts->ssl.get(), bio.get(), bio.get());  // the session owns it now
  bio.release();
  failure = Address(parts->ssl.get(), host, settings);
  if (!failure.empty()) return nullptr;
  failure = Handshake(parts->ssl.get(), fd, parts->peer, settings.handshakeLimit);
  if (!failure.empty()) return nullptr;
  return std::unique_ptr<TTlsSession>(new TTlsSession(std::move(parts)));
}

bool TTlsSession::SendAll(std::string_view bytes) {
  SSL* ssl = parts_->ssl.get();
  while (!bytes.empty()) {
    const int piece = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    wire::ForgetStaleTlsErrors();
    errno = 0;
    const int n = SSL_write(ssl, bytes.data(), piece);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    const int kind = SSL_get_error(ssl, n);
    if (kind == SSL_ERROR_WANT_WRITE || (kind == SSL_ERROR_SYSCALL && errno == EINTR)) continue;
    failure_ = kind == SSL_ERROR_SSL ? "TLS: " + QueuedReason("send failed") : std::string();
    ERR_clear_error();
    return false;
  }
  return true;
}

net::ReadResult TTlsSession::ReceiveSome(std::span<char> into) {
  if (into.empty()) return {net::ReadStatus::kFailed, 0};
  SSL* ssl = parts_->ssl.get();
  const int size = static_cast<int>(std::min<std::size_t>(into.size(), INT_MAX));
  for (;;) {
    wire::ForgetStaleTlsErrors();
    errno = 0;
    const int n = SSL_read(ssl, into.data(), size);
    if (n > 0) return {net::ReadStatus::kData, static_cast<std::size_t>(n)};
    const int kind = SSL_get_error(ssl, n);
    // Only a read that must not wait (ReceiveWithin) wants to read more.
    if (kind == SSL_ERROR_WANT_READ && parts_->peer.dontWait) {
      return {net::ReadStatus::kTimedOut, 0};
    }
    if (kind == SSL_ERROR_WANT_READ || (kind == SSL_ERROR_SYSCALL && errno == EINTR)) continue;
    if (kind == SSL_ERROR_ZERO_RETURN) return {net::ReadStatus::kEndOfStream, 0};
    // A peer that closes without the closing alert is an end of stream as
    // well; an alert or a broken record has a reason worth keeping.
    const unsigned long code = ERR_peek_last_error();
    if (kind == SSL_ERROR_SSL && ERR_GET_REASON(code) != SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      failure_ = "TLS: " + QueuedReason("receive failed");
      return {net::ReadStatus::kFailed, 0};
    }
    ERR_clear_error();
    return {net::ReadStatus::kEndOfStream, 0};
  }
}

net::ReadResult TTlsSession::ReceiveWithin(std::span<char> into, const TConnectLimit& limit) {
  // With read-ahead the session may hold whole records the socket no longer
  // shows, or part of one whose rest has not come: each read takes what is
  // there without waiting, and only the wait for more is bounded.
  wire::TTlsSocketPeer& peer = parts_->peer;
  peer.dontWait = true;
  net::ReadResult read{net::ReadStatus::kFailed, 0};
  for (;;) {
    read = ReceiveSome(into);
    if (read.status != net::ReadStatus::kTimedOut) break;
    if (!net::WaitReadable(peer.fd, limit)) break;
  }
  peer.dontWait = false;
  return read;
}

void TTlsSession::Close() {
  SSL* ssl = parts_->ssl.get();
  // The closing alert is one small write; the answer is not waited for.
  ERR_clear_error();
  SSL_shutdown(ssl);
  ERR_clear_error();
}

std::string TTlsSession::Describe() const {
  SSL* ssl = parts_->ssl.get();
  std::string text = "TLS ";
  text += SSL_get_version(ssl);
  text += ' ';
  text += SSL_get_cipher_name(ssl);
  text += ", server certificate ";
  const std::unique_ptr<X509, session_parts::X509Free> certificate(SSL_get1_peer_certificate(ssl));
  std::unique_ptr<BIO, session_parts::BioFree> memory(BIO_new(BIO_s_mem()));
  if (!certificate || !memory ||
      X509_NAME_print_ex(memory.get(), X509_get_subject_name(certificate.get()), 0, XN_FLAG_RFC2253) < 0) {
    return text + "(none)";
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &data);
  text.append(data, static_cast<std::size_t>(length));
  return text;
}

}  // namespace kovra::tls
