// M values are byte strings; arithmetic reads a string's numeric prefix into
// a Number and writes the result back in canonical form (no leading "+", no
// leading zero before the point, no trailing zeros after it, no exponent).
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace mengine {

namespace detail {
// Holds the product of two coefficients, or a coefficient shifted left by
// twenty decimal places, without overflow.
__extension__ typedef unsigned __int128 Wide;
}  // namespace detail

// A decimal number: a signed coefficient of at most 18 digits times a power
// of ten. Every result and every number read from text is cut (truncated
// towards zero) to 18 significant digits, as M systems commonly do; a
// magnitude of 1E47 or more raises <MAXNUMBER>, a nonzero magnitude below
// 1E-43 becomes 0.
//
// The representation is unique, so equal numbers compare equal field by
// field: an integer below 1E18 has exponent 0 (its arithmetic is plain
// 64-bit arithmetic), any other number has no trailing zeros in its
// coefficient. A Number is 16 bytes and never allocates.
class Number {
 public:
  static constexpr int kDigits = 18;
  static constexpr int kMaxExponent = 47;   // magnitudes below 10^47
  static constexpr int kMinExponent = -43;  // nonzero magnitudes from 10^-43

  constexpr Number() = default;
  // An integer is a number; exact below 10^18, cut above.
  Number(std::int64_t integer) {
    if (integer > -kLimit && integer < kLimit) {
      coef_ = integer;
    } else {
      *this = cut(integer < 0, unsignedMagnitude(integer), 0);
    }
  }
  // coefficient * 10^exponent, cut.
  static Number scaled(std::int64_t coefficient, long exponent) {
    return cut(coefficient < 0, unsignedMagnitude(coefficient), exponent);
  }
  // The numeric interpretation of text: signs, digits, an optional point
  // and fraction, an optional E exponent; the rest is ignored.
  static Number parse(std::string_view text);
  // The nearest Number (rounded, not cut: a binary result is itself
  // approximate and often lies just below the exact decimal).
  static Number fromLongDouble(long double value);

  // The canonical text.
  std::string text() const;
  // The canonical text into out, replacing what it held.
  void writeText(std::string& out) const;
  // An approximation in binary, for durations and fractional powers.
  long double approximate() const;

  bool isZero() const { return coef_ == 0; }
  bool isNegative() const { return coef_ < 0; }
  bool isInteger() const { return exp_ >= 0; }
  // The integer part (truncated towards zero).
  Number truncated() const;
  // Rounded to a number of decimal places, halves away from zero.
  Number roundedTo(long decimals) const;
  // The integer part, limited to -limit..limit.
  std::int64_t clampedInteger(std::int64_t limit) const;

  friend Number operator-(Number a) { return Number(-a.coef_, a.exp_); }
  friend Number operator+(Number a, Number b);
  friend Number operator-(Number a, Number b) { return a + -b; }
  friend Number operator*(Number a, Number b);
  // <DIVIDE> when b is zero.
  friend Number operator/(Number a, Number b);
  friend bool operator==(Number a, Number b) { return a.coef_ == b.coef_ && a.exp_ == b.exp_; }
  friend std::strong_ordering operator<=>(Number a, Number b);

  friend Number integerDivide(Number a, Number b);
  friend Number modulo(Number a, Number b);
  friend Number power(Number a, Number b);

 private:
  static constexpr std::int64_t kLimit = 1'000'000'000'000'000'000;  // 10^18

  Number(std::int64_t coef, std::int32_t exp) : coef_(coef), exp_(exp) {}
  static std::uint64_t unsignedMagnitude(std::int64_t v) {
    return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  }
  std::uint64_t magnitude() const { return unsignedMagnitude(coef_); }
  // magnitude * 10^exponent with the given sign, cut to 18 digits and
  // checked against the range.
  static Number cut(bool negative, detail::Wide magnitude, long exponent);

  std::int64_t coef_ = 0;
  std::int32_t exp_ = 0;
};

// a\b: the integer part of a/b. <DIVIDE> when b is zero.
Number integerDivide(Number a, Number b);
// a#b: a - b*floor(a/b), exact; the result has the sign of b. <DIVIDE> when
// b is zero.
Number modulo(Number a, Number b);
// a**b: integer powers by repeated multiplication (each product cut), a
// negative one as the reciprocal of the positive one kept to 19 digits;
// fractional powers computed in binary and rounded. 0 to a negative power is <DIVIDE>; a negative base with a
// fractional power is <ILLEGAL VALUE>.
Number power(Number a, Number b);

// The numeric interpretation of text (see Number::parse).
inline Number toNumber(std::string_view text) { return Number::parse(text); }
// The canonical text of a number.
inline std::string formatNumber(Number value) { return value.text(); }

// The canonical form of the numeric interpretation of text (M's unary +).
std::string canonicalNumber(std::string_view text);

// True when text is already a canonical number ("12", "-3.5", ".25", "0")
// that the precision and range keep as it is.
bool isCanonicalNumber(std::string_view text);

// The integer part of a value's numeric interpretation, clamped to +-1e9.
long toInteger(std::string_view text);

// The value rounded to a fixed number of decimals, with a 0 before the point
// ($JUSTIFY's third argument).
std::string fixedDecimals(std::string_view value, long decimals);
// $FNUMBER(value,codes[,decimals]): codes of + - , T P.
std::string fnumber(std::string_view value, std::string_view codes, const long* decimals);

// M truth: the numeric interpretation is not zero.
bool isTrue(std::string_view text);

// Compares two canonical numbers exactly: <0, 0, >0.
int compareCanonical(std::string_view a, std::string_view b);

}  // namespace mengine
