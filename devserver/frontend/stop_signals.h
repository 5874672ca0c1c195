// SIGINT and SIGTERM as a readable descriptor, so the accept loop can wait
// for a client and for the stop request at once without a signal handler.
#pragma once

#include "unique_fd.h"

namespace devserver {

// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread it
// starts later), ignores SIGPIPE, and returns a signalfd that becomes
// readable when a stop signal arrives. Call before starting any thread.
UniqueFd openStopSignals();

}  // namespace devserver
