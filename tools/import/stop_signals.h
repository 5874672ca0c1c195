// SIGINT and SIGTERM for a run that ends between two pieces of work
// (kvrdbri -m watch): blocked while an object lives and read from a
// descriptor, so a signal never interrupts a request to the server, and the
// run asks whether one came when it suits it.
#pragma once

#include <signal.h>

namespace kvrimport {

class StopSignals {
 public:
  StopSignals();
  // Takes the signals that came, so they are not delivered once unblocked.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // For poll: readable when a signal came. -1 when the kernel gave none.
  int descriptor() const { return fd_; }

  // True when one of the signals came and waits.
  bool pending() const;

  // Reads the signals that came.
  void take();

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

}  // namespace kvrimport
