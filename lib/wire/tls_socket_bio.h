// The BIO a TLS session reads and writes its records through: a connected
// socket, shared by the library's sessions and kvrdevserver's. OpenSSL's own
// socket BIO answers a dozen control calls per record through a long switch
// and writes with write(); this one answers them at once, sends with
// MSG_NOSIGNAL (a peer that has gone is an error result, never a SIGPIPE),
// retries EINTR itself, and notes the first byte the peer sent: a TLS peer
// answers with a handshake record (22) or an alert (21).
#pragma once

#include <openssl/bio.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>

namespace kovra::wire {

// What a BIO of NewTlsSocketMethod works on (its BIO_set_data), owned by the
// caller and outliving the BIO.
struct TTlsSocketPeer {
  int fd = -1;
  std::size_t received = 0;
  unsigned char first = 0;
  // Reads that would wait return at once instead (the session then wants to
  // read), though the socket blocks: the caller bounds the wait itself.
  bool dontWait = false;
};

namespace tls_socket_bio {

inline TTlsSocketPeer& PeerOf(BIO* bio) { return *static_cast<TTlsSocketPeer*>(BIO_get_data(bio)); }

inline int Write(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = ::send(PeerOf(bio).fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

inline int Read(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  TTlsSocketPeer& peer = PeerOf(bio);
  ssize_t n;
  do {
    n = ::recv(peer.fd, data, static_cast<std::size_t>(size), peer.dontWait ? MSG_DONTWAIT : 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
  if (n > 0) {
    if (peer.received == 0) peer.first = static_cast<unsigned char>(data[0]);
    peer.received += static_cast<std::size_t>(n);
  }
  return static_cast<int>(n);
}

inline int Puts(BIO* bio, const char* text) {
  return Write(bio, text, static_cast<int>(std::strlen(text)));
}

// Only a flush means anything here (every write is already on its way); the
// rest (pending bytes, kernel TLS, end of file) are answered "no".
inline long Control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

inline int Create(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

}  // namespace tls_socket_bio

// A new method for such BIOs, or null; the caller frees it (BIO_meth_free)
// after the last BIO made with it. One per session rather than one per
// process: a process-wide one would be lost each time a program unloads the
// library. Only the type number is taken once (OpenSSL hands out a few
// hundred).
inline BIO_METHOD* NewTlsSocketMethod() {
  static const int type = BIO_get_new_index() | BIO_TYPE_SOURCE_SINK;
  BIO_METHOD* method = BIO_meth_new(type, "kovra socket");
  if (method == nullptr) return method;
  BIO_meth_set_write(method, tls_socket_bio::Write);
  BIO_meth_set_read(method, tls_socket_bio::Read);
  BIO_meth_set_puts(method, tls_socket_bio::Puts);
  BIO_meth_set_ctrl(method, tls_socket_bio::Control);
  BIO_meth_set_create(method, tls_socket_bio::Create);
  return method;
}

// Waits until the socket of a session can go on as its handshake needs
// (events for poll); false when the deadline has passed.
// A failed poll is true: the next call on the socket meets the error itself.
inline bool WaitForSocket(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return true;
  }
}

}  // namespace kovra::wire
