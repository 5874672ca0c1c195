// Messages built as text before they are shown (in their turn, with -b on):
// a printf format filled with texts, so the format stays the one place a
// message is written.
#pragma once

#include <cstdio>
#include <string>

namespace kvrimport {

template <typename... Texts>
std::string messageText(const char* format, const Texts&... texts) {
  const int size = std::snprintf(nullptr, 0, format, texts.c_str()...);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  std::snprintf(text.data(), text.size() + 1, format, texts.c_str()...);
  return text;
}

}  // namespace kvrimport
