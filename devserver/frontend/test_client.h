// Test helpers: a kvrdevserver process started by a test and stopped by its
// own pid, and a raw protocol client that frames replies with the client
// library's own reply reader and builds requests with its request builders.
// Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reply_reader.h"
#include "unique_fd.h"

namespace devserver::testing {

class ServerProcess {
 public:
  // Starts kvrdevserver --port 0 with the extra arguments and reads its
  // first line ("listening on 127.0.0.1:PORT").
  explicit ServerProcess(const std::vector<std::string>& arguments = {});
  // Stops the server with SIGTERM if it still runs.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::string& firstLine() const { return firstLine_; }
  std::uint16_t port() const { return port_; }
  // Time from the start to the first line.
  std::chrono::microseconds startTime() const { return startTime_; }

  void signal(int number);
  // Waits for the process to end; its exit code, or 128 + the signal that
  // ended it, or -1 when it did not end in time (it is then killed).
  int waitForExit(std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  pid_t pid_ = -1;
  UniqueFd output_;
  std::string firstLine_;
  std::uint16_t port_ = 0;
  std::chrono::microseconds startTime_{0};
};

class TestClient {
 public:
  explicit TestClient(std::uint16_t port);

  void send(std::string_view bytes);
  // One reply as the client library stores it: header, NUL, and for
  // "<GO ON>" and "<CALLBACK>" the announced body. Throws on a timeout, a
  // close, or a reply the library could never take.
  std::string readReply();
  // Raw bytes up to and including the first NUL (output of a "t" request).
  std::string readRawUntilNul();
  // True when the server closed the connection (after any bytes listed in
  // rest, which gets what arrived before the close).
  bool closedByServer(std::string* rest = nullptr);

 private:
  bool fill();

  UniqueFd socket_;
  kovra::TReplyReader reader_;
};

// Request builders: type NUL len NUL text, and the write form.
std::string request(char type, std::string_view text);
std::string writeRequest(std::string_view target, std::string_view value);

}  // namespace devserver::testing
