// A TCP relay on 127.0.0.1 between one utility and its kvrdevserver that
// counts the requests the utility sends (each one a round trip), by taking
// the request stream apart: a type byte and a NUL, then a counted text (two
// for a write request: name and value).
#pragma once

#include <cstddef>
#include <string>
#include <thread>

namespace kvrtest {

class CountingRelay {
 public:
  explicit CountingRelay(int serverPort);
  ~CountingRelay();
  CountingRelay(const CountingRelay&) = delete;
  CountingRelay& operator=(const CountingRelay&) = delete;

  int port() const { return port_; }
  // Waits (bounded) for the connection to end; the requests it carried.
  std::size_t finish();

 private:
  void relay();
  void count(std::string& pending);

  int serverPort_;
  int listener_ = -1;
  int port_ = 0;
  std::size_t requests_ = 0;  // written by the relay's thread until it ends
  std::thread thread_;
};

}  // namespace kvrtest
