#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "interp.h"
#include "number.h"
#include "text.h"

namespace mengine {
namespace {

std::string justify(const std::string& value, long width, const std::string* decimals) {
  std::string text = value;
  if (decimals) {
    long d = toInteger(*decimals);
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

std::string find(const std::string& s, const std::string& what, long start) {
  if (start < 1) start = 1;
  if (start - 1 > static_cast<long>(s.size())) return "0";
  size_t pos = s.find(what, static_cast<size_t>(start - 1));
  if (pos == std::string::npos) return "0";
  return std::to_string(pos + what.size() + 1);
}

std::string random(long n) {
  if (n < 1) throw MError("<FUNCTION>");
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return std::to_string(std::uniform_int_distribution<long>(0, n - 1)(rng));
}

// Functions of values alone: their arguments are evaluated left to right.
std::string stringFunction(Fn f, const std::vector<std::string>& v) {
  switch (f) {
    case Fn::Ascii: {
      long n = v.size() > 1 ? toInteger(v[1]) : 1;
      if (n < 1 || n > static_cast<long>(v[0].size())) return "-1";
      return std::to_string(static_cast<unsigned char>(v[0][static_cast<size_t>(n - 1)]));
    }
    case Fn::Char: {
      std::string out;
      for (const auto& n : v) {
        long c = toInteger(n);
        if (c >= 0 && c <= 255) out += static_cast<char>(c);
      }
      return out;
    }
    case Fn::Extract: {
      long from = v.size() > 1 ? toInteger(v[1]) : 1;
      return extract(v[0], from, v.size() > 2 ? toInteger(v[2]) : from);
    }
    case Fn::Find: return find(v[0], v[1], v.size() > 2 ? toInteger(v[2]) : 1);
    case Fn::Length:
      return std::to_string(v.size() > 1 ? pieceCount(v[0], v[1]) : static_cast<long>(v[0].size()));
    case Fn::Piece: {
      long from = v.size() > 2 ? toInteger(v[2]) : 1;
      return piece(v[0], v[1], from, v.size() > 3 ? toInteger(v[3]) : from);
    }
    case Fn::Translate: return translate(v[0], v[1], v.size() > 2 ? v[2] : "");
    case Fn::ZUpper: return upperCase(v[0]);
    case Fn::ZLower: return lowerCase(v[0]);
    case Fn::Reverse: return std::string(v[0].rbegin(), v[0].rend());
    case Fn::Justify: return justify(v[0], toInteger(v[1]), v.size() > 2 ? &v[2] : nullptr);
    case Fn::Random: return random(toInteger(v[0]));
    default: throw MError("<FUNCTION>");
  }
}

}  // namespace


std::string Job::Impl::evalFunction(const Expr& e) {
  switch (e.fn) {
    case Fn::Select:
      for (size_t i = 0; i + 1 < e.args.size(); i += 2)
        if (isTrue(eval(*e.args[i]))) return eval(*e.args[i + 1]);
      throw MError("<SELECT>");
    case Fn::Data: case Fn::Get: case Fn::Order: case Fn::Name: case Fn::Query:
      return referenceFunction(e);
    case Fn::Text:
      return lineText(e.entry);
    default:
      break;
  }
  std::vector<std::string> v;
  v.reserve(e.args.size());
  for (const auto& arg : e.args) v.push_back(eval(*arg));
  if (e.fn == Fn::View) return view(v);
  return stringFunction(e.fn, v);
}

// Functions whose first argument is a variable rather than its value.
std::string Job::Impl::referenceFunction(const Expr& e) {
  const auto& a = e.args;
  Target t = resolve(a[0]->ref);
  switch (e.fn) {
    case Fn::Data: return std::to_string(dataOf(t));
    case Fn::Get: {
      auto v = fetch(t);
      if (v) return *v;
      return a.size() > 1 ? eval(*a[1]) : "";
    }
    case Fn::Order: {
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
    case Fn::Name: return displayName(t);
    default: return query(t);
  }
}

std::string Job::Impl::query(Target t) {
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

std::string Job::Impl::view(const std::vector<std::string>& v) {
  if (v.size() == 2 && upperCase(v[0]) == "PROC" && canonicalNumber(v[1]) == "6")
    return server.options().directory;
  throw MError("<FUNCTION>");
}

}  // namespace mengine
