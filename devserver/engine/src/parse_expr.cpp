// Parsing of expressions: atoms, operators, variables of every kind,
// intrinsic and extrinsic functions, entry references and patterns.
#include <algorithm>
#include <cctype>

#include "number.h"
#include "parser_impl.h"
#include "text.h"

namespace mengine {
namespace {

constexpr int kMaxNesting = 120;

bool isPurePart(const ExprP& e) { return !e || e->pure; }

// Expr::pure of a node whose parts are built.
bool isPure(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Literal: case Expr::Kind::Special:
      return true;
    case Expr::Kind::Extrinsic:
      return false;
    case Expr::Kind::Var:
      if (e.ref.indirect || !isPurePart(e.ref.environment)) return false;
      return std::all_of(e.ref.subs.begin(), e.ref.subs.end(), isPurePart);
    case Expr::Kind::Function:
      if (e.fn == Fn::Increment || e.fn == Fn::Text || e.fn == Fn::ZOther) return false;
      break;
    case Expr::Kind::Unary: case Expr::Kind::Binary:
      break;
  }
  return std::all_of(e.args.begin(), e.args.end(), isPurePart);
}

ExprP finished(std::shared_ptr<Expr> e) {
  e->pure = isPure(*e);
  return e;
}

}  // namespace

ExprP literalExpr(std::string value) {
  auto e = std::make_shared<Expr>();
  e->kind = Expr::Kind::Literal;
  if (isCanonicalNumber(value)) {
    e->numeric = true;
    e->number = toNumber(value);
  }
  e->text = std::move(value);
  e->pure = true;
  return e;
}

Parser::Nest::Nest(Parser& parser) : p(parser) {
  if (++p.depth_ > kMaxNesting) p.fail();
}

ExprP Parser::expression(bool stopAtBracket) {
  Nest nest(*this);
  ExprP lhs = atom();
  while (!atEnd() && !(stopAtBracket && at(']'))) {
    size_t save = p_;
    bool negated = accept('\'');
    std::optional<Op> op = binaryOperator();
    // <= and >= are written for '> and '<.
    if (!negated && (op == Op::Less || op == Op::Greater) && accept('=')) {
      negated = true;
      op = op == Op::Less ? Op::Greater : Op::Less;
    }
    if (!op) {
      p_ = save;
      break;
    }
    auto e = std::make_shared<Expr>();
    e->kind = Expr::Kind::Binary;
    e->op = *op;
    e->negated = negated;
    ExprP rhs;
    if (*op == Op::Match) {
      if (accept('@')) {
        rhs = atom();
      } else {
        e->pattern = std::make_shared<Pattern>(pattern());
      }
    } else {
      rhs = atom();
    }
    e->args = {lhs, rhs};
    lhs = finished(std::move(e));
  }
  return lhs;
}

std::optional<Op> Parser::binaryOperator() {
  if (atEnd()) return std::nullopt;
  char c = peek();
  std::optional<Op> op;
  switch (c) {
    case '*': op = Op::Multiply; break;
    case ']': op = Op::Follows; break;
    case '_': op = Op::Concat; break;
    case '+': op = Op::Add; break;
    case '-': op = Op::Subtract; break;
    case '/': op = Op::Divide; break;
    case '\\': op = Op::IntDivide; break;
    case '#': op = Op::Modulo; break;
    case '=': op = Op::Equals; break;
    case '<': op = Op::Less; break;
    case '>': op = Op::Greater; break;
    case '[': op = Op::Contains; break;
    case '&': op = Op::And; break;
    case '!': op = Op::Or; break;
    case '?': op = Op::Match; break;
    default: return std::nullopt;
  }
  ++p_;
  if (c == '*' && accept('*')) return Op::Power;
  if (c == ']' && accept(']')) return Op::SortsAfter;
  return op;
}

