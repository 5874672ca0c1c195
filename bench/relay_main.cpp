// kvrbench_relay PORT DELAY_US: the stand-in for a network link in front of
// a server on 127.0.0.1:PORT (the kernel here has no traffic shaping). It
// listens on a free port of 127.0.0.1, prints "listening on 127.0.0.1:PORT",
// and connects every client it accepts to the server; each chunk read in
// either direction is forwarded DELAY_US microseconds after it was read, so
// a round trip through the relay costs at least twice DELAY_US. One thread
// per connection; it runs until it is stopped by a signal.
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <charconv>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string_view>
#include <thread>

#include "bench_client.h"
#include "relay_link.h"
#include "socket_io.h"

namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// Sleeps in poll may end up to the thread's timer slack late (50 us by
// default on Linux, a fifth of a 250 us delay); the relay asks for none.
// Threads inherit the slack of the thread that starts them.
void AskForExactTimers() {
#ifdef __linux__
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

int Usage() {
  std::cerr << "usage: kvrbench_relay PORT DELAY_US\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint16_t port = 0;
  std::uint32_t delayUs = 0;
  if (argc != 3 || !ParseNumber(argv[1], port) || port == 0 || !ParseNumber(argv[2], delayUs)) {
    return Usage();
  }
  const std::chrono::microseconds delay(delayUs);
  AskForExactTimers();

  devserver::UniqueFd listener = devserver::listenLoopback(0);
  std::cout << "listening on 127.0.0.1:" << devserver::localPort(listener.get()) << std::endl;
  for (;;) {
    bool exhausted = false;
    devserver::UniqueFd client = devserver::acceptConnection(listener.get(), exhausted);
    if (!client) {
      if (exhausted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    kvrbench::Socket server = kvrbench::ConnectLoopback(port);
    if (!server) {
      // The client sees its connection closed, as with a server that is down.
      std::cerr << "kvrbench_relay: cannot connect to 127.0.0.1:" << port << "\n";
      continue;
    }
    std::thread([client = std::move(client), server = std::move(server), delay] {
      kvrbench::RelayConnection(client.get(), server.get(), delay);
    }).detach();
  }
}
