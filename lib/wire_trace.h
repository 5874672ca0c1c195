// TWireTrace: the diagnostic trace of one connection, switched on by the
// environment variable KOVRA_TRACE (a file name) when the connection opens.
// Each event is one line appended with a single write:
//   2026-12-08T11:41:32.123456Z 0x5581c0a8e2b0 > x\x00\x003\x00w 1
// time (UTC, microseconds), the handle, the direction ('>' request as sent,
// '<' reply as framed or terminal output as handed on, '!' connection event),
// then the bytes with every byte outside 0x20-0x7E and the backslash written
// as \xHH. Without KOVRA_TRACE no object exists and nothing is formatted.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace kovra {

// A part of a request that the trace shows as *** (a password).
struct TSecretSpan {
  std::size_t at = 0;
  std::size_t length = 0;
};

class TWireTrace {
 public:
  // The trace named by KOVRA_TRACE, or null when it is unset or empty, or
  // when the file cannot be opened (created with mode 0600 if missing). An
  // unopenable file is reported on standard error once per process.
  static std::unique_ptr<TWireTrace> FromEnvironment(const void* handle);
  ~TWireTrace();
  TWireTrace(const TWireTrace&) = delete;
  TWireTrace& operator=(const TWireTrace&) = delete;

  void Request(std::string_view bytes, TSecretSpan secret = {});
  void Reply(std::string_view bytes);
  void Event(std::string_view text);

 private:
  TWireTrace(int fd, const void* handle) : fd_(fd), handle_(handle) {}
  void Line(char direction, std::string_view before, std::string_view masked,
            std::string_view after);

  int fd_;
  const void* handle_;
};

}  // namespace kovra
