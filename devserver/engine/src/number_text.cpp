// Numbers read from and written as text: the numeric interpretation of a
// string, the canonical form, and the checks on canonical strings that
// collation relies on.
#include <algorithm>
#include <charconv>

#include "number.h"

namespace mengine {
namespace {

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this are out of range whatever the digits, and stay far
// from overflowing a long when the digits' own scale is added.
constexpr long kExponentCap = 1'000'000;

}  // namespace

Number Number::parse(std::string_view t) {
  // An integer of up to 18 digits, the commonest text read as a number.
  if (!t.empty() && t.size() <= static_cast<size_t>(kDigits)) {
    size_t start = t[0] == '-' ? 1 : 0;
    std::int64_t digits = 0;
    size_t k = start;
    for (; k < t.size() && isDecimalDigit(t[k]); ++k) digits = digits * 10 + (t[k] - '0');
    if (k == t.size() && k > start) return Number(start ? -digits : digits, 0);
  }
  size_t i = 0;
  bool negative = false;
  for (; i < t.size() && (t[i] == '+' || t[i] == '-'); ++i)
    if (t[i] == '-') negative = !negative;
  // The first 18 significant digits are kept; the rest are cut.
  std::uint64_t coef = 0;
  int kept = 0;
  long exponent = 0;
  bool anyDigit = false;
  for (; i < t.size() && isDecimalDigit(t[i]); ++i) {
    anyDigit = true;
    if (kept < kDigits) {
      coef = coef * 10 + static_cast<std::uint64_t>(t[i] - '0');
      if (coef != 0) ++kept;
    } else {
      ++exponent;
    }
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && isDecimalDigit(t[i]); ++i) {
      anyDigit = true;
      if (kept < kDigits) {
        coef = coef * 10 + static_cast<std::uint64_t>(t[i] - '0');
        if (coef != 0) ++kept;
        --exponent;
      }
    }
  }
  if (!anyDigit) return {};
  // Only a capital E starts an exponent, and only when digits follow it.
  if (i + 1 < t.size() && t[i] == 'E') {
    size_t j = i + 1;
    bool negativeExponent = t[j] == '-';
    if (t[j] == '+' || t[j] == '-') ++j;
    if (j < t.size() && isDecimalDigit(t[j])) {
      long e = 0;
      for (; j < t.size() && isDecimalDigit(t[j]); ++j) e = std::min(e * 10 + (t[j] - '0'), kExponentCap);
      exponent += negativeExponent ? -e : e;
    }
  }
  // An integer of up to 18 digits, the common case, is already in the form
  // cut() would give it.
  if (exponent == 0 && coef < static_cast<std::uint64_t>(kLimit)) {
    auto magnitude = static_cast<std::int64_t>(coef);
    return Number(negative ? -magnitude : magnitude, 0);
  }
  return cut(negative, coef, exponent);
}

std::string Number::text() const {
  std::string out;
  writeText(out);
  return out;
}

void Number::writeText(std::string& out) const {
  if (exp_ == 0) {
    // An integer below 10^18, the commonest number: its digits backwards.
    char buffer[24];
    char* end = buffer + sizeof buffer;
    char* p = end;
    std::uint64_t m = magnitude();
    do {
      *--p = static_cast<char>('0' + m % 10);
      m /= 10;
    } while (m != 0);
    if (coef_ < 0) *--p = '-';
    out.assign(p, end);
    return;
  }
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, magnitude()).ptr;
  auto length = static_cast<long>(end - digits);
  out.clear();
  if (coef_ < 0) out += '-';
  if (exp_ >= 0) {
    out.append(digits, end);
    out.append(static_cast<size_t>(exp_), '0');
    return;
  }
  long point = length + exp_;  // digits before the point
  if (point > 0) {
    out.append(digits, digits + point);
    out += '.';
    out.append(digits + point, end);
  } else {
    out += '.';
    out.append(static_cast<size_t>(-point), '0');
    out.append(digits, end);
  }
}

std::string canonicalNumber(std::string_view text) {
  if (isCanonicalNumber(text)) return std::string(text);
  return Number::parse(text).text();
}

namespace {

// The form of a canonical number: an optional "-", no leading zero, no
// trailing zero after the point, no lone point, no "-0".
bool hasCanonicalForm(std::string_view t) {
  if (t.empty()) return false;
  size_t i = 0;
  if (t[0] == '-') {
    if (t.size() == 1) return false;
    i = 1;
  }
  size_t intStart = i;
  while (i < t.size() && isDecimalDigit(t[i])) ++i;
  size_t intLen = i - intStart;
  if (intLen > 1 && t[intStart] == '0') return false;
  if (i == t.size()) {
    if (intLen == 0) return false;
    return !(intLen == 1 && t[intStart] == '0' && intStart == 1);  // "-0"
  }
  if (t[i] != '.') return false;
  if (intLen == 1 && t[intStart] == '0') return false;  // "0.5"
  ++i;
  size_t fracStart = i;
  while (i < t.size() && isDecimalDigit(t[i])) ++i;
  if (i != t.size() || i == fracStart) return false;
  return t.back() != '0';
}

// Whether a number of canonical form is within the precision and range, so
// that reading it as a number gives back the same text.
bool isKeptExactly(std::string_view t) {
  size_t first = t.find_first_of("123456789");
  if (first == std::string_view::npos) return true;  // "0"
  size_t last = t.find_last_of("123456789");
  size_t point = t.find('.');
  bool pointInside = point != std::string_view::npos && point > first && point < last;
  if (last - first + 1 - (pointInside ? 1 : 0) > static_cast<size_t>(Number::kDigits)) return false;
  // The power of ten of the first digit.
  long lead = point == std::string_view::npos ? static_cast<long>(t.size() - first) - 1
              : point > first                 ? static_cast<long>(point - first) - 1
                                              : -static_cast<long>(first - point);
  return lead < Number::kMaxExponent && lead >= Number::kMinExponent;
}

}  // namespace

bool isCanonicalNumber(std::string_view t) { return hasCanonicalForm(t) && isKeptExactly(t); }

long toInteger(std::string_view text) {
  return static_cast<long>(Number::parse(text).clampedInteger(1'000'000'000));
}

bool isTrue(std::string_view text) {
  if (text == "1") return true;
  if (text == "0" || text.empty()) return false;
  return !Number::parse(text).isZero();
}

int compareCanonical(std::string_view a, std::string_view b) {
  bool negA = !a.empty() && a[0] == '-';
  bool negB = !b.empty() && b[0] == '-';
  if (negA != negB) return negA ? -1 : 1;
  if (negA) {
    a.remove_prefix(1);
    b.remove_prefix(1);
  }
  size_t pa = a.find('.');
  size_t pb = b.find('.');
  std::string_view ia = a.substr(0, pa == std::string_view::npos ? a.size() : pa);
  std::string_view ib = b.substr(0, pb == std::string_view::npos ? b.size() : pb);
  if (ia.empty()) ia = "0";
  if (ib.empty()) ib = "0";
  int result = 0;
  if (ia.size() != ib.size()) {
    result = ia.size() < ib.size() ? -1 : 1;
  } else {
    int c = ia.compare(ib);
    if (c == 0) {
      std::string_view fa = pa == std::string_view::npos ? "" : a.substr(pa + 1);
      std::string_view fb = pb == std::string_view::npos ? "" : b.substr(pb + 1);
      c = fa.compare(fb);
    }
    result = c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return negA ? -result : result;
}

}  // namespace mengine
