#include "number.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "mengine/engine.h"

namespace mengine {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

long double toNumber(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  while (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') negative = !negative;
    ++i;
  }
  std::string clean;
  size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) {
    clean += text[i++];
    ++digits;
  }
  if (i + 1 < text.size() && text[i] == '.' && isDigit(text[i + 1])) {
    clean += text[i++];
    while (i < text.size() && isDigit(text[i])) {
      clean += text[i++];
      ++digits;
    }
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    size_t j = i + 1;
    std::string exponent;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
    size_t expDigits = 0;
    while (j < text.size() && isDigit(text[j])) {
      if (expDigits < 6) exponent += text[j];
      ++expDigits;
      ++j;
    }
    if (expDigits > 0) clean += "e" + exponent;
  }
  long double value = std::strtold(clean.c_str(), nullptr);
  if (std::isinf(value)) throw MError("<MAXNUMBER>");
  return negative ? -value : value;
}

std::string formatNumber(long double value) {
  if (std::isnan(value) || std::isinf(value)) throw MError("<MAXNUMBER>");
  if (value == 0) return "0";
  // 18 significant digits in scientific form, then laid out as a plain decimal.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Le", value);
  std::string s = buf;
  bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  size_t e = s.find('e');
  int exponent = std::atoi(s.c_str() + e + 1);
  std::string digits;
  for (size_t k = 0; k < e; ++k)
    if (isDigit(s[k])) digits += s[k];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (exponent > 32767 || exponent < -32767) throw MError("<MAXNUMBER>");
  std::string out;
  if (exponent >= 0) {
    size_t intLen = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intLen) {
      out = digits + std::string(intLen - digits.size(), '0');
    } else {
      out = digits.substr(0, intLen) + "." + digits.substr(intLen);
    }
  } else {
    out = "." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  return negative ? "-" + out : out;
}

std::string canonicalNumber(std::string_view text) {
  if (isCanonicalNumber(text)) return std::string(text);
  return formatNumber(toNumber(text));
}

bool isCanonicalNumber(std::string_view t) {
  if (t.empty()) return false;
  size_t i = 0;
  if (t[0] == '-') {
    if (t.size() == 1) return false;
    i = 1;
  }
  size_t intStart = i;
  while (i < t.size() && isDigit(t[i])) ++i;
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
  while (i < t.size() && isDigit(t[i])) ++i;
  if (i != t.size() || i == fracStart) return false;
  return t.back() != '0';
}

long toInteger(std::string_view text) {
  long double v = std::trunc(toNumber(text));
  if (v > 1e9L) return 1000000000L;
  if (v < -1e9L) return -1000000000L;
  return static_cast<long>(v);
}

bool isTrue(std::string_view text) {
  if (text == "1") return true;
  if (text == "0" || text.empty()) return false;
  return toNumber(text) != 0;
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
