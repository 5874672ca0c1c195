#include "mlist.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "decimal_text.h"

namespace kovra {
namespace {

constexpr char kTypeString = 1;
constexpr char kTypeInteger = 4;
constexpr char kTypeNegativeInteger = 5;
constexpr char kTypeDecimal = 6;
constexpr char kTypeNegativeDecimal = 7;
constexpr char kUndefinedElement = 1;
// The short form's length byte counts itself and the type byte.
constexpr std::size_t kShortDataMax = 253;
constexpr std::size_t kLongDataMax = 0xFFFF - 1;
// Significant digits when a decimal element is read as text.
constexpr int kReadPrecision = 15;
constexpr const char* kMaxLengthMessage = "MAX LIST LENGTH (32768) EXCEEDED";

struct Span {
  std::size_t offset;
  std::size_t size;
};

// Whole size of the element starting at pos, or nullopt when its header is cut.
std::optional<std::size_t> ElementSize(std::string_view data, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(data[pos]);
  if (lead != 0) return lead;
  if (data.size() - pos < 3) return std::nullopt;
  const auto lo = static_cast<unsigned char>(data[pos + 1]);
  const auto hi = static_cast<unsigned char>(data[pos + 2]);
  return 3 + lo + 256 * std::size_t{hi};
}

// The elements of a list, or nullopt when an element reaches past the end.
std::optional<std::vector<Span>> Walk(std::string_view data) {
  std::vector<Span> spans;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const auto size = ElementSize(data, pos);
    if (!size || *size > data.size() - pos) return std::nullopt;
    spans.push_back({pos, *size});
    pos += *size;
  }
  return spans;
}

// Appends the bytes of v, least significant first, as few as needed.
void AppendMagnitude(std::string& out, uint64_t v) {
  for (; v != 0; v >>= 8) out += static_cast<char>(v & 0xFF);
}

// Negative values are written through w = -(v + 1), each byte as 255 - byte.
void AppendComplemented(std::string& out, uint64_t w) {
  for (; w != 0; w >>= 8) out += static_cast<char>(0xFF - (w & 0xFF));
}

std::string ShortElement(char type, const std::string& data) {
  std::string element;
  element += static_cast<char>(data.size() + 2);
  element += type;
  return element + data;
}

std::string IntegerElement(int64_t v) {
  std::string data;
  if (v >= 0) {
    AppendMagnitude(data, static_cast<uint64_t>(v));
    return ShortElement(kTypeInteger, data);
  }
  AppendComplemented(data, static_cast<uint64_t>(-(v + 1)));
  return ShortElement(kTypeNegativeInteger, data);
}

std::string DecimalElement(int64_t mantissa, int scale) {
  std::string data(1, static_cast<char>(256 - scale));
  if (mantissa >= 0) {
    AppendMagnitude(data, static_cast<uint64_t>(mantissa));
    return ShortElement(kTypeDecimal, data);
  }
  AppendComplemented(data, static_cast<uint64_t>(-(mantissa + 1)));
  return ShortElement(kTypeNegativeDecimal, data);
}

std::string StringElement(std::string_view text) {
  if (text.size() <= kShortDataMax) return ShortElement(kTypeString, std::string(text));
  if (text.size() > kLongDataMax) throw EListError(kMaxLengthMessage);
  const std::size_t length = text.size() + 1;
  std::string element;
  element += '\0';
  element += static_cast<char>(length & 0xFF);
  element += static_cast<char>(length >> 8);
  element += kTypeString;
  element += text;
  return element;
}

// Exact text of an integer: "-0" and "+5" are not integers, "5" is.
std::optional<int64_t> CanonicalInteger(std::string_view text) {
  int64_t v = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), v);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
  if (std::to_string(v) != text) return std::nullopt;
  return v;
}

// The mantissa value * 10^scale when it is a whole number that fits a signed
// 64-bit integer and is not zero. Anything else cannot come back unchanged
// from a decimal element, so such values are kept as strings.
std::optional<int64_t> ExactMantissa(const TDecimal& value, int scale) {
  if (value.IsZero()) return std::nullopt;
  const int shift = value.exponent + scale;
  if (shift < 0 || value.digits.size() + static_cast<std::size_t>(shift) > 19) return std::nullopt;
  const uint64_t limit = value.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  const auto addDigit = [&](unsigned digit) {
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
    return true;
  };
  for (const char c : value.digits) {
    if (!addDigit(static_cast<unsigned>(c - '0'))) return std::nullopt;
  }
  for (int i = 0; i < shift; ++i) {
    if (!addDigit(0)) return std::nullopt;
  }
  if (!value.negative) return static_cast<int64_t>(magnitude);
  return magnitude == (uint64_t{1} << 63) ? std::numeric_limits<int64_t>::min()
                                          : -static_cast<int64_t>(magnitude);
}

// The element a text is stored as: integer when the text is exactly an
// integer's decimal form; decimal when it is exactly the general-format text
// of a number below 10^12 that the list's scale holds without loss and that
// reads back as the same text; else a string holding the bytes unchanged.
std::string ElementForText(std::string_view text, int scale) {
  if (const auto integer = CanonicalInteger(text)) return IntegerElement(*integer);
  if (const auto number = ParseDecimal(text)) {
    const int precision = static_cast<int>(text.size()) - 1;
    const bool belowLimit = number->negative || number->LeadingPower() < 12;
    if (belowLimit && FormatGeneral(*number, precision) == text &&
        FormatGeneral(*number, kReadPrecision) == text) {
      if (const auto mantissa = ExactMantissa(*number, scale)) {
        return DecimalElement(*mantissa, scale);
      }
    }
  }
  return StringElement(text);
}

