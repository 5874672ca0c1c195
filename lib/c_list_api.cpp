// The list and text functions of the C interface. Each call works on a fresh
// codec, keeps no state, reads its records as c_boundary.h says and turns
// every failure into the result 0.
#include <string>
#include <string_view>

#include "c_boundary.h"
#include "kovra_str.h"
#include "kovrasc.h"
#include "mlist.h"
#include "quote_m.h"

namespace {

// These calls have no handle to keep a last error in.
void NoLastError(std::string_view) {}

}  // namespace

extern "C" {

int KVRListLength(KOVRA_STR *list) {
  return kovra::Guarded([&] {
    kovra::TMList codec;
    codec.SetData(kovra::ArgumentText(list, "list"));
    return codec.Count();
  }, NoLastError);
}

int KVRListGet(KOVRA_STR *list, int index, KOVRA_STR *item) {
  return kovra::Guarded([&] {
    kovra::TMList codec;
    codec.SetData(kovra::ArgumentText(list, "list"));
    KOVRA_STR& out = kovra::ResultRecord(item, "item");
    const std::string text = codec.GetText(index);
    if (text.size() > KOVRA_STR_MAX) return 0;
    kovra::TextToKovraStr(text, &out);
    return 1;
  }, NoLastError);
}

int KVRListSet(KOVRA_STR *list, int index, KOVRA_STR *value) {
  return kovra::Guarded([&] {
    kovra::TMList codec;
    codec.SetData(kovra::ArgumentText(list, "list"));
    codec.SetText(index, kovra::ArgumentText(value, "value"));
    // The codec refuses lists longer than a record; checked again here
    // because a cut list would be silently corrupt.
    if (codec.Data().size() > KOVRA_STR_MAX) return 0;
    kovra::TextToKovraStr(codec.Data(), list);
    return 1;
  }, NoLastError);
}

int KVRText(KOVRA_STR *text, KOVRA_STR *literal) {
  return kovra::Guarded([&] {
    const std::string quoted = kovra::QuoteM(kovra::ArgumentText(text, "text"));
    KOVRA_STR& out = kovra::ResultRecord(literal, "literal");
    if (quoted.size() >= KOVRA_STR_MAX) return 0;
    kovra::TextToKovraStr(quoted, &out);
    return 1;
  }, NoLastError);
}

}  // extern "C"
