#include "tls_server.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "socket_io.h"
#include "tls_reason.h"
#include "tls_socket_bio.h"

namespace devserver {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBuffer = 64 * 1024;

std::string queuedReason(unsigned long* lastCode = nullptr) {
  return kovra::wire::QueuedTlsReason("unknown reason", lastCode);
}

[[noreturn]] void failStart(const std::string& what, const std::string& file) {
  throw std::runtime_error(what + " " + file + ": " + queuedReason());
}

}  // namespace

// The session, and its BIO's method and socket, freed in reverse order.
struct TlsStream::Parts {
  kovra::wire::TTlsSocketPeer peer;
  std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> method{nullptr, BIO_meth_free};
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl{nullptr, SSL_free};
};

void endTlsOnThisThread() { OPENSSL_thread_stop(); }

std::chrono::milliseconds handshakeLimit() {
  constexpr std::chrono::milliseconds kDefault{10000};
  const char* text = std::getenv("KOVRA_CONNECT_TIMEOUT");
  if (text == nullptr || *text == '\0') return kDefault;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) return kDefault;
  return std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
}

TlsContext::TlsContext(const TlsFiles& files) : context_(SSL_CTX_new(TLS_server_method())) {
  ERR_clear_error();
  errno = 0;
  if (context_ == nullptr) throw std::runtime_error("cannot set up TLS: " + queuedReason());
  try {
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_options(context_, SSL_OP_NO_RENEGOTIATION);
    // Clients never resume a session: tickets would only cost time.
    SSL_CTX_set_num_tickets(context_, 0);
    // Read whatever the socket holds, not a record header and then its body:
    // one recv per request instead of two. Nothing here waits on the socket
    // for a request once the handshake is done, so bytes kept in the
    // session's buffer are never overlooked.
    SSL_CTX_set_read_ahead(context_, 1);
    SSL_CTX_set_default_read_buffer_len(context_, kReadBuffer);
    if (SSL_CTX_use_certificate_chain_file(context_, files.certificate.c_str()) != 1) {
      failStart("cannot read the TLS certificate", files.certificate);
    }
    if (SSL_CTX_use_PrivateKey_file(context_, files.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      unsigned long code = 0;
      const std::string reason = queuedReason(&code);
      if (ERR_GET_REASON(code) != X509_R_KEY_VALUES_MISMATCH) {
        throw std::runtime_error("cannot read the TLS key " + files.key + ": " + reason);
      }
    }
    if (SSL_CTX_check_private_key(context_) != 1) {
      ERR_clear_error();
      throw std::runtime_error("the TLS key " + files.key + " does not belong to the certificate " +
                               files.certificate);
    }
    if (!files.clientCa.empty()) {
      STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(files.clientCa.c_str());
      if (names == nullptr ||
          SSL_CTX_load_verify_locations(context_, files.clientCa.c_str(), nullptr) != 1) {
        if (names != nullptr) sk_X509_NAME_pop_free(names, X509_NAME_free);
        failStart("cannot read the client certificate authorities", files.clientCa);
      }
      SSL_CTX_set_client_CA_list(context_, names);
      SSL_CTX_set_verify(context_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
  } catch (...) {
    SSL_CTX_free(context_);
    throw;
  }
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

std::unique_ptr<TlsStream> TlsContext::accept(int fd, std::chrono::milliseconds limit) const {
  auto parts = std::make_unique<TlsStream::Parts>();
  parts->peer.fd = fd;
  parts->method.reset(kovra::wire::NewTlsSocketMethod());
  parts->ssl.reset(SSL_new(context_));
  if (!parts->method || !parts->ssl) return nullptr;
  BIO* bio = BIO_new(parts->method.get());
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, &parts->peer);
  SSL_set_bio(parts->ssl.get(), bio, bio);  // the session owns it now
  SSL* ssl = parts->ssl.get();
  auto stream = std::make_unique<TlsStream>(std::move(parts));
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return nullptr;
  const Clock::time_point deadline = Clock::now() + limit;
  bool done = false;
  for (;;) {
    ERR_clear_error();
    const int rc = SSL_accept(ssl);
    if (rc == 1) {
      done = true;
      break;
    }
    const int kind = SSL_get_error(ssl, rc);
    short events = kind == SSL_ERROR_WANT_READ ? POLLIN : kind == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (events == 0 || !kovra::wire::WaitForSocket(fd, events, deadline)) break;
  }
  ERR_clear_error();
  ::fcntl(fd, F_SETFL, flags);
  if (!done) return nullptr;
  return stream;
}

TlsStream::TlsStream(std::unique_ptr<Parts> parts)
    : parts_(std::move(parts)), ssl_(parts_->ssl.get()) {}

TlsStream::~TlsStream() {
  // The closing alert, if the client is still there; its answer is not
  // waited for.
  ERR_clear_error();
  if (SSL_is_init_finished(ssl_)) SSL_shutdown(ssl_);
  ERR_clear_error();
}

// The connection's thread uses OpenSSL for this session alone, and every
// failure below empties the error queue (or ends the connection): the queue
// is empty before each read and write, so they need not clear it first. The
// socket blocks and the BIO retries EINTR, so a read or write that does not
// succeed ends the connection anyway.
std::size_t TlsStream::receiveSome(char* data, std::size_t size) {
  const int piece = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  for (;;) {
    errno = 0;
    const int n = SSL_read(ssl_, data, piece);
    if (n > 0) return static_cast<std::size_t>(n);
    const int kind = SSL_get_error(ssl_, n);
    if (kind == SSL_ERROR_WANT_READ || (kind == SSL_ERROR_SYSCALL && errno == EINTR)) continue;
    if (kind == SSL_ERROR_ZERO_RETURN) return 0;
    const unsigned long code = ERR_peek_last_error();
    if (kind == SSL_ERROR_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      ERR_clear_error();
      return 0;
    }
    if (kind == SSL_ERROR_SYSCALL && (errno == 0 || errno == ECONNRESET || errno == ENOTCONN)) return 0;
    throw ConnectionLost("TLS receive: " + queuedReason());
  }
}

void TlsStream::sendAll(std::string_view bytes, std::size_t segment) {
  while (!bytes.empty()) {
    std::size_t piece = segment > 0 && segment < bytes.size() ? segment : bytes.size();
    piece = std::min<std::size_t>(piece, INT_MAX);
    errno = 0;
    const int n = SSL_write(ssl_, bytes.data(), static_cast<int>(piece));
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    const int kind = SSL_get_error(ssl_, n);
    if (kind == SSL_ERROR_WANT_WRITE || (kind == SSL_ERROR_SYSCALL && errno == EINTR)) continue;
    throw ConnectionLost("TLS send: " + queuedReason());
  }
}

}  // namespace devserver