ExprP Parser::atom() {
  Nest nest(*this);
  char c = peek();
  if (atEnd()) fail();
  if (c == '"') return literalExpr(stringLiteral());
  if (isDigit(c) || (c == '.' && isDigit(peek(1)))) return literalExpr(numberLiteral());
  if (c == '\'' || c == '+' || c == '-') {
    ++p_;
    auto e = std::make_shared<Expr>();
    e->kind = Expr::Kind::Unary;
    e->op = c == '\'' ? Op::Not : c == '-' ? Op::Minus : Op::Plus;
    e->args = {atom()};
    return finished(std::move(e));
  }
  if (c == '(') {
    ++p_;
    ExprP inner = expression();
    expect(')');
    return inner;
  }
  if (c == '$') return dollar();
  if (c == '^' || c == '@' || isNameStart(c)) {
    auto e = std::make_shared<Expr>();
    e->kind = Expr::Kind::Var;
    e->ref = reference();
    return finished(std::move(e));
  }
  fail();
}

ExprP Parser::dollar() {
  expect('$');
  auto e = std::make_shared<Expr>();
  if (accept('$')) {
    e->kind = Expr::Kind::Extrinsic;
    e->entry = entryRef(true);
    return e;
  }
  if (accept('&')) {  // an external routine: parsed, refused when run
    e->kind = Expr::Kind::Extrinsic;
    size_t start = p_;
    e->entry = entryRef(true);
    e->entry.external = std::string(s_.substr(start, p_ - start));
    return e;
  }
  size_t start = p_;
  std::string n = name();
  if (at('(')) return function(n);
  std::optional<Svn> svn = findSpecial(n);
  // A name no special variable has is the standard's M8, not a syntax error.
  if (!svn) failAt(start, "<SVN>");
  e->kind = Expr::Kind::Special;
  e->svn = *svn;
  if (*svn == Svn::ZOther) e->text = upperCase(n);
  return finished(std::move(e));
}

ExprP Parser::function(std::string_view name) {
  size_t start = p_ - name.size();
  std::optional<FunctionInfo> info = findFunction(name);
  if (!info) failAt(start, "<FUNCTION>");
  auto e = std::make_shared<Expr>();
  e->kind = Expr::Kind::Function;
  e->fn = info->fn;
  if (info->fn == Fn::ZOther) e->text = upperCase(name);
  expect('(');
  if (info->form == ArgForm::Text) {
    e->entry = textArgument();
  } else {
    functionArguments(*e, info->form);
    size_t n = info->form == ArgForm::Select ? e->args.size() / 2 : e->args.size();
    if (n < info->minArgs || n > info->maxArgs) {
      // Z functions are the implementation's: other arities fail when run.
      if (upperCase(name)[0] != 'Z') fail();
      e->fn = Fn::ZOther;
      e->text = upperCase(name);
    }
  }
  expect(')');
  return finished(std::move(e));
}

void Parser::functionArguments(Expr& e, ArgForm form) {
  do {
    if (form == ArgForm::Any && (at(',') || at(')'))) {
      e.args.push_back(nullptr);
      continue;
    }
    size_t start = p_;
    e.args.push_back(expression());
    if (form == ArgForm::Reference && e.args.size() == 1 && e.args[0]->kind != Expr::Kind::Var) {
      failAt(start);
    }
    if (form == ArgForm::Select) {
      expect(':');
      e.args.push_back(expression());
    }
  } while (accept(','));
}

// $TEXT([label][+offset][^routine]) or $TEXT(@expr).
EntryRef Parser::textArgument() {
  EntryRef entry;
  if (accept('@')) {
    ExprP ind = atom();
    if (at(')')) {
      entry.indirect = ind;
      return entry;
    }
    entry.labelIndirect = ind;
  } else if (!at('+') && !at('^')) {
    entry.label = label();
  }
  if (accept('+')) entry.offsetExpr = expression();
  if (accept('^')) {
    if (accept('@')) {
      entry.routineIndirect = atom();
    } else {
      entry.routine = name();
    }
  }
  if (entry.label.empty() && !entry.labelIndirect && !entry.offsetExpr && entry.routine.empty() &&
      !entry.routineIndirect)
    fail();
  return entry;
}

Ref Parser::reference() {
  Nest nest(*this);
  Ref r;
  if (accept('@')) {
    r.indirect = atom();
    if (at('@') && peek(1) == '(') {
      ++p_;
      subscripts(r);
    }
    return r;
  }
  if (accept('^')) {
    globalReference(r);
    return r;
  }
  r.name = name();
  if (at('(')) subscripts(r);
  return r;
}

