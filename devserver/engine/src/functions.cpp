// The intrinsic functions.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <random>
#include <vector>

#include "interp.h"
#include "number.h"
#include "text.h"

namespace mengine {
namespace {

std::string justify(const std::string& value, long width, const std::string* decimals) {
  std::string text = decimals ? fixedDecimals(value, toInteger(*decimals)) : value;
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
  // The empty string is found where the search starts, wherever that is.
  if (what.empty()) return std::to_string(start);
  if (start - 1 > static_cast<long>(s.size())) return "0";
  size_t pos = s.find(what, static_cast<size_t>(start - 1));
  if (pos == std::string::npos) return "0";
  return std::to_string(pos + what.size() + 1);
}

// A whole number from 0 to n-1, for any n a number holds exactly.
std::string random(const std::string& limit) {
  std::int64_t n = toNumber(limit).clampedInteger(999'999'999'999'999'999);
  if (n < 1) throw MError("<FUNCTION>");
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return std::to_string(std::uniform_int_distribution<std::int64_t>(0, n - 1)(rng));
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
    case Fn::Find: return find(v[0], v[1], v.size() > 2 ? toInteger(v[2]) : 1);
    case Fn::Translate: return translate(v[0], v[1], v.size() > 2 ? v[2] : "");
    case Fn::ZUpper: return upperCase(v[0]);
    case Fn::ZLower: return lowerCase(v[0]);
    case Fn::Reverse: return std::string(v[0].rbegin(), v[0].rend());
    case Fn::Justify: return justify(v[0], toInteger(v[1]), v.size() > 2 ? &v[2] : nullptr);
    case Fn::Random: return random(v[0]);
    case Fn::FNumber: {
      long decimals = v.size() > 2 ? toInteger(v[2]) : 0;
      return fnumber(v[0], v[1], v.size() > 2 ? &decimals : nullptr);
    }
    default: throw MError("<FUNCTION>");
  }
}

// The values of a function's arguments, left to right, for the functions of
// at most four. A value read in place is copied before an argument that may
// change variables is evaluated.
// Each value is made in its place, only as many as there are arguments.
class Arguments {
 public:
  static constexpr size_t kMax = 4;
  Arguments() = default;
  ~Arguments() {
    for (size_t i = 0; i < n_; ++i) (*this)[i].~Value();
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  // The next argument: the value evaluate returns.
  template <typename Evaluate>
  void add(Evaluate evaluate) {
    ::new (storage_[n_]) Value(evaluate());
    ++n_;
  }
  Value& operator[](size_t i) { return *std::launder(reinterpret_cast<Value*>(storage_[i])); }
  size_t size() const { return n_; }
  bool has(size_t i) const { return i < n_; }

 private:
  alignas(Value) unsigned char storage_[kMax][sizeof(Value)];
  size_t n_ = 0;
};

}  // namespace

// The commonest functions work on values: a number stays a number, a
// variable is read in place and a length or count is not written as text.
Value Job::Impl::evalIntrinsic(const Expr& e) {
  const auto& a = e.args;
  switch (e.fn) {
    case Fn::Select:
      for (size_t i = 0; i + 1 < a.size(); i += 2)
        if (evalValue(*a[i]).isTrue()) return evalValue(*a[i + 1]);
      throw MError("<SELECT>");
    case Fn::Length: case Fn::Extract: case Fn::Piece:
      break;
    default:
      return Value(evalFunction(e));
  }
  Arguments v;
  for (size_t i = 0; i < a.size() && i < Arguments::kMax; ++i) {
    if (!a[i]->pure)
      for (size_t k = 0; k < i; ++k) v[k].own();
    v.add([&] { return evalValue(*a[i]); });
  }
  const std::string& s = v[0].text();
  switch (e.fn) {
    case Fn::Length:
      return Number(v.has(1) ? pieceCount(s, v[1].text()) : static_cast<long>(s.size()));
    case Fn::Extract: {
      long from = v.has(1) ? integerOf(v[1]) : 1;
      return Value(extract(s, from, v.has(2) ? integerOf(v[2]) : from));
    }
    default: {
      long from = v.has(2) ? integerOf(v[2]) : 1;
      return Value(piece(s, v[1].text(), from, v.has(3) ? integerOf(v[3]) : from));
    }
  }
}

std::string Job::Impl::evalFunction(const Expr& e) {
  switch (e.fn) {
    case Fn::Data: case Fn::Get: case Fn::Order: case Fn::Name: case Fn::Query: case Fn::Next:
    case Fn::Increment:
      return referenceFunction(e);
    case Fn::Text:
      return lineText(e.entry);
    case Fn::ZOther:
      throw MError("<FUNCTION>");
    default:
      break;
  }
  std::vector<std::string> v;
  v.reserve(e.args.size());
  for (const auto& arg : e.args) v.push_back(arg ? eval(*arg) : "");
  switch (e.fn) {
    case Fn::View: return view(v);
    case Fn::Stack: return stackInfo(toInteger(v[0]), v.size() > 1 ? v[1] : "");
    case Fn::QLength: case Fn::QSubscript: return nameFunction(e.fn, v);
    default: return stringFunction(e.fn, v);
  }
}

// Functions whose first argument is a variable rather than its value.
std::string Job::Impl::referenceFunction(const Expr& e) {
  const auto& a = e.args;
  // $NAME only names its argument: the naked indicator stays as it was.
  Target t = resolveSubscripts(a[0]->ref);
  bindNaked(t, e.fn != Fn::Name);
  switch (e.fn) {
    case Fn::Data: return std::to_string(dataOf(t));
    case Fn::Get: {
      auto v = fetch(t);
      if (v) return *v;
      return a.size() > 1 ? eval(*a[1]) : "";
    }
    case Fn::Order: return order(t, a.size() > 1 ? direction(eval(*a[1])) : true);
    case Fn::Next: {
      // $NEXT: -1 stands for the edge where $ORDER has "".
      if (!t.subs.empty() && t.subs.back() == "-1") t.subs.back() = "";
      std::string next = order(t, true);
      return next.empty() ? "-1" : next;
    }
    case Fn::Name: {
      if (a.size() > 1) {
        long depth = toInteger(eval(*a[1]));
        if (depth < 0) throw MError("<FUNCTION>");
        if (static_cast<size_t>(depth) < t.subs.size()) t.subs.resize(static_cast<size_t>(depth));
      }
      return displayName(t);
    }
    case Fn::Increment: return increment(t, a.size() > 1 ? eval(*a[1]) : "1");
    default:
      if (a.size() > 1 && !direction(eval(*a[1]))) throw MError("<FUNCTION> *$QUERY backwards");
      return query(t);
  }
}

namespace {

// A subscript written as a constant: a literal or a negated number literal.
bool isConstant(const Expr& e) {
  if (e.kind == Expr::Kind::Literal) return true;
  return e.kind == Expr::Kind::Unary && e.op == Op::Minus &&
         e.args[0]->kind == Expr::Kind::Literal;
}

}  // namespace

// $QLENGTH and $QSUBSCRIPT of a canonic name such as ^G(1,"a"), as $NAME
// writes it; any other text is refused.
std::string Job::Impl::nameFunction(Fn fn, const std::vector<std::string>& v) {
  auto refuse = [&]() { throw CodedError("M90", "<FUNCTION> *not a canonic name: " + v[0]); };
  std::shared_ptr<const Ref> held;
  try {
    held = cachedReference(v[0]);
  } catch (const MError&) {
    refuse();
  }
  const Ref& ref = *held;
  if (ref.indirect || ref.special || (ref.global && ref.name.empty())) refuse();
  Target t;
  t.global = ref.global;
  t.name = ref.name;
  t.ssvn = ref.ssvn;
  for (const auto& sub : ref.subs) {
    if (!isConstant(*sub)) refuse();
    t.subs.push_back(eval(*sub));
  }
  std::string environment;
  if (ref.environment) {
    if (!isConstant(*ref.environment)) refuse();
    environment = eval(*ref.environment);
  }
  std::string canonic = displayName(t);
  if (ref.environment) canonic.insert(1, "|" + quoted(environment) + "|");
  if (canonic != v[0]) refuse();
  const Subscripts& subs = t.subs;
  if (fn == Fn::QLength) return std::to_string(subs.size());
  long n = toInteger(v[1]);
  if (n < -1) throw MError("<FUNCTION>");
  if (n == -1) return environment;
  if (n == 0) return (ref.global ? (ref.ssvn ? "^$" : "^") : "") + ref.name;
  return static_cast<size_t>(n) <= subs.size() ? subs[static_cast<size_t>(n) - 1] : "";
}

bool Job::Impl::direction(const std::string& value) {
  std::string dir = canonicalNumber(value);
  if (dir != "1" && dir != "-1") throw MError("<FUNCTION>");
  return dir == "1";
}

std::string Job::Impl::increment(const Target& t, const std::string& by) {
  if (t.global && !t.ssvn)
    return server.impl().increment(dbOf(t), t.name, t.subs, toNumber(by), transactionLog());
  std::string value = formatNumber(toNumber(fetch(t).value_or("0")) + toNumber(by));
  store(t, value);
  return value;
}

std::string Job::Impl::query(Target t) {
  // A last subscript "" starts before the first sibling.
  if (!t.subs.empty() && t.subs.back().empty()) t.subs.pop_back();
  std::optional<Subscripts> next;
  if (t.global) {
    next = server.impl().query(dbOf(t), t.name, t.subs);
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
