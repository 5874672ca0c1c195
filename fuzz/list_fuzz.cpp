// Decodes and sets list elements on arbitrary bytes and checks what must
// hold for any input: no read outside the data, a set element reads back as
// the text set, the other elements keep their texts, and a refused set
// leaves the list alone. QuoteM output is evaluated back as well.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kovrasc.h"
#include "mlist.h"
#include "quote_m.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> Texts(kovra::TMList& list) {
  std::vector<std::string> texts;
  const int count = list.Count();
  for (int i = 1; i <= count; ++i) texts.push_back(list.GetText(i));
  return texts;
}

// Literals with doubled quotes, $C(n,...) and _, as QuoteM writes them.
bool Unquote(const std::string& expression, std::string& out) {
  std::size_t pos = 0;
  for (;;) {
    if (pos < expression.size() && expression[pos] == '"') {
      ++pos;
      for (;;) {
        if (pos >= expression.size()) return false;
        const char c = expression[pos++];
        if (c != '"') {
          out += c;
        } else if (pos < expression.size() && expression[pos] == '"') {
          out += '"';
          ++pos;
        } else {
          break;
        }
      }
    } else if (expression.compare(pos, 3, "$C(") == 0) {
      pos += 3;
      for (;;) {
        int code = 0;
        std::size_t digits = 0;
        while (pos < expression.size() && expression[pos] >= '0' && expression[pos] <= '9' &&
               digits < 3) {
          code = code * 10 + (expression[pos++] - '0');
          ++digits;
        }
        if (digits == 0 || code > 255 || pos >= expression.size()) return false;
        out += static_cast<char>(code);
        if (expression[pos++] == ')') break;
        if (expression[pos - 1] != ',') return false;
      }
    } else {
      return false;
    }
    if (pos == expression.size()) return true;
    if (expression[pos++] != '_') return false;
  }
}

void CheckSet(const std::string& data, int index, const std::string& value) {
  kovra::TMList list;
  list.SetData(data);
  const auto before = Texts(list);
  try {
    list.SetText(index, value);
  } catch (const kovra::EListError&) {
    Check(list.Data() == data);
    return;
  }
  Check(list.Data().size() <= kovra::TMList::kMaxListLength);
  Check(list.GetText(index) == value);
  const auto after = Texts(list);
  Check(after.size() >= static_cast<std::size_t>(index));
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (i + 1 != static_cast<std::size_t>(index)) Check(after[i] == before[i]);
  }
}

void CheckCInterface(const std::string& data, int index, const std::string& value) {
  auto list = std::make_unique<KOVRA_STR>();
  auto item = std::make_unique<KOVRA_STR>();
  auto text = std::make_unique<KOVRA_STR>();
  list->len = static_cast<uint16_t>(data.size());
  std::memcpy(list->str, data.data(), data.size());
  text->len = static_cast<uint16_t>(value.size());
  std::memcpy(text->str, value.data(), value.size());
  const int count = KVRListLength(list.get());
  Check(count >= 0);
  Check(KVRListGet(list.get(), index, item.get()) == (index >= 1 ? 1 : 0));
  if (KVRListSet(list.get(), index, text.get()) == 1) {
    Check(KVRListGet(list.get(), index, item.get()) == 1);
    Check(std::string(item->str, item->len) == value);
  }
  if (KVRText(text.get(), item.get()) == 1) {
    std::string back;
    Check(Unquote(std::string(item->str, item->len), back) && back == value);
  }
}

}  // namespace

// Input: one byte for the index (signed, so indexes below 1 occur), one
// byte for where the value starts, then the list and the value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 2 || size > 2 + KOVRA_STR_MAX) return 0;
  const int index = static_cast<int8_t>(bytes[0]);
  const std::string rest(reinterpret_cast<const char*>(bytes) + 2, size - 2);
  const std::size_t split = rest.empty() ? 0 : bytes[1] % (rest.size() + 1);
  const std::string value = rest.substr(split);
  const std::string data = rest.substr(0, split);

  kovra::TMList list;
  list.SetData(rest);
  const auto texts = Texts(list);
  for (std::size_t i = 0; i < texts.size(); ++i) (void)list.GetInteger(static_cast<int>(i + 1));

  if (index >= 1) CheckSet(data, index, value);
  CheckCInterface(data, index, value);

  std::string back;
  Check(Unquote(kovra::QuoteM(value), back) && back == value);
  return 0;
}