// After ^: [|env| or [env]] name, ^$name, or a naked reference.
void Parser::globalReference(Ref& r) {
  r.global = true;
  if (accept('$')) {
    size_t start = p_;
    std::optional<Ssvn> ssvn = findStructured(name());
    if (!ssvn) failAt(start);
    r.ssvn = ssvn;
    r.name = upperCase(s_.substr(start, p_ - start));
  } else if (at('(')) {  // naked reference: name taken at run time
    subscripts(r);
    return;
  } else {
    char close = at('|') ? '|' : at('[') ? ']' : '\0';
    if (close) {
      ++p_;
      r.environment = expression(close == ']');
      if (accept(',')) expression(close == ']');  // a second part of the environment is not used
      expect(close);
    }
    r.name = name();
  }
  if (at('(')) subscripts(r);
}

void Parser::subscripts(Ref& r) {
  expect('(');
  do r.subs.push_back(expression());
  while (accept(','));
  expect(')');
}

EntryRef Parser::entryRef(bool extrinsic) {
  EntryRef e;
  if (!at('^')) {
    if (accept('@')) {
      e.labelIndirect = atom();
      // @name@(actuals): the actual parameters of an indirect entry.
      if (at('@') && peek(1) == '(') ++p_;
    } else {
      e.label = label();
    }
    if (!extrinsic && accept('+')) e.offsetExpr = expression();
  }
  if (accept('^')) {
    if (accept('@')) {
      e.routineIndirect = atom();
    } else {
      e.routine = name();
      // An external routine's package.name.
      while (at('.') && isNameStart(peek(1))) {
        ++p_;
        e.routine += "." + name();
      }
    }
  } else if (extrinsic && at('.') && isNameStart(peek(1))) {
    ++p_;
    e.label += "." + name();
  }
  if (at('(')) actuals(e);
  return e;
}

void Parser::actuals(EntryRef& e) {
  expect('(');
  e.hasArgs = true;
  if (accept(')')) return;
  do {
    Actual a;
    if (at(',') || at(')')) {
      a.absent = true;
    } else if (at('.') && !isDigit(peek(1))) {
      ++p_;
      if (accept('@')) {
        a.byRefIndirect = atom();
      } else {
        a.byRef = name();
      }
    } else {
      a.expr = expression();
    }
    e.args.push_back(std::move(a));
  } while (accept(','));
  expect(')');
}

// ---- patterns ----

Pattern Parser::pattern() {
  Nest nest(*this);
  Pattern pat;
  while (!atEnd() && (isDigit(peek()) || at('.'))) pat.atoms.push_back(patAtom());
  if (pat.atoms.empty()) fail();
  return pat;
}

int Parser::count() {
  size_t start = p_;
  while (!atEnd() && isDigit(peek())) ++p_;
  std::string digits(s_.substr(start, p_ - start));
  if (digits.empty()) return -1;
  // Leading zeros do not count: ?000003U is ?3U.
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  if (digits.size() > 5) return 32767;
  return std::stoi(digits);
}

PatAtom Parser::patAtom() {
  PatAtom a;
  int first = count();
  if (accept('.')) {
    a.min = first < 0 ? 0 : first;
    a.max = count();
  } else {
    a.min = a.max = first;
  }
  if (a.max >= 0 && a.max < a.min) fail();
  if (at('"')) {
    a.kind = PatAtom::Kind::Literal;
    a.literal = stringLiteral();
  } else if (accept('(')) {
    a.kind = PatAtom::Kind::Alternation;
    do a.alternatives.push_back(pattern());
    while (accept(','));
    expect(')');
  } else {
    patternCodes(a);
  }
  return a;
}

void Parser::patternCodes(PatAtom& a) {
  a.kind = PatAtom::Kind::Codes;
  while (!atEnd() && isAlpha(peek())) {
    switch (std::toupper(static_cast<unsigned char>(peek()))) {
      case 'A': a.codes |= kPatA; break;
      case 'C': a.codes |= kPatC; break;
      case 'E': a.codes |= kPatE; break;
      case 'L': a.codes |= kPatL; break;
      case 'N': a.codes |= kPatN; break;
      case 'P': a.codes |= kPatP; break;
      case 'U': a.codes |= kPatU; break;
      default: fail();
    }
    ++p_;
  }
  if (a.codes == 0) fail();
}

}  // namespace mengine
