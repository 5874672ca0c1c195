#include "cutting_proxy.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "loopback_socket.h"

namespace kvrtest {
namespace {

// Every wait of the relay is bounded; a test that stalls ends after this.
constexpr int kProxyWaitMilliseconds = 30000;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

CuttingProxy::CuttingProxy(int serverPort, std::string trigger, std::size_t replyBytes, AtTrigger action,
                           std::function<void()> onCut)
    : serverPort_(serverPort),
      trigger_(std::move(trigger)),
      replyBytes_(replyBytes),
      action_(action),
      onCut_(std::move(onCut)) {
  listener_ = listenOnLoopback(port_);
  int pipeFds[2];
  if (listener_ < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("proxy: cannot listen on 127.0.0.1");
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  thread_ = std::thread([this] { relay(); });
}

CuttingProxy::~CuttingProxy() {
  close(wakeWrite_);
  thread_.join();
  close(wakeRead_);
  close(listener_);
}

bool CuttingProxy::waitUntilTriggered(std::chrono::seconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return triggered_.load(); });
}

void CuttingProxy::markTriggered() {
  {
    std::lock_guard lock(mutex_);
    triggered_ = true;
  }
  changed_.notify_all();
}

void CuttingProxy::relay() {
  pollfd waitAccept[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  if (poll(waitAccept, 2, kProxyWaitMilliseconds) <= 0 || !(waitAccept[0].revents & POLLIN)) return;
  const Fd client(accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
  const Fd server(connectLoopback(serverPort_));
  if (client.get() < 0 || server.get() < 0) return;

  std::string sent;  // what the client sent, until the trigger shows up in it
  bool armed = false;
  std::size_t replyLeft = replyBytes_;
  char buffer[4096];
  for (;;) {
    pollfd fds[3] = {{client.get(), POLLIN, 0}, {server.get(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 3, kProxyWaitMilliseconds) <= 0 || fds[2].revents) return;
    if (fds[0].revents) {
      const ssize_t n = recv(client.get(), buffer, sizeof buffer, 0);
      if (n <= 0 || !sendAll(server.get(), buffer, static_cast<std::size_t>(n))) return;
      if (!armed) {
        sent.append(buffer, static_cast<std::size_t>(n));
        armed = sent.find(trigger_) != std::string::npos;
        if (sent.size() > trigger_.size()) sent.erase(0, sent.size() - trigger_.size());
      }
    }
    if (fds[1].revents) {
      const std::size_t wanted = armed ? std::min(replyLeft, sizeof buffer) : sizeof buffer;
      const ssize_t n = recv(server.get(), buffer, wanted, 0);
      if (n <= 0 || !sendAll(client.get(), buffer, static_cast<std::size_t>(n))) return;
      if (armed) replyLeft -= static_cast<std::size_t>(n);
    }
    if (armed && replyLeft == 0) break;
  }
  if (action_ == AtTrigger::kCut) {
    if (onCut_) onCut_();
    markTriggered();
    return;  // both connections close here
  }
  markTriggered();
  pollfd held = {wakeRead_, POLLIN, 0};
  poll(&held, 1, kProxyWaitMilliseconds);
}

}  // namespace kvrtest
