#include "stop_signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

namespace kvrimport {

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  sigprocmask(SIG_BLOCK, &set_, &previous_);
  fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
  take();
  if (fd_ >= 0) close(fd_);
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

bool StopSignals::pending() const {
  sigset_t waiting;
  sigpending(&waiting);
  return sigismember(&waiting, SIGINT) == 1 || sigismember(&waiting, SIGTERM) == 1;
}

void StopSignals::take() {
  signalfd_siginfo info;
  while (fd_ >= 0 && read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
  }
}

}  // namespace kvrimport
