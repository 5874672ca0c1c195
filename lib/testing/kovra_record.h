// KOVRA_STR records for the tests of the C interface: one holding a text
// (on the heap: a record is 32 KiB), and the text a record holds.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "kovrasc.h"

namespace kvrtest {

inline std::unique_ptr<KOVRA_STR> Record(std::string_view text) {
  auto record = std::make_unique<KOVRA_STR>();
  record->len = static_cast<uint16_t>(text.size());
  std::memcpy(record->str, text.data(), text.size());
  return record;
}

inline std::string Text(const KOVRA_STR& record) { return std::string(record.str, record.len); }

}  // namespace kvrtest
