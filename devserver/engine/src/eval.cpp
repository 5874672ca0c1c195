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


}  // namespace

Value Job::Impl::evalValue(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Literal:
      return Value::literal(e.text, e.numeric ? &e.number : nullptr);
    case Expr::Kind::Var:
      return evalVariable(e);
    case Expr::Kind::Unary: {
      Value v = evalValue(*e.args[0]);
      if (e.op == Op::Not) return Value::truth(!v.isTrue());
      if (e.op == Op::Minus) return Value(-v.number());
      return Value(v.number());
    }
    case Expr::Kind::Binary:
      return evalBinary(e);
    case Expr::Kind::Function:
      return evalIntrinsic(e);
    case Expr::Kind::Special:
      return Value(evalSpecial(e));
    case Expr::Kind::Extrinsic: {
      auto v = call(e.entry, true, nullptr);
      return v ? Value(std::move(*v)) : Value();
    }
  }
  throw MError("<SYNTAX>");
}

const std::string* Job::Impl::localValue(const std::string& name, const Subscripts& subs) {
  Node* root = locals.lookup(name);
  return root ? getValue(*root, subs) : nullptr;
}

Value Job::Impl::evalVariable(const Expr& e) {
  const Ref& ref = e.ref;
  if (ref.indirect && ref.subs.empty()) {
    // Expression indirection: the value is itself an expression atom. The
    // parsed atom may leave the cache before the value is used: it is copied.
    std::string text = eval(*ref.indirect);
    ExprP inner = cachedExpression(text);
    IndirectionLevel level(*this);
    Value v = evalValue(*inner);
    v.own();
    return v;
  }
  if (ref.global || ref.indirect || ref.special) return Value(fetchOrThrow(resolve(ref)));
  // A local, the commonest operand: read in place.
  if (ref.subs.empty()) {
    Node* node = locals.lookup(ref.name);
    if (node && node->value) return Value::borrowed(*node->value);
    return Value(fetchOrThrow(resolve(ref)));
  }
  Target t;
  t.name = ref.name;
  t.subs.reserve(ref.subs.size());
  for (const auto& sub : ref.subs) t.subs.push_back(eval(*sub));
  bindNaked(t);
  if (const std::string* v = localValue(t.name, t.subs)) return Value::borrowed(*v);
  throwUndefined(t);
}

Value Job::Impl::evalBinary(const Expr& e) {
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
  Value value = evalValue(*node);
  for (size_t i = length; i-- > 0;) applyBinary(*chain[i], value);
  return value;
}

void Job::Impl::applyBinary(const Expr& e, Value& l) {
  if (e.op == Op::Match) {
    bool match;
    if (e.pattern) {
      match = matchPattern(*e.pattern, l.text());
    } else {
      if (!e.args[1]->pure) l.own();
      std::string text = eval(*e.args[1]);
      auto pat = cachedPattern(text);
      match = matchPattern(*pat, l.text());
    }
    l.setTruth(match != e.negated);
    return;
  }
  const Expr& rhs = *e.args[1];
  if (!rhs.pure) l.own();
  Value r = evalValue(rhs);
  bool result;
  switch (e.op) {
    case Op::Concat:
      // Appending to the left operand: a chain a_b_c_... grows one string
      // instead of copying the whole value at every link.
      l.append(r.text());
      if (l.text().size() > kMaxString) throw MError("<MAXSTRING>");
      return;
    case Op::Equals: result = l.equals(r); break;
    case Op::Contains: result = l.text().find(r.text()) != std::string::npos; break;
    case Op::Follows: result = l.text() > r.text(); break;
    // The empty string collates before every subscript.
    case Op::SortsAfter: {
      const std::string& a = l.text();
      const std::string& b = r.text();
      result = !a.empty() && (b.empty() || Collate()(b, a));
      break;
    }
    case Op::And: result = l.isTrue() && r.isTrue(); break;
    case Op::Or: result = l.isTrue() || r.isTrue(); break;
    case Op::Less: result = l.number() < r.number(); break;
    case Op::Greater: result = l.number() > r.number(); break;
    default:
      l.setNumber(arithmetic(e, l, r));
      return;
  }
  l.setTruth(result != e.negated);
}

Number Job::Impl::arithmetic(const Expr& e, const Value& l, const Value& r) {
  if (e.negated) throw MError("<SYNTAX>");
  Number a = l.number();
  Number b = r.number();
  switch (e.op) {
    case Op::Add: return a + b;
    case Op::Subtract: return a - b;
    case Op::Multiply: return a * b;
    case Op::Divide: return a / b;
    case Op::IntDivide: return integerDivide(a, b);
    case Op::Modulo: return modulo(a, b);
    case Op::Power: return power(a, b);
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
