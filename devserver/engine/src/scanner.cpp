#include "scanner.h"

#include "number.h"

namespace mengine {

std::string Scanner::name() {
  if (!isNameStart(peek()) || atEnd()) fail();
  std::size_t start = p_++;
  while (!atEnd() && (isAlpha(peek()) || isDigit(peek()))) ++p_;
  return std::string(s_.substr(start, p_ - start));
}

std::string Scanner::label() {
  if (!isDigit(peek()) || atEnd()) return name();
  std::size_t start = p_;
  while (!atEnd() && isDigit(peek())) ++p_;
  return std::string(s_.substr(start, p_ - start));
}

std::string_view Scanner::word() {
  std::size_t start = p_;
  while (!atEnd() && isAlpha(peek())) ++p_;
  if (start == p_) fail();
  return s_.substr(start, p_ - start);
}

std::string Scanner::stringLiteral() {
  expect('"');
  std::string out;
  while (true) {
    if (atEnd()) fail();
    char c = s_[p_++];
    if (c == '"') {
      if (!accept('"')) return out;
    }
    out += c;
  }
}

std::string Scanner::numberLiteral() {
  std::size_t start = p_;
  while (!atEnd() && isDigit(peek())) ++p_;
  if (at('.')) {
    ++p_;
    while (!atEnd() && isDigit(peek())) ++p_;
  }
  // Only a capital E is an exponent: "3e9" is the number 3 and then a name.
  if (at('E')) {
    std::size_t k = 1;
    if (peek(1) == '+' || peek(1) == '-') k = 2;
    if (isDigit(peek(k))) {
      p_ += k;
      while (!atEnd() && isDigit(peek())) ++p_;
    }
  }
  return canonicalNumber(s_.substr(start, p_ - start));
}

}  // namespace mengine
