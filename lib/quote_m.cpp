#include "quote_m.h"

namespace kovra {

std::string QuoteM(std::string_view text) {
  if (text.empty()) return "\"\"";
  // What the result currently ends inside: nothing yet, an open string
  // literal, or an open $C argument list.
  enum class Open { None, Literal, CharList } open = Open::None;
  std::string out;
  out.reserve(text.size() + 2);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 32) {
      if (open == Open::Literal) out += "\"_$C(";
      else if (open == Open::None) out += "$C(";
      else out += ',';
      out += std::to_string(b);
      open = Open::CharList;
    } else {
      if (open == Open::CharList) out += ")_\"";
      else if (open == Open::None) out += '"';
      if (c == '"') out += "\"\"";
      else out += c;
      open = Open::Literal;
    }
  }
  out += open == Open::Literal ? "\"" : ")";
  return out;
}

}  // namespace kovra