std::string ElementForReal(long double value, int scale) {
  const long double scaled = value * std::pow(10.0L, scale);
  // nearbyint rounds halves to the even neighbour in the default mode.
  const long double rounded = std::nearbyint(scaled);
  constexpr long double kTwo63 = 9223372036854775808.0L;
  if (std::isfinite(rounded) && rounded >= -kTwo63 && rounded < kTwo63 &&
      (rounded != 0 || value == 0)) {
    return DecimalElement(static_cast<int64_t>(rounded), scale);
  }
  const auto text = FormatGeneral(value, kReadPrecision);
  if (!text) throw EListError("NOT A NUMBER");
  return StringElement(*text);
}

// Magnitude bytes, least significant first; nullopt past 64 bits. For the
// negative forms each byte is first taken back as 255 - byte.
std::optional<uint64_t> ReadMagnitude(std::string_view bytes, bool complemented) {
  uint64_t v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (complemented) b = static_cast<unsigned char>(0xFF - b);
    if (v >> 56 != 0) return std::nullopt;
    v = (v << 8) | b;
  }
  return v;
}

// Decimal digits of -(w + 1) or of m, without sign.
std::string MagnitudeDigits(uint64_t v, bool complemented) {
  if (!complemented) return std::to_string(v);
  if (v == std::numeric_limits<uint64_t>::max()) return "18446744073709551616";
  return std::to_string(v + 1);
}

std::string ElementText(std::string_view element) {
  const auto lead = static_cast<unsigned char>(element[0]);
  std::string_view body;  // type byte and data
  if (lead != 0) {
    body = element.substr(1);
  } else {
    body = element.substr(3);
  }
  if (body.empty()) return {};  // undefined element
  const char type = body[0];
  const std::string_view data = body.substr(1);
  switch (type) {
    case kTypeString:
      return std::string(data);
    case kTypeInteger:
    case kTypeNegativeInteger: {
      const bool negative = type == kTypeNegativeInteger;
      const auto v = ReadMagnitude(data, negative);
      if (!v) return {};
      return (negative ? "-" : "") + MagnitudeDigits(*v, negative);
    }
    case kTypeDecimal:
    case kTypeNegativeDecimal: {
      if (data.empty()) return {};
      const bool negative = type == kTypeNegativeDecimal;
      const auto v = ReadMagnitude(data.substr(1), negative);
      if (!v) return {};
      const int power = -(256 - static_cast<unsigned char>(data[0]));
      const TDecimal value = MakeDecimal(negative, MagnitudeDigits(*v, negative), power);
      return FormatGeneral(value, kReadPrecision);
    }
    default:
      return {};
  }
}

void RequireIndex(int index) {
  if (index < 1) throw EListError("LIST INDEX " + std::to_string(index) + " BELOW 1");
}

}  // namespace

void TMList::SetData(std::string data) {
  data_ = std::move(data);
  countValid_ = false;
}

int TMList::Count() {
  if (!countValid_) {
    count_ = 0;
    // A lone byte counts as no elements, even the undefined element 1.
    if (data_.size() > 1) {
      if (const auto spans = Walk(data_)) count_ = static_cast<int>(spans->size());
    }
    countValid_ = true;
  }
  return count_;
}

std::string TMList::GetText(int index) {
  RequireIndex(index);
  if (Count() < index) return {};
  const auto spans = Walk(data_);
  const Span& span = (*spans)[static_cast<std::size_t>(index - 1)];
  return ElementText(std::string_view(data_).substr(span.offset, span.size));
}

int64_t TMList::GetInteger(int index) {
  const std::string text = GetText(index);
  int64_t v = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), v);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return 0;
  return v;
}

void TMList::SetText(int index, std::string_view text) {
  RequireIndex(index);
  const auto spans = Walk(data_);
  // Appending behind bytes that do not parse would hide the new element
  // inside them while reporting success; such a list is refused instead.
  if (!spans) throw EListError("MALFORMED LIST");
  const std::string element = ElementForText(text, scale_);
  const auto wanted = static_cast<std::size_t>(index);
  std::string result;
  if (spans->size() < wanted) {
    const std::size_t padding = wanted - 1 - spans->size();
    if (data_.size() + padding + element.size() > kMaxListLength) {
      throw EListError(kMaxLengthMessage);
    }
    result = data_;
    result.append(padding, kUndefinedElement);
    result += element;
  } else {
    const Span& old = (*spans)[wanted - 1];
    if (data_.size() - old.size + element.size() > kMaxListLength) {
      throw EListError(kMaxLengthMessage);
    }
    result = data_.substr(0, old.offset) + element + data_.substr(old.offset + old.size);
  }
  SetData(std::move(result));
}

void TMList::SetInteger(int index, int64_t value) { SetText(index, std::to_string(value)); }

void TMList::Build(std::span<const Value> values) {
  std::string result;
  for (const Value& value : values) {
    if (std::holds_alternative<std::monostate>(value)) {
      result += kUndefinedElement;
    } else if (const auto* integer = std::get_if<int64_t>(&value)) {
      result += IntegerElement(*integer);
    } else if (const auto* real = std::get_if<long double>(&value)) {
      result += ElementForReal(*real, scale_);
    } else {
      const auto& text = std::get<std::string>(value);
      if (text.size() > kMaxListLength) throw EListError(kMaxLengthMessage);
      result += StringElement(text);
    }
    if (result.size() > kMaxListLength) throw EListError(kMaxLengthMessage);
  }
  SetData(std::move(result));
}

}  // namespace kovra
