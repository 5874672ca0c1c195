#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "interp.h"
#include "number.h"

namespace mengine {
namespace {

long toInt(const std::string& s) {
  long double v = std::trunc(toNumber(s));
  if (v > 1e9L) return 1000000000L;
  if (v < -1e9L) return -1000000000L;
  return static_cast<long>(v);
}

// Characters from..to (1-based, inclusive) of s, clipped to s.
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

std::string justify(const std::string& value, long width, const std::string* decimals) {
  std::string text = value;
  if (decimals) {
    long d = toInt(*decimals);
    if (d < 0) throw MError("<FUNCTION>");
    if (d > 100) d = 100;
    long double v = toNumber(value);
    long double scale = std::pow(10.0L, static_cast<long double>(d));
    long double rounded = std::round(v * scale) / scale;
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*Lf", static_cast<int>(d), rounded);
    text = buf;
    if (text.rfind("-0", 0) == 0 && rounded == 0) text.erase(0, 1);
  }
  if (width > static_cast<long>(kMaxString)) throw MError("<MAXSTRING>");
  if (static_cast<long>(text.size()) < width)
    text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

std::string translate(const std::string& s, const std::string& from, const std::string& to) {
  std::string out;
  for (char c : s) {
    size_t k = from.find(c);
    if (k == std::string::npos) {
      out += c;
    } else if (k < to.size()) {
      out += to[k];
    }
  }
  return out;
}

}  // namespace

std::string replacePieces(const std::string& old, const std::string& delim, long from, long to,
                          const std::string& value) {
  if (delim.empty() || to < from || to < 1) return old;
  if (from < 1) from = 1;
  if (static_cast<size_t>(from - 1) * delim.size() > kMaxString) throw MError("<MAXSTRING>");
  std::vector<std::string> pieces;
  size_t pos = 0;
  while (true) {
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

long toInteger(const std::string& s) { return toInt(s); }

std::string Job::Impl::lineText(const EntryRef& entry) {
  std::shared_ptr<Routine> r;
  if (!entry.routine.empty()) {
    try {
      r = loadRoutine(entry.routine);
    } catch (const MError&) {
      return "";
    }
  } else if (current && current->routine) {
    r = current->routine;
  } else {
    return "";
  }
  // +0 names the routine itself.
  if (entry.label.empty() && entry.offset == 0) return r->name;
  size_t index;
  try {
    index = findLabel(*r, entry.label, entry.label.empty() ? entry.offset - 1 : entry.offset);
  } catch (const MError&) {
    return "";
  }
  return r->lines[index];
}

std::string Job::Impl::evalFunction(const Expr& e) {
  const std::string& f = e.text;
  const auto& a = e.args;
  if (f == "SELECT") {
    for (size_t i = 0; i + 1 < a.size(); i += 2)
      if (isTrue(eval(*a[i]))) return eval(*a[i + 1]);
    throw MError("<SELECT>");
  }
  if (f == "DATA") return std::to_string(dataOf(resolve(a[0]->ref)));
  if (f == "GET") {
    Target t = resolve(a[0]->ref);
    auto v = fetch(t);
    if (v) return *v;
    return a.size() > 1 ? eval(*a[1]) : "";
  }
  if (f == "ORDER") {
    Target t = resolve(a[0]->ref);
    bool forward = true;
    if (a.size() > 1) {
      std::string dir = canonicalNumber(eval(*a[1]));
      if (dir == "-1") {
        forward = false;
      } else if (dir != "1") {
        throw MError("<FUNCTION>");
      }
    }
    return order(t, forward);
  }
  if (f == "NAME") return displayName(resolve(a[0]->ref));
  if (f == "TEXT") return lineText(e.entry);
  if (f == "QUERY") {
    Target t = resolve(a[0]->ref);
    std::optional<Subscripts> next;
    if (t.global) {
      next = server.impl().query(*db, t.name, t.subs);
    } else if (auto root = localRoot(t.name, false)) {
      next = queryAfter(*root, t.subs);
    }
    if (!next) return "";
    t.subs = std::move(*next);
    return displayName(t);
  }

  // The remaining functions take values, evaluated left to right.
  std::vector<std::string> v;
  v.reserve(a.size());
  for (const auto& arg : a) v.push_back(eval(*arg));
  if (f == "ASCII") {
    long n = v.size() > 1 ? toInt(v[1]) : 1;
    if (n < 1 || n > static_cast<long>(v[0].size())) return "-1";
    return std::to_string(static_cast<unsigned char>(v[0][static_cast<size_t>(n - 1)]));
  }
  if (f == "CHAR") {
    std::string out;
    for (const auto& n : v) {
      long c = toInt(n);
      if (c >= 0 && c <= 255) out += static_cast<char>(c);
    }
    return out;
  }
  if (f == "EXTRACT") {
    long from = v.size() > 1 ? toInt(v[1]) : 1;
    long to = v.size() > 2 ? toInt(v[2]) : from;
    return extract(v[0], from, to);
  }
  if (f == "FIND") {
    long start = v.size() > 2 ? toInt(v[2]) : 1;
    if (start < 1) start = 1;
    if (start - 1 > static_cast<long>(v[0].size())) return "0";
    size_t pos = v[0].find(v[1], static_cast<size_t>(start - 1));
    if (pos == std::string::npos) return "0";
    return std::to_string(pos + v[1].size() + 1);
  }
  if (f == "JUSTIFY") return justify(v[0], toInt(v[1]), v.size() > 2 ? &v[2] : nullptr);
  if (f == "LENGTH") {
    if (v.size() > 1) return std::to_string(pieceCount(v[0], v[1]));
    return std::to_string(v[0].size());
  }
  if (f == "PIECE") {
    long from = v.size() > 2 ? toInt(v[2]) : 1;
    long to = v.size() > 3 ? toInt(v[3]) : from;
    return piece(v[0], v[1], from, to);
  }
  if (f == "TRANSLATE") return translate(v[0], v[1], v.size() > 2 ? v[2] : "");
  if (f == "ZUPPER") return upperCase(v[0]);
  if (f == "ZLOWER") {
    std::string out = v[0];
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
  }
  if (f == "REVERSE") return std::string(v[0].rbegin(), v[0].rend());
  if (f == "RANDOM") {
    long n = toInt(v[0]);
    if (n < 1) throw MError("<FUNCTION>");
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    return std::to_string(std::uniform_int_distribution<long>(0, n - 1)(rng));
  }
  if (f == "VIEW") {
    if (v.size() == 2 && upperCase(v[0]) == "PROC" && canonicalNumber(v[1]) == "6")
      return server.options().directory;
    throw MError("<FUNCTION>");
  }
  throw MError("<FUNCTION>");
}

}  // namespace mengine
