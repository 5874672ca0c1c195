// TMList: the codec of M list values, byte strings holding a sequence of
// typed elements (strings, integers, decimals). One codec object serves one
// piece of work; it keeps the encoded list and a cached element count.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace kovra {

enum class TListValueType { lvtString, lvtInteger, lvtFloat };

// Raised by the codec, e.g. "MAX LIST LENGTH (32768) EXCEEDED".
class EListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMList {
 public:
  // One value of a list built from values: monostate is the undefined
  // element, int64_t an integer, long double a decimal, string a text.
  using Value = std::variant<std::monostate, int64_t, long double, std::string>;

  static constexpr std::size_t kMaxListLength = 32768;

  TMList() = default;

  const std::string& Data() const { return data_; }
  void SetData(std::string data);

  // Number of elements; 0 for an empty or malformed list (an element that
  // reaches past the end) and for a list of exactly one byte. Cached until
  // the data is next assigned.
  int Count();
  // Element index (from 1) as text; empty past the last element, for an
  // undefined element, an unknown type, and an integer or decimal whose
  // magnitude needs more than 64 bits (this codec never writes one).
  // Decimals are written in general format with 15 significant digits.
  // Throws EListError for an index below 1.
  std::string GetText(int index);
  // Element index as an integer; 0 when its text is not one.
  int64_t GetInteger(int index);
  // Sets element index (from 1) from a text, choosing integer, decimal or
  // string encoding so that the element always reads back as the same text;
  // pads a short list with undefined elements. Throws EListError, leaving
  // the list as it was, for an index below 1, for a malformed list, and when
  // the new list would pass kMaxListLength bytes.
  void SetText(int index, std::string_view text);
  void SetInteger(int index, int64_t value);
  // Replaces the list with one element per value: a real as a decimal with
  // mantissa value * 10^scale rounded half to even, or as the string of its
  // 15-digit general-format text when that mantissa does not fit 64 bits or
  // rounds a non-zero value to 0. Throws EListError, leaving the list as it
  // was, once the list passes kMaxListLength bytes or for a real that is not
  // finite.
  void Build(std::span<const Value> values);

  int Scale() const { return scale_; }

 private:
  std::string data_;
  bool countValid_ = false;
  int count_ = 0;
  int scale_ = 8;
};

}  // namespace kovra
