#include "stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <system_error>

namespace devserver {

UniqueFd openStopSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  int error = ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_sigmask");
  UniqueFd fd(::signalfd(-1, &stop, SFD_CLOEXEC));
  if (!fd) throw std::system_error(errno, std::generic_category(), "signalfd");
  return fd;
}

}  // namespace devserver
