// Conversions between KOVRA_STR records and byte strings, used at the C
// boundary only.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "kovrasc.h"

namespace kovra {

// The record's text: exactly len bytes of str; bytes behind len are never read.
// A len beyond the record's capacity counts as the full record, so a bad
// length never makes the library read past the record.
inline std::string KovraStrToText(const KOVRA_STR* record) {
  return std::string(record->str, std::min<std::size_t>(record->len, KOVRA_STR_MAX));
}

// Writes len and the bytes. A text longer than a record holds is cut at
// KOVRA_STR_MAX bytes, so no record is ever overrun.
inline void TextToKovraStr(std::string_view text, KOVRA_STR* record) {
  const std::size_t n = std::min<std::size_t>(text.size(), KOVRA_STR_MAX);
  record->len = static_cast<uint16_t>(n);
  if (n > 0) std::memcpy(record->str, text.data(), n);
}

}  // namespace kovra
