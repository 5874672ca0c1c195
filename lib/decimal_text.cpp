#include "decimal_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kovra {
namespace {

// Exponents beyond this cannot matter to any caller; clamping keeps the
// arithmetic on int far away from overflow.
constexpr int kExponentClamp = 1'000'000;

void Normalise(TDecimal& value) {
  const auto first = value.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    value = TDecimal{};
    return;
  }
  value.digits.erase(0, first);
  const auto last = value.digits.find_last_not_of('0');
  value.exponent += static_cast<int>(value.digits.size() - 1 - last);
  value.digits.erase(last + 1);
}

// Keeps the first `keep` digits, rounding half to even on the exact digits.
void RoundToDigits(TDecimal& value, std::size_t keep) {
  if (value.digits.size() <= keep) return;
  const std::string_view dropped = std::string_view(value.digits).substr(keep);
  bool up = false;
  if (dropped[0] > '5') {
    up = true;
  } else if (dropped[0] == '5') {
    const bool beyondHalf = dropped.find_first_not_of('0', 1) != std::string_view::npos;
    const bool lastOdd = (value.digits[keep - 1] - '0') % 2 == 1;
    up = beyondHalf || lastOdd;
  }
  value.exponent += static_cast<int>(value.digits.size() - keep);
  value.digits.resize(keep);
  if (up) {
    std::size_t i = keep;
    while (i > 0 && value.digits[i - 1] == '9') value.digits[--i] = '0';
    if (i == 0) {
      value.digits.insert(value.digits.begin(), '1');
    } else {
      ++value.digits[i - 1];
    }
  }
  Normalise(value);
}

std::string ExponentText(int power) {
  std::string text = power < 0 ? "e-" : "e+";
  const std::string digits = std::to_string(power < 0 ? -power : power);
  if (digits.size() < 2) text += '0';
  return text + digits;
}

}  // namespace

TDecimal MakeDecimal(bool negative, std::string digits, int exponent) {
  TDecimal value{negative, std::move(digits), exponent};
  Normalise(value);
  return value;
}

int TDecimal::LeadingPower() const {
  return IsZero() ? 0 : exponent + static_cast<int>(digits.size()) - 1;
}

std::optional<TDecimal> ParseDecimal(std::string_view text) {
  TDecimal value;
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    value.negative = text[pos] == '-';
    ++pos;
  }
  bool anyDigit = false;
  bool seenPeriod = false;
  long fractionDigits = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c >= '0' && c <= '9') {
      anyDigit = true;
      value.digits += c;
      if (seenPeriod) ++fractionDigits;
    } else if (c == '.' && !seenPeriod) {
      seenPeriod = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return std::nullopt;
  long exponent = 0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      negativeExponent = text[pos] == '-';
      ++pos;
    }
    if (pos == text.size()) return std::nullopt;
    for (; pos < text.size(); ++pos) {
      const char c = text[pos];
      if (c < '0' || c > '9') return std::nullopt;
      exponent = std::min<long>(exponent * 10 + (c - '0'), kExponentClamp);
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (pos != text.size()) return std::nullopt;
  const long total = std::clamp<long>(exponent - fractionDigits, -kExponentClamp, kExponentClamp);
  value.exponent = static_cast<int>(total);
  Normalise(value);
  return value;
}

std::string FormatGeneral(const TDecimal& input, int precision) {
  if (input.IsZero()) return "0";
  const std::size_t p = static_cast<std::size_t>(std::max(precision, 1));
  TDecimal value = input;
  RoundToDigits(value, p);

  std::string text = value.negative ? "-" : "";
  const int power = value.LeadingPower();
  const std::string& digits = value.digits;
  if (power < -4 || power >= static_cast<int>(p)) {
    text += digits[0];
    if (digits.size() > 1) text += "." + digits.substr(1);
    return text + ExponentText(power);
  }
  if (value.exponent >= 0) {
    return text + digits + std::string(static_cast<std::size_t>(value.exponent), '0');
  }
  const int pointAt = static_cast<int>(digits.size()) + value.exponent;
  if (pointAt > 0) {
    return text + digits.substr(0, pointAt) + "." + digits.substr(pointAt);
  }
  return text + "0." + std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
}

std::optional<std::string> FormatGeneral(long double value, int precision) {
  if (!std::isfinite(value)) return std::nullopt;
  const int p = std::max(precision, 1);
  // Scientific form with exactly p digits is rounded once, correctly, from
  // the binary value; the decimal formatter then only lays it out.
  char buffer[128];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::scientific, std::min(p - 1, 60));
  if (result.ec != std::errc{}) return std::nullopt;
  const auto parsed = ParseDecimal(std::string_view(buffer, result.ptr - buffer));
  if (!parsed) return std::nullopt;
  return FormatGeneral(*parsed, p);
}

}  // namespace kovra
