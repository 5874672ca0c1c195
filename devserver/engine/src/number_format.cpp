// $JUSTIFY's and $FNUMBER's renderings of numbers.
#include "coded_error.h"
#include "mengine/engine.h"
#include "number.h"
#include "text.h"

namespace mengine {

std::string fixedDecimals(std::string_view value, long decimals) {
  if (decimals < 0) throw MError("<FUNCTION>");
  if (decimals > static_cast<long>(kMaxString)) throw MError("<MAXSTRING>");
  Number n = toNumber(value).roundedTo(decimals);
  std::string text = n.text();
  bool negative = n.isNegative();
  if (negative) text.erase(0, 1);
  size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  fraction.append(static_cast<size_t>(decimals) - fraction.size(), '0');
  return (negative ? "-" : "") + (whole.empty() ? "0" : whole) + (decimals ? "." + fraction : "");
}

namespace {

// Commas between groups of three digits of the integer part.
std::string withCommas(const std::string& digits) {
  size_t point = digits.find('.');
  std::string whole = digits.substr(0, point);
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  return out + (point == std::string::npos ? "" : digits.substr(point));
}

}  // namespace

std::string fnumber(std::string_view value, std::string_view codes, const long* decimals) {
  bool plus = false, minus = false, comma = false, trailing = false, parens = false;
  for (char c : codes) {
    switch (c) {
      case '+': plus = true; break;
      case '-': minus = true; break;
      case ',': comma = true; break;
      case 'T': case 't': trailing = true; break;
      case 'P': case 'p': parens = true; break;
      default: throw CodedError("M2", "<FUNCTION> *$FNUMBER code " + std::string(1, c));
    }
  }
  if (parens && (plus || minus || trailing))
    throw CodedError("M2", "<FUNCTION> *$FNUMBER codes " + std::string(codes));
  std::string text = decimals ? fixedDecimals(value, *decimals) : canonicalNumber(value);
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  bool positive = !negative && toNumber(text) != 0;
  if (comma) text = withCommas(text);
  if (parens) return negative ? "(" + text + ")" : " " + text + " ";
  std::string sign = negative && !minus ? "-" : positive && plus ? "+" : "";
  // T puts the sign after the number, a blank where there is none.
  return trailing ? text + (sign.empty() ? " " : sign) : sign + text;
}

}  // namespace mengine
