// Decimal arithmetic on Number. Coefficients are at most 18 digits, so a
// sum fits in 64 bits and a product, or a coefficient shifted by twenty
// places, fits in 128; every operation works on the stack.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "mengine/engine.h"
#include "number.h"
#include "coded_error.h"

namespace mengine {
namespace {

using detail::Wide;

constexpr int kDigits = Number::kDigits;

// 10^0 .. 10^38, all that 128 bits hold.
constexpr std::array<Wide, 39> kPowers = [] {
  std::array<Wide, 39> p{};
  p[0] = 1;
  for (size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

constexpr std::uint64_t power10(int n) { return static_cast<std::uint64_t>(kPowers[n]); }

int digitCount(Wide w) {
  int n = 1;
  while (n < static_cast<int>(kPowers.size()) && w >= kPowers[n]) ++n;
  return n;
}

std::int64_t withSign(bool negative, std::uint64_t magnitude) {
  auto m = static_cast<std::int64_t>(magnitude);
  return negative ? -m : m;
}

// floor(m * 10^shift / d) for the smallest shift <= maxShift (in steps of
// up to 18) that gives the quotient 18 digits or more, or leaves no
// remainder: cut to 18 digits, that is the exact quotient cut.
struct Quotient {
  Wide digits;
  int shift;
};

Quotient longDivide(std::uint64_t m, std::uint64_t d, int maxShift) {
  Wide q = m / d;
  Wide r = m % d;
  int shift = 0;
  while (r != 0 && shift < maxShift && q < kPowers[kDigits - 1]) {
    int step = std::min(maxShift - shift, kDigits);
    r *= kPowers[step];
    q = q * kPowers[step] + r / d;
    r %= d;
    shift += step;
  }
  return {q, shift};
}

// base^n by squaring. An intermediate power never exceeds the final one in
// magnitude when |base| > 1, and never falls below it when |base| < 1, so
// overflow and underflow happen only when the result itself is out of range.
Number integerPower(Number base, std::uint64_t n) {
  Number result = 1;
  while (true) {
    if (n & 1) result = result * base;
    n >>= 1;
    if (n == 0) return result;
    base = base * base;
  }
}

// A power kept with one digit more than a Number: a coefficient below
// 10^19 and its exponent.
struct SparePower {
  std::uint64_t coef;
  long exp;
};
constexpr int kSpareDigits = kDigits + 1;
// Beyond these powers of ten a reciprocal is out of range either way.
constexpr long kSpareLead = 60;

// a*b cut to 19 digits; {0, 0} when it is above 10^60.
SparePower spareProduct(SparePower a, SparePower b) {
  Wide product = Wide(a.coef) * b.coef;  // each below 10^19: below 10^38
  long exp = a.exp + b.exp;
  int digits = digitCount(product);
  if (digits > kSpareDigits) {
    product /= kPowers[digits - kSpareDigits];
    exp += digits - kSpareDigits;
    digits = kSpareDigits;
  }
  long lead = exp + digits - 1;
  if (lead > kSpareLead) return {0, 0};
  if (lead < -kSpareLead) throw MError("<MAXNUMBER>");
  return {static_cast<std::uint64_t>(product), exp};
}

// |base|^n by squaring as integerPower does, each product cut to 19
// digits, for the reciprocal of a negative power: cut to 18 digits, the
// power can put its reciprocal several units of the last digit off; the
// digit to spare keeps it within the last digit. {0, 0} when the power is
// so large that its reciprocal is 0; <MAXNUMBER> when it is so small that
// its reciprocal is out of range.
SparePower powerWithSpare(SparePower base, std::uint64_t n) {
  SparePower result{1, 0};
  while (true) {
    if (n & 1) result = spareProduct(result, base);
    n >>= 1;
    if (n == 0 || result.coef == 0) return result;
    base = spareProduct(base, base);
    if (base.coef == 0) return base;
  }
}

}  // namespace

Number Number::cut(bool negative, Wide magnitude, long exponent) {
  if (magnitude == 0) return {};
  int digits = digitCount(magnitude);
  if (digits > kDigits) {
    int drop = digits - kDigits;
    magnitude /= kPowers[drop];
    exponent += drop;
    digits = kDigits;
  }
  long lead = exponent + digits - 1;  // the power of ten of the first digit
  if (lead >= kMaxExponent) throw MError("<MAXNUMBER>");
  if (lead < kMinExponent) return {};
  auto coef = static_cast<std::uint64_t>(magnitude);
  if (exponent > 0 && lead < kDigits) {
    // An integer below 10^18: held with exponent 0.
    coef *= power10(static_cast<int>(exponent));
    exponent = 0;
  } else if (exponent > 0) {
    for (; coef % 10 == 0; coef /= 10) ++exponent;
  } else {
    for (; exponent < 0 && coef % 10 == 0; coef /= 10) ++exponent;
  }
  return Number(withSign(negative, coef), static_cast<std::int32_t>(exponent));
}

Number operator+(Number a, Number b) {
  if (a.exp_ == 0 && b.exp_ == 0) {
    std::int64_t sum = a.coef_ + b.coef_;  // each below 10^18: no overflow
    if (sum > -Number::kLimit && sum < Number::kLimit) return Number(sum, 0);
  }
  if (a.coef_ == 0) return b;
  if (b.coef_ == 0) return a;
  if (a.exp_ < b.exp_) std::swap(a, b);
  // ma * 10^shift and mb, both counted in units of 10^exponent.
  std::uint64_t ma = a.magnitude();
  std::uint64_t mb = b.magnitude();
  long shift = static_cast<long>(a.exp_) - b.exp_;
  long exponent = b.exp_;
  if (shift > 20) {
    // Widened to 18 digits, a leaves b below a hundredth of its last digit
    // when the gap stays above 20. Every b that small gives the same cut
    // sum, so the smallest one 20 places down stands in for it.
    int room = kDigits - digitCount(ma);
    ma *= power10(room);
    shift -= room;
    if (shift > 20) {
      mb = 1;
      exponent += shift - 20;
      shift = 20;
    }
  }
  Wide wa = Wide(ma) * kPowers[shift];
  Wide wb = mb;
  bool na = a.coef_ < 0;
  bool nb = b.coef_ < 0;
  if (na == nb) return Number::cut(na, wa + wb, exponent);
  if (wa >= wb) return Number::cut(na, wa - wb, exponent);
  return Number::cut(nb, wb - wa, exponent);
}

Number operator*(Number a, Number b) {
  Wide product = Wide(a.magnitude()) * b.magnitude();
  bool negative = (a.coef_ < 0) != (b.coef_ < 0);
  long exponent = static_cast<long>(a.exp_) + b.exp_;
  if (exponent == 0 && product < kPowers[kDigits])
    return Number(withSign(negative, static_cast<std::uint64_t>(product)), 0);
  return Number::cut(negative, product, exponent);
}

Number operator/(Number a, Number b) {
  if (b.coef_ == 0) throw MError("<DIVIDE>");
  if (a.coef_ == 0) return {};
  bool negative = (a.coef_ < 0) != (b.coef_ < 0);
  // 36 places always reach 18 digits: 10^36 over a divisor below 10^18.
  Quotient q = longDivide(a.magnitude(), b.magnitude(), 36);
  return Number::cut(negative, q.digits, static_cast<long>(a.exp_) - b.exp_ - q.shift);
}

std::strong_ordering operator<=>(Number a, Number b) {
  if (a.exp_ == b.exp_) return a.coef_ <=> b.coef_;
  int signA = (a.coef_ > 0) - (a.coef_ < 0);
  int signB = (b.coef_ > 0) - (b.coef_ < 0);
  if (signA != signB || signA == 0) return signA <=> signB;
  long leadA = a.exp_ + digitCount(a.magnitude());
  long leadB = b.exp_ + digitCount(b.magnitude());
  std::strong_ordering byMagnitude = leadA <=> leadB;
  if (leadA == leadB) {
    // Same leading place: the exponents differ by less than 18.
    int low = std::min(a.exp_, b.exp_);
    Wide ma = Wide(a.magnitude()) * kPowers[a.exp_ - low];
    Wide mb = Wide(b.magnitude()) * kPowers[b.exp_ - low];
    byMagnitude = ma <=> mb;
  }
  return signA > 0 ? byMagnitude : 0 <=> byMagnitude;
}

Number Number::truncated() const {
  if (exp_ >= 0) return *this;
  if (-exp_ > kDigits) return {};
  return Number(coef_ / static_cast<std::int64_t>(power10(-exp_)), 0);
}

Number Number::roundedTo(long decimals) const {
  if (exp_ >= -decimals) return *this;
  long drop = -decimals - exp_;
  if (drop > kDigits) return {};  // below half a unit of the last kept place
  std::uint64_t unit = power10(static_cast<int>(drop));
  std::uint64_t kept = magnitude() / unit;
  if (magnitude() % unit >= unit / 2) ++kept;
  return cut(coef_ < 0, kept, exp_ + drop);
}

std::int64_t Number::clampedInteger(std::int64_t limit) const {
  if (exp_ > 0) return coef_ < 0 ? -limit : limit;
  std::int64_t whole = truncated().coef_;
  return std::clamp(whole, -limit, limit);
}

long double Number::approximate() const {
  auto c = static_cast<long double>(coef_);
  // Dividing by an exact power of ten keeps decimals such as .1 nearest.
  return exp_ >= 0 ? c * std::pow(10.0L, exp_) : c / std::pow(10.0L, -exp_);
}

Number Number::fromLongDouble(long double value) {
  if (!std::isfinite(value)) throw MError("<MAXNUMBER>");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*LE", kDigits - 1, value);
  return parse(buf);
}

Number integerDivide(Number a, Number b) {
  // Integers below 10^18: the quotient's integer part is exact in 18 digits.
  if (a.exp_ == 0 && b.exp_ == 0 && b.coef_ != 0) return Number(a.coef_ / b.coef_, 0);
  return (a / b).truncated();
}

Number modulo(Number a, Number b) {
  if (b.coef_ == 0) throw MError("<DIVIDE>");
  if (a.coef_ == 0) return {};
  if (a.exp_ == 0 && b.exp_ == 0) {
    std::int64_t rest = a.coef_ % b.coef_;
    if (rest != 0 && (rest < 0) != (b.coef_ < 0)) rest += b.coef_;
    return Number(rest, 0);
  }
  std::uint64_t ma = a.magnitude();
  std::uint64_t mb = b.magnitude();
  // |a| mod |b| on the finer of the two scales, where both are integers.
  std::uint64_t rest;
  long exponent;
  if (a.exp_ >= b.exp_) {
    // (ma * 10^gap) mod mb, ten to the gap reduced modulo mb in steps.
    Wide scale = 1 % mb;
    for (long gap = a.exp_ - b.exp_; gap > 0; gap -= kDigits)
      scale = scale * kPowers[std::min<long>(gap, kDigits)] % mb;
    rest = static_cast<std::uint64_t>(Wide(ma % mb) * scale % mb);
    exponent = b.exp_;
  } else {
    long gap = static_cast<long>(b.exp_) - a.exp_;
    rest = gap <= 20 ? static_cast<std::uint64_t>(ma % (Wide(mb) * kPowers[gap])) : ma;
    exponent = a.exp_;
  }
  if (rest == 0) return {};
  Number r = Number::cut(b.coef_ < 0, rest, exponent);
  // Opposite signs: floor(a/b) is one lower than truncation, so b's whole
  // magnitude less the rest remains.
  return (a.coef_ < 0) == (b.coef_ < 0) ? r : b - r;
}

Number power(Number a, Number b) {
  if (b.coef_ == 0) return 1;
  if (a.coef_ == 0) {
    if (b.coef_ < 0) throw MError("<DIVIDE>");
    return {};
  }
  if (!b.isInteger()) {
    if (a.coef_ < 0) throw CodedError("M95", "<ILLEGAL VALUE>");
    return Number::fromLongDouble(std::pow(a.approximate(), b.approximate()));
  }
  if (b.exp_ > 0) {
    // An exponent of 10^18 or more, always even; only a base very near 1
    // keeps the result in range, and binary is precise enough for it.
    return Number::fromLongDouble(std::pow(std::fabs(a.approximate()), b.approximate()));
  }
  std::uint64_t n = b.magnitude();
  if (b.coef_ > 0) return integerPower(a, n);
  // A negative power: the reciprocal of the positive one, which is the more
  // precise, with the positive one kept to a digit more.
  SparePower positive = powerWithSpare({a.magnitude(), a.exp_}, n);
  if (positive.coef == 0) return {};
  Quotient q = longDivide(1, positive.coef, 3 * kDigits);
  return Number::cut(a.coef_ < 0 && (n & 1), q.digits, -q.shift - positive.exp);
}

}  // namespace mengine
