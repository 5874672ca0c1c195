// The time limit of opening a connection: the TCP connect (every address of
// the server in turn) and the server's greeting, with the login step when the
// server asks for one. Waits after the opening have no limit of ours: one M
// line may rightly run for hours.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

inline constexpr const char* kConnectTimeoutVariable = "KOVRA_CONNECT_TIMEOUT";
inline constexpr const char* kDefaultConnectSeconds = "10";

// A positive number of seconds, whole or with a fraction ("10", "0.5", at
// most a million seconds), in milliseconds rounded up; nothing for any other
// text, and for a value that rounds to nothing.
std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text);

class TConnectLimit {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts now and lasts length; seconds words it in the reasons ("10").
  TConnectLimit(std::chrono::milliseconds length, std::string seconds);

  // The limit KOVRA_CONNECT_TIMEOUT asks for, or 10 s when it is unset or
  // empty, starting now. Throws EKovraError, with a reason, for a value that
  // is not a positive number of seconds: a limit the user did not mean is
  // worse than a failed connect that says why.
  static TConnectLimit FromEnvironment();

  // Milliseconds left (rounded up, so 0 only once the limit has passed), as
  // poll takes them.
  int RemainingMs() const;
  const std::string& Seconds() const { return seconds_; }

 private:
  Clock::time_point deadline_;
  std::string seconds_;
};

}  // namespace kovra
