#include "scripted_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kovra::testing {

namespace {

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7f) {
      out += c;
    } else {
      out += "\\x";
      const char* hex = "0123456789abcdef";
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

bool WaitFor(int fd, short events, int limitMs) {
  pollfd p{fd, events, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, limitMs);
  } while (rc < 0 && errno == EINTR);
  return rc == 1;
}

}  // namespace

std::string Z(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '|') c = '\0';
  }
  return out;
}

ScriptedPeer::ScriptedPeer(Segmentation segmentation) : segmentation_(segmentation) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(listener_);
    throw std::runtime_error("listen on 127.0.0.1 failed");
  }
  port_ = ntohs(addr.sin_port);
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) thread_.join();
  CloseConnection();
  if (listener_ >= 0) ::close(listener_);
}

ScriptedPeer& ScriptedPeer::Expect(std::string bytes) {
  steps_.push_back({Step::kExpect, std::move(bytes)});
  return *this;
}
ScriptedPeer& ScriptedPeer::Send(std::string bytes) {
  steps_.push_back({Step::kSend, std::move(bytes)});
  return *this;
}
ScriptedPeer& ScriptedPeer::Close() {
  steps_.push_back({Step::kClose, {}});
  return *this;
}
ScriptedPeer& ScriptedPeer::Accept() {
  steps_.push_back({Step::kAccept, {}});
  return *this;
}

ScriptedPeer& ScriptedPeer::Reset() {
  steps_.push_back({Step::kReset, {}});
  return *this;
}

ScriptedPeer& ScriptedPeer::Pause(int ms) {
  steps_.push_back({Step::kPause, {}, ms});
  return *this;
}

void ScriptedPeer::Start() { thread_ = std::thread([this] { Run(); }); }

std::string ScriptedPeer::Finish() {
  if (thread_.joinable()) thread_.join();
  return failure_;
}

void ScriptedPeer::Run() {
  Play();
  // Refuse whatever the client may still be trying to open, so that a client
  // that goes wrong fails instead of waiting in the listen queue.
  ::close(listener_);
  listener_ = -1;
}

void ScriptedPeer::Play() {
  if (!AcceptOne()) return;
  for (const Step& step : steps_) {
    bool ok = true;
    switch (step.kind) {
      case Step::kExpect: ok = ExpectBytes(step.bytes); break;
      case Step::kSend: ok = SendBytes(step.bytes); break;
      case Step::kClose: CloseConnection(); break;
      case Step::kAccept: ok = AcceptOne(); break;
      case Step::kReset: ResetConnection(); break;
      case Step::kPause: std::this_thread::sleep_for(std::chrono::milliseconds(step.ms)); break;
    }
    if (!ok) {
      CloseConnection();
      return;
    }
  }
  ExpectEndOfStream();
  CloseConnection();
}

bool ScriptedPeer::AcceptOne() {
  CloseConnection();
  if (!WaitFor(listener_, POLLIN, waitLimitMs_)) {
    failure_ = "no connection";
    return false;
  }
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection_ < 0) {
    failure_ = "accept failed";
    return false;
  }
  const int one = 1;
  ::setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool ScriptedPeer::ExpectBytes(const std::string& bytes) {
  std::string got;
  while (got.size() < bytes.size()) {
    if (connection_ < 0 || !WaitFor(connection_, POLLIN, waitLimitMs_)) break;
    char buffer[4096];
    const std::size_t want = std::min(sizeof buffer, bytes.size() - got.size());
    const ssize_t n = ::recv(connection_, buffer, want, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  if (got == bytes) return true;
  failure_ = "expected \"" + Printable(bytes) + "\", got \"" + Printable(got) + "\"";
  return false;
}

bool ScriptedPeer::SendBytes(const std::string& bytes) {
  const std::size_t piece = segmentation_ == Segmentation::kBytewise ? 1 : bytes.size();
  for (std::size_t sent = 0; sent < bytes.size();) {
    const std::size_t n = std::min(piece, bytes.size() - sent);
    const ssize_t rc = ::send(connection_, bytes.data() + sent, n, MSG_NOSIGNAL);
    if (rc <= 0) {
      failure_ = "send failed";
      return false;
    }
    sent += static_cast<std::size_t>(rc);
  }
  return true;
}

void ScriptedPeer::CloseConnection() {
  if (connection_ < 0) return;
  ::close(connection_);
  connection_ = -1;
}

void ScriptedPeer::ResetConnection() {
  if (connection_ < 0) return;
  // A zero linger time makes close() send a reset instead of a FIN.
  const linger abort{1, 0};
  ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  CloseConnection();
}

void ScriptedPeer::ExpectEndOfStream() {
  if (connection_ < 0) return;
  std::string extra;
  while (WaitFor(connection_, POLLIN, waitLimitMs_)) {
    char buffer[4096];
    const ssize_t n = ::recv(connection_, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    extra.append(buffer, static_cast<std::size_t>(n));
  }
  if (!extra.empty()) {
    failure_ = "unexpected bytes \"" + Printable(extra) + "\"";
  }
}

}  // namespace kovra::testing
