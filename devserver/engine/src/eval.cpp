// Evaluating expressions: atoms, the operators left to right, special
// variables.
#include <ctime>

#include "interp.h"
#include "number.h"
#include "pattern.h"
#include "tree.h"

namespace mengine {
namespace {

std::string boolText(bool b) { return b ? "1" : "0"; }

std::string checked(std::string s) {
  if (s.size() > kMaxString) throw MError("<MAXSTRING>");
  return s;
}

}  // namespace

std::string Job::Impl::eval(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Literal:
      return e.text;
    case Expr::Kind::Var: {
      if (e.ref.indirect && e.ref.subs.empty()) {
        // Expression indirection: the value is itself an expression atom.
        std::string text = eval(*e.ref.indirect);
        ExprP inner = cachedExpression(text);
        IndirectionLevel level(*this);
        return eval(*inner);
      }
      const Ref& ref = e.ref;
      if (!ref.global && !ref.indirect && !ref.ssvn && !ref.special && ref.subs.empty()) {
        // A plain local, the commonest operand: read in place.
        auto it = locals.find(ref.name);
        if (it != locals.end() && it->second->value) return *it->second->value;
      }
      return fetchOrThrow(resolve(ref));
    }
    case Expr::Kind::Unary: {
      std::string v = eval(*e.args[0]);
      if (e.op == Op::Not) return boolText(!isTrue(v));
      if (e.op == Op::Minus) return formatNumber(-toNumber(v));
      return canonicalNumber(v);
    }
    case Expr::Kind::Binary:
      return evalBinary(e);
    case Expr::Kind::Function:
      return evalFunction(e);
    case Expr::Kind::Special:
      return evalSpecial(e);
    case Expr::Kind::Extrinsic: {
      auto v = call(e.entry, true, nullptr);
      return v ? *v : "";
    }
  }
  throw MError("<SYNTAX>");
}

std::string Job::Impl::evalBinary(const Expr& e) {
  // Strictly left to right: the left operand is complete before the right
  // one is evaluated; there is no precedence. The operators of a chain nest
  // to the left, so the chain is walked in a loop rather than by recursion,
  // whose depth would grow with the length of the line.
  // Short chains, nearly all of them, are walked without allocating.
  constexpr size_t kShort = 16;
  const Expr* shortChain[kShort];
  std::vector<const Expr*> longChain;
  size_t length = 0;
  const Expr* node = &e;
  for (; node->kind == Expr::Kind::Binary; node = node->args[0].get(), ++length) {
    if (length < kShort) {
      shortChain[length] = node;
    } else {
      if (longChain.empty()) longChain.assign(shortChain, shortChain + kShort);
      longChain.push_back(node);
    }
  }
  const Expr* const* chain = length <= kShort ? shortChain : longChain.data();
  std::string value = eval(*node);
  for (size_t i = length; i-- > 0;) value = applyBinary(*chain[i], std::move(value));
  return value;
}

std::string Job::Impl::applyBinary(const Expr& e, std::string l) {
  if (e.op == Op::Match) {
    bool match;
    if (e.pattern) {
      match = matchPattern(*e.pattern, l);
    } else {
      std::string text = eval(*e.args[1]);
      auto pat = cachedPattern(text);
      match = matchPattern(*pat, l);
    }
    return boolText(match != e.negated);
  }
  std::string r = eval(*e.args[1]);
  bool result;
  switch (e.op) {
    case Op::Concat:
      // Appending to the owned left operand: a chain a_b_c_... grows one
      // string instead of copying the whole value at every link.
      l += r;
      return checked(std::move(l));
    case Op::Equals: result = l == r; break;
    case Op::Contains: result = l.find(r) != std::string::npos; break;
    case Op::Follows: result = l > r; break;
    // The empty string collates before every subscript.
    case Op::SortsAfter: result = !l.empty() && (r.empty() || Collate()(r, l)); break;
    case Op::And: result = isTrue(l) && isTrue(r); break;
    case Op::Or: result = isTrue(l) || isTrue(r); break;
    case Op::Less: result = toNumber(l) < toNumber(r); break;
    case Op::Greater: result = toNumber(l) > toNumber(r); break;
    default: return arithmetic(e, l, r);
  }
  return boolText(result != e.negated);
}

std::string Job::Impl::arithmetic(const Expr& e, const std::string& l, const std::string& r) {
  if (e.negated) throw MError("<SYNTAX>");
  Number a = toNumber(l);
  Number b = toNumber(r);
  switch (e.op) {
    case Op::Add: return formatNumber(a + b);
    case Op::Subtract: return formatNumber(a - b);
    case Op::Multiply: return formatNumber(a * b);
    case Op::Divide: return formatNumber(a / b);
    case Op::IntDivide: return formatNumber(integerDivide(a, b));
    case Op::Modulo: return formatNumber(modulo(a, b));
    case Op::Power: return formatNumber(power(a, b));
    default: throw MError("<SYNTAX>");
  }
}

std::string Job::Impl::horolog() const {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  long long seconds = static_cast<long long>(now) + local.tm_gmtoff;
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  return std::to_string(days + 47117) + "," + std::to_string(rest);
}

std::string Job::Impl::evalSpecial(const Expr& e) {
  switch (e.svn) {
    case Svn::Horolog: return horolog();
    case Svn::Test: return boolText(test);
    case Svn::Job: return std::to_string(jobNumber);
    case Svn::Io: return devices.current();
    case Svn::Principal: return devices.principal();
    case Svn::Device: return devices.status();
    case Svn::Key: return "";
    case Svn::X: return std::to_string(devices.x());
    case Svn::Y: return std::to_string(devices.y());
    case Svn::ZEof: return boolText(devices.atEnd());
    case Svn::Storage: return "16777216";
    // No system number has been assigned to this engine: 0 claims none.
    case Svn::System: return "0,kvrdevserver";
    case Svn::ZError: return zerror;
    case Svn::ZVersion: return "kvrdevserver M engine";
    case Svn::ECode: return ecode;
    case Svn::ETrap: return etrap;
    case Svn::Stack: return std::to_string(frames.size() - 1);
    case Svn::EStack: return std::to_string(frames.size() - 1 - estackBase);
    case Svn::Quit: return boolText(current && current->extrinsic);
    case Svn::TLevel: return std::to_string(transaction.level());
    case Svn::TRestart: return "0";
    case Svn::ZHorolog: {
      struct timespec ts{};
      clock_gettime(CLOCK_MONOTONIC, &ts);
      return formatNumber(Number::scaled(ts.tv_sec * 1'000'000L + ts.tv_nsec / 1000, -6));
    }
    case Svn::ZOther: break;
  }
  throw MError("<SVN>");
}

}  // namespace mengine
