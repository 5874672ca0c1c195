// kvrdevserver as a whole: the databases (replayed from the directory's
// journals), the listener, and one thread per connection.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "launch_options.h"
#include "connection.h"
#include "journal.h"
#include "tls_server.h"
#include "mengine/engine.h"
#include "unique_fd.h"

namespace devserver {

// address:port, an IPv6 address in brackets.
std::string hostAndPort(const std::string& address, std::uint16_t port);

// The sockets of the running connections, so that a stop can wake them.
class ConnectionRegistry {
 public:
  // Takes ownership of a connection's socket; returns its descriptor.
  int add(UniqueFd socket);
  // Closes the socket once its connection has ended.
  void remove(int fd);
  // Shuts every socket down: each connection then reads end of stream.
  void shutdownAll();
  // Waits until every connection has ended; false when time ran out.
  bool waitUntilEmpty(std::chrono::milliseconds limit);

 private:
  std::mutex mutex_;
  std::condition_variable emptied_;
  std::map<int, UniqueFd> sockets_;
};

class DevServer {
 public:
  // Opens (and creates) the directory, replays and compacts its journals,
  // and binds the listener. Throws std::exception on failure.
  explicit DevServer(const LaunchOptions& line);
  ~DevServer();

  std::uint16_t port() const { return port_; }
  // Where it listens, as the first line names it: "127.0.0.1:5000",
  // "[::1]:5000".
  std::string endpoint() const { return hostAndPort(address_, port_); }

  // Serves clients until stopFd becomes readable; then closes the listener,
  // ends the connections and waits for them. Returns false when one did not
  // end in time (a job in an endless loop), and then must not be destroyed.
  bool run(int stopFd);

 private:
  void startConnection(UniqueFd socket);

  ConnectionSettings settings_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<mengine::Server> server_;
  std::unique_ptr<TlsContext> tls_;  // null: clear text
  UniqueFd listener_;
  std::string address_;
  std::uint16_t port_ = 0;
  std::atomic<int> nextJob_{1};
  ConnectionRegistry registry_;
};

}  // namespace devserver
