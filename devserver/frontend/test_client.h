// A raw protocol client for the tests of kvrdevserver: it frames replies with
// the client library's own reply reader and builds requests with its request
// builders. Every wait is bounded. (The server process itself is started and
// stopped by the end-to-end harness, kvrtest::DevServer in process.h.)
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reply_reader.h"
#include "unique_fd.h"

namespace devserver::testing {

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
