// Exact decimal numbers and their general-format text, written without the
// C library's formatting so that neither the process locale nor binary
// rounding can change a digit.
//
// General format with precision P (P below 1 counts as 1): the value is
// rounded to P significant digits (a tie goes to the even digit); trailing
// zeros and a trailing period are dropped; with X the power of ten of the
// first digit after rounding, the text is plain ("1234.5", "0.00012") when
// -4 <= X < P and otherwise exponent form ("1.5e+20", "1e-05": lower-case e,
// sign always, at least two exponent digits). Zero is "0", never "-0"; the
// decimal separator is always a period.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// value = (negative ? -1 : 1) * digits * 10^exponent. Normalised: digits has
// no leading or trailing zeros, and zero is the empty digit string with
// negative false and exponent 0.
struct TDecimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;

  bool IsZero() const { return digits.empty(); }
  // Power of ten of the first digit (the X of the format rule); 0 for zero.
  int LeadingPower() const;
};

// Builds a normalised value from any digit string (leading or trailing zeros
// allowed; only '0'-'9').
TDecimal MakeDecimal(bool negative, std::string digits, int exponent);

// Strict reading of a number text: an optional sign, digits with at most one
// period (at least one digit in all), an optional exponent e or E with an
// optional sign and at least one digit. No blanks, nothing else. Exponents
// are clamped far outside any range that matters, so nothing overflows.
std::optional<TDecimal> ParseDecimal(std::string_view text);

std::string FormatGeneral(const TDecimal& value, int precision);

// The same format for a binary value. Non-finite values yield nullopt.
std::optional<std::string> FormatGeneral(long double value, int precision);

}  // namespace kovra
