// The lexical layer of the parser: a cursor over one text with the tokens of
// M (names, labels, string and number literals) and the error that carries
// the column where scanning stopped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mengine/engine.h"

namespace mengine {

// A syntax error of a text, with the 0-based column where parsing stopped.
class ParseError : public MError {
 public:
  ParseError(const std::string& text, std::size_t column) : MError(text), column_(column) {}
  std::size_t column() const { return column_; }

 private:
  std::size_t column_;
};

inline bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isNameStart(char c) { return isAlpha(c) || c == '%'; }
// Spaces and tabs both separate commands and start lines.
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  bool atEnd() const { return p_ >= s_.size(); }
  char peek(std::size_t ahead = 0) const { return p_ + ahead < s_.size() ? s_[p_ + ahead] : '\0'; }
  bool at(char c) const { return !atEnd() && s_[p_] == c; }
  bool accept(char c) {
    if (!at(c)) return false;
    ++p_;
    return true;
  }
  void expect(char c) {
    if (!accept(c)) fail();
  }
  void requireEnd() {
    if (!atEnd()) fail();
  }
  // The end of an argument: end of text, a comma or a blank.
  bool atArgumentEnd() const { return atEnd() || at(',') || isBlank(peek()); }

  [[noreturn]] void fail(const char* error = "<SYNTAX>") const { failAt(p_, error); }
  // Fails with the column where something that turned out wrong began.
  [[noreturn]] void failAt(std::size_t column, const char* error = "<SYNTAX>") const {
    throw ParseError(error, column);
  }

  // %?alpha alphanumeric*
  std::string name();
  // A name or a string of digits.
  std::string label();
  // A run of letters (command and keyword words).
  std::string_view word();
  std::string stringLiteral();
  std::string numberLiteral();

 protected:
  std::string_view s_;
  std::size_t p_ = 0;
};

}  // namespace mengine
