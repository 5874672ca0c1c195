#include "connect_limit.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "connect_error.h"

namespace kovra {

std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  if (whole.size() > 7 || (dot != std::string_view::npos && fraction.empty())) return std::nullopt;
  long long micros = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    micros = micros * 10 + (c - '0');
  }
  if (micros > 1000000) return std::nullopt;
  micros *= 1000000;
  long long scale = 100000;
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
    micros += (c - '0') * scale;  // digits beyond the sixth add nothing
    scale /= 10;
  }
  const long long millis = (micros + 999) / 1000;
  if (millis == 0) return std::nullopt;
  return std::chrono::milliseconds(millis);
}

TConnectLimit::TConnectLimit(std::chrono::milliseconds length, std::string seconds)
    : deadline_(Clock::now() + length), seconds_(std::move(seconds)) {}

TConnectLimit TConnectLimit::FromEnvironment() {
  const char* text = std::getenv(kConnectTimeoutVariable);
  if (text == nullptr || *text == '\0') {
    return TConnectLimit(std::chrono::seconds(10), kDefaultConnectSeconds);
  }
  const std::optional<std::chrono::milliseconds> length = ParseSeconds(text);
  if (!length) {
    throw EKovraError(std::string(kConnectTimeoutVariable) + " is not a positive number of seconds: " + text);
  }
  return TConnectLimit(*length, text);
}

int TConnectLimit::RemainingMs() const {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace kovra
