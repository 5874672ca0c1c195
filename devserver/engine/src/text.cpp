#include "text.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "mengine/engine.h"

namespace mengine {

std::string upperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string lowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string extract(const std::string& s, long from, long to) {
  if (from < 1) from = 1;
  if (to > static_cast<long>(s.size())) to = static_cast<long>(s.size());
  if (to < from) return "";
  return s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1));
}

std::string piece(const std::string& s, const std::string& delim, long from, long to) {
  if (delim.empty() || to < from || to < 1) return "";
  if (from < 1) from = 1;
  long n = 1;
  size_t pos = 0;
  size_t start = std::string::npos;
  while (true) {
    if (n == from) start = pos;
    size_t next = s.find(delim, pos);
    if (n == to || next == std::string::npos) {
      if (start == std::string::npos) return "";
      return s.substr(start, (n == to && next != std::string::npos ? next : s.size()) - start);
    }
    pos = next + delim.size();
    ++n;
  }
}

long pieceCount(const std::string& s, const std::string& delim) {
  if (delim.empty()) return 0;
  long n = 1;
  for (size_t pos = s.find(delim); pos != std::string::npos; pos = s.find(delim, pos + delim.size()))
    ++n;
  return n;
}

std::string replacePieces(const std::string& old, const std::string& delim, long from, long to,
                          const std::string& value) {
  if (to < from || to < 1) return old;
  if (from < 1) from = 1;
  if (static_cast<size_t>(from - 1) * delim.size() > kMaxString) throw MError("<MAXSTRING>");
  std::vector<std::string> pieces;
  size_t pos = 0;
  // An empty delimiter separates nothing: the whole value is piece 1, so a
  // later piece is appended to it and piece 1 replaces it.
  if (delim.empty()) {
    pieces.push_back(old);
    from = std::min(from, 2L);
    to = std::min(to, 2L);
  }
  while (!delim.empty()) {
    size_t next = old.find(delim, pos);
    pieces.push_back(old.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
    if (next == std::string::npos) break;
    pos = next + delim.size();
  }
  if (static_cast<long>(pieces.size()) < from) pieces.resize(static_cast<size_t>(from));
  size_t first = static_cast<size_t>(from - 1);
  size_t last = std::min(pieces.size(), static_cast<size_t>(to));
  pieces.erase(pieces.begin() + static_cast<long>(first), pieces.begin() + static_cast<long>(last));
  pieces.insert(pieces.begin() + static_cast<long>(first), value);
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out += delim;
    out += pieces[i];
    if (out.size() > kMaxString) throw MError("<MAXSTRING>");
  }
  return out;
}

std::string replaceCharacters(const std::string& old, long from, long to, const std::string& value) {
  if (to < from || to < 1) return old;
  if (from < 1) from = 1;
  if (from - 1 > static_cast<long>(kMaxString)) throw MError("<MAXSTRING>");
  std::string out = old;
  if (static_cast<long>(out.size()) < from - 1) out.resize(static_cast<size_t>(from - 1), ' ');
  size_t first = static_cast<size_t>(from - 1);
  size_t count = std::min(out.size(), static_cast<size_t>(to)) - std::min(out.size(), first);
  out.replace(std::min(out.size(), first), count, value);
  if (out.size() > kMaxString) throw MError("<MAXSTRING>");
  return out;
}

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    out += c;
    if (c == '"') out += c;
  }
  return out + "\"";
}

}  // namespace mengine
