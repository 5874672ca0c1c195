// An M value as the evaluator passes it between operations: a string, a
// number, or both. Arithmetic keeps its result as a Number and writes the
// canonical text only when a string is asked for, so a chain such as
// x+i-7#1000\3 neither formats nor reparses between its operators; a string
// keeps its numeric interpretation once it has been read.
//
// A value may also read a string in place (a variable's or a literal's)
// instead of owning a copy. Whoever holds such a value across the
// evaluation of an expression that may change variables (Expr::pure is
// false) calls own() first.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "number.h"

namespace mengine {

class Value {
 public:
  Value() : state_(kText) {}
  Value(std::string text) : own_(std::move(text)), state_(kText) {}
  Value(Number number) : num_(number), state_(kNumber | kCanonical) {}
  static Value truth(bool b) { return Value(Number(b ? 1 : 0)); }
  // Reads text in place: text must outlive the value and stay unchanged.
  static Value borrowed(const std::string& text) {
    Value v;
    v.ref_ = &text;
    return v;
  }
  // A literal's text in place, with its number when the text is canonical.
  static Value literal(const std::string& text, const Number* canonical) {
    Value v = borrowed(text);
    if (canonical) {
      v.num_ = *canonical;
      v.state_ = kText | kNumber | kCanonical;
    }
    return v;
  }

  Value(Value&& other) noexcept = default;
  Value& operator=(Value&& other) noexcept = default;
  Value(const Value&) = default;
  Value& operator=(const Value&) = default;

  // The string.
  const std::string& text() const {
    if (ref_) return *ref_;
    if (!(state_ & kText)) {
      num_.writeText(own_);
      state_ |= kText;
    }
    return own_;
  }
  // The numeric interpretation.
  Number number() const {
    if (!(state_ & kNumber)) {
      num_ = Number::parse(text());
      state_ |= kNumber;
    }
    return num_;
  }
  // The string, moved out when the value owns it.
  std::string take() && {
    if (ref_) return *ref_;
    text();
    return std::move(own_);
  }
  // Stops reading in place: the value owns a copy from now on.
  void own() {
    if (!ref_) return;
    own_ = *ref_;
    ref_ = nullptr;
  }
  // Becomes number, or the string with text appended: an operator's result
  // replaces its left operand in place.
  void setNumber(Number number) {
    num_ = number;
    ref_ = nullptr;
    state_ = kNumber | kCanonical;
  }
  void setTruth(bool b) { setNumber(Number(b ? 1 : 0)); }
  void append(const std::string& more) {
    if (ref_) {
      own_.reserve(ref_->size() + more.size());
      own_ = *ref_;
      ref_ = nullptr;
    } else {
      text();
    }
    own_ += more;
    state_ = kText;
  }
  // M truth: the numeric interpretation is not zero.
  bool isTrue() const {
    if (state_ & kNumber) return !num_.isZero();
    return mengine::isTrue(text());
  }
  // The string equals other's.
  bool equals(const Value& other) const {
    // Canonical numbers have one text each, as Numbers have one form.
    if ((state_ & kCanonical) && (other.state_ & kCanonical)) return num_ == other.num_;
    return text() == other.text();
  }

 private:
  static constexpr unsigned char kText = 1;       // own_ or ref_ holds the string
  static constexpr unsigned char kNumber = 2;     // num_ is the numeric interpretation
  static constexpr unsigned char kCanonical = 4;  // the string is num_'s canonical text

  mutable Number num_;
  mutable std::string own_;
  const std::string* ref_ = nullptr;
  mutable unsigned char state_;
};

// The integer part of a value's numeric interpretation, clamped to +-1e9
// (toInteger of its text).
inline long integerOf(const Value& v) {
  return static_cast<long>(v.number().clampedInteger(1'000'000'000));
}

}  // namespace mengine
