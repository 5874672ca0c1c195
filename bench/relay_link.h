// One connection of kvrbench_relay, the stand-in for a network link: every
// chunk read on either socket reaches the other after a fixed delay.
#pragma once

#include <chrono>

namespace kvrbench {

// Relays between the connected sockets a and b (made non-blocking here).
// Each chunk read on one is sent on the other once delay has passed since it
// was read; order and bytes are kept, and the two directions run
// independently, so chunks in flight one way never hold up the other. An end
// of stream travels the same way, as a shutdown of writing on the other
// socket after the delay. Returns when both directions have ended, or at once
// when either socket fails; the caller closes both.
void RelayConnection(int a, int b, std::chrono::microseconds delay);

}  // namespace kvrbench
