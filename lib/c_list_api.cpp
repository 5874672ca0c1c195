// The list and text functions of the C interface. Each call works on a fresh
// codec, keeps no state, and turns every failure into the result 0.
#include <optional>
#include <string>

#include "kovra_str.h"
#include "kovrasc.h"
#include "mlist.h"
#include "quote_m.h"

namespace {

// The text of a caller's record, or nullopt for a null pointer or a length
// the record cannot hold (reading it would run past the record).
std::optional<std::string> ReadRecord(const KOVRA_STR* record) {
  if (record == nullptr || record->len > KOVRA_STR_MAX) return std::nullopt;
  return kovra::KovraStrToText(record);
}

// Runs body and gives its result, or 0 when anything inside fails.
template <typename Body>
int Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return 0;
  }
}

}  // namespace

extern "C" {

int KVRListLength(KOVRA_STR *list) {
  return Guarded([&] {
    const auto data = ReadRecord(list);
    if (!data) return 0;
    kovra::TMList codec;
    codec.SetData(*data);
    return codec.Count();
  });
}

int KVRListGet(KOVRA_STR *list, int index, KOVRA_STR *item) {
  return Guarded([&] {
    const auto data = ReadRecord(list);
    if (!data || item == nullptr) return 0;
    kovra::TMList codec;
    codec.SetData(*data);
    const std::string text = codec.GetText(index);
    if (text.size() > KOVRA_STR_MAX) return 0;
    kovra::TextToKovraStr(text, item);
    return 1;
  });
}

int KVRListSet(KOVRA_STR *list, int index, KOVRA_STR *value) {
  return Guarded([&] {
    const auto data = ReadRecord(list);
    const auto text = ReadRecord(value);
    if (!data || !text) return 0;
    kovra::TMList codec;
    codec.SetData(*data);
    codec.SetText(index, *text);
    // The codec refuses lists longer than a record; checked again here
    // because a cut list would be silently corrupt.
    if (codec.Data().size() > KOVRA_STR_MAX) return 0;
    kovra::TextToKovraStr(codec.Data(), list);
    return 1;
  });
}

int KVRText(KOVRA_STR *text, KOVRA_STR *literal) {
  return Guarded([&] {
    const auto input = ReadRecord(text);
    if (!input || literal == nullptr) return 0;
    const std::string quoted = kovra::QuoteM(*input);
    if (quoted.size() >= KOVRA_STR_MAX) return 0;
    kovra::TextToKovraStr(quoted, literal);
    return 1;
  });
}

}  // extern "C"
