#include "parser.h"

#include <cctype>

#include "mengine/engine.h"
#include "names.h"
#include "number.h"
#include "text.h"

namespace mengine {
namespace {

constexpr int kMaxNesting = 120;

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameStart(char c) { return isAlpha(c) || c == '%'; }

[[noreturn]] void syntax() { throw MError("<SYNTAX>"); }

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  bool atEnd() const { return p_ >= s_.size(); }
  char peek(size_t ahead = 0) const { return p_ + ahead < s_.size() ? s_[p_ + ahead] : '\0'; }
  void expect(char c) {
    if (peek() != c || atEnd()) syntax();
    ++p_;
  }
  bool accept(char c) {
    if (!atEnd() && peek() == c) {
      ++p_;
      return true;
    }
    return false;
  }
  void requireEnd() {
    if (!atEnd()) syntax();
  }

  std::string name() {
    if (!isNameStart(peek())) syntax();
    size_t start = p_++;
    while (!atEnd() && (isAlpha(peek()) || isDigit(peek()))) ++p_;
    return std::string(s_.substr(start, p_ - start));
  }

  std::string label() {
    if (isDigit(peek())) {
      size_t start = p_;
      while (!atEnd() && isDigit(peek())) ++p_;
      return std::string(s_.substr(start, p_ - start));
    }
    return name();
  }

  // ---- expressions ----

  ExprP expression() {
    Nest nest(*this);
    ExprP lhs = atom();
    while (!atEnd()) {
      size_t save = p_;
      bool negated = accept('\'');
      std::optional<Op> op = binaryOperator();
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
        if (peek() == '@') {
          ++p_;
          rhs = atom();
        } else {
          e->pattern = std::make_shared<Pattern>(pattern());
        }
      } else {
        rhs = atom();
      }
      e->args = {lhs, rhs};
      lhs = e;
    }
    return lhs;
  }

  std::optional<Op> binaryOperator() {
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

  ExprP atom() {
    Nest nest(*this);
    char c = peek();
    if (atEnd()) syntax();
    if (c == '"') return literal(stringLiteral());
    if (isDigit(c) || (c == '.' && isDigit(peek(1)))) return literal(numberLiteral());
    if (c == '\'' || c == '+' || c == '-') {
      ++p_;
      auto e = std::make_shared<Expr>();
      e->kind = Expr::Kind::Unary;
      e->op = c == '\'' ? Op::Not : c == '-' ? Op::Minus : Op::Plus;
      e->args = {atom()};
      return e;
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
      return e;
    }
    syntax();
  }

  static ExprP literal(std::string value) {
    auto e = std::make_shared<Expr>();
    e->kind = Expr::Kind::Literal;
    e->text = std::move(value);
    return e;
  }

  std::string stringLiteral() {
    expect('"');
    std::string out;
    while (true) {
      if (atEnd()) syntax();
      char c = s_[p_++];
      if (c == '"') {
        if (peek() == '"' && !atEnd()) {
          out += '"';
          ++p_;
          continue;
        }
        return out;
      }
      out += c;
    }
  }

  std::string numberLiteral() {
    size_t start = p_;
    while (!atEnd() && isDigit(peek())) ++p_;
    if (peek() == '.' && !atEnd()) {
      ++p_;
      while (!atEnd() && isDigit(peek())) ++p_;
    }
    if ((peek() == 'E' || peek() == 'e') && !atEnd()) {
      size_t k = 1;
      if (peek(1) == '+' || peek(1) == '-') k = 2;
      if (isDigit(peek(k))) {
        p_ += k;
        while (!atEnd() && isDigit(peek())) ++p_;
      }
    }
    return canonicalNumber(s_.substr(start, p_ - start));
  }

  ExprP dollar() {
    expect('$');
    if (accept('$')) {
      auto e = std::make_shared<Expr>();
      e->kind = Expr::Kind::Extrinsic;
      e->entry = entryRef(true);
      return e;
    }
    std::string n = name();
    auto e = std::make_shared<Expr>();
    if (peek() == '(' && !atEnd()) {
      std::optional<FunctionInfo> info = findFunction(n);
      if (!info) throw MError("<FUNCTION>");
      e->kind = Expr::Kind::Function;
      e->fn = info->fn;
      ++p_;
      if (info->fn == Fn::Text) {
        e->entry = textArgument();
      } else {
        functionArguments(*e);
        checkArity(*e, *info);
      }
      expect(')');
      return e;
    }
    std::optional<Svn> svn = findSpecial(n);
    if (!svn) syntax();
    e->kind = Expr::Kind::Special;
    e->svn = *svn;
    return e;
  }

  // $TEXT([label][+offset][^routine]): the line's text.
  EntryRef textArgument() {
    EntryRef entry;
    if (peek() != '+' && peek() != '^') entry.label = label();
    if (accept('+')) {
      size_t start = p_;
      while (!atEnd() && isDigit(peek())) ++p_;
      if (start == p_ || p_ - start > 6) syntax();
      entry.offset = std::stoi(std::string(s_.substr(start, p_ - start)));
    }
    if (accept('^')) entry.routine = name();
    return entry;
  }

  void functionArguments(Expr& e) {
    do {
      e.args.push_back(expression());
      if (e.fn == Fn::Select) {
        expect(':');
        e.args.push_back(expression());
      }
    } while (accept(','));
  }

  static void checkArity(const Expr& e, const FunctionInfo& info) {
    size_t n = e.fn == Fn::Select ? e.args.size() / 2 * 2 : e.args.size();
    if (e.fn != Fn::Select && (n < info.minArgs || n > info.maxArgs)) syntax();
    if (info.takesReference && e.args[0]->kind != Expr::Kind::Var) syntax();
  }

  Ref reference() {
    Nest nest(*this);
    Ref r;
    if (accept('@')) {
      r.indirect = atom();
      if (peek() == '@' && peek(1) == '(') {
        ++p_;
        subscripts(r);
      }
      return r;
    }
    if (accept('^')) {
      r.global = true;
      if (peek() == '(' && !atEnd()) {  // naked reference: name taken at run time
        subscripts(r);
        return r;
      }
    }
    r.name = name();
    if (peek() == '(' && !atEnd()) subscripts(r);
    return r;
  }

  void subscripts(Ref& r) {
    expect('(');
    do {
      r.subs.push_back(expression());
    } while (accept(','));
    expect(')');
  }

  // label^routine(args), ^routine, label, with @ for either part.
  EntryRef entryRef(bool extrinsic) {
    EntryRef e;
    if (peek() != '^') {
      if (accept('@')) {
        e.labelIndirect = atom();
      } else {
        e.label = label();
      }
      if (peek() == '+' && !atEnd() && !extrinsic) {
        ++p_;
        size_t start = p_;
        while (!atEnd() && isDigit(peek())) ++p_;
        if (start == p_) syntax();
        e.offset = std::stoi(std::string(s_.substr(start, std::min<size_t>(p_ - start, 6))));
      }
    }
    if (accept('^')) {
      if (accept('@')) {
        e.routineIndirect = atom();
      } else {
        e.routine = name();
      }
    }
    if (peek() == '(' && !atEnd()) {
      ++p_;
      e.hasArgs = true;
      if (!accept(')')) {
        do {
          Actual a;
          if (peek() == ',' || peek() == ')') {
            a.absent = true;
          } else if (peek() == '.' && !isDigit(peek(1))) {
            ++p_;
            a.byRef = name();
          } else {
            a.expr = expression();
          }
          e.args.push_back(std::move(a));
        } while (accept(','));
        expect(')');
      }
    }
    return e;
  }

  // ---- patterns ----

  Pattern pattern() {
    Nest nest(*this);
    Pattern pat;
    while (!atEnd() && (isDigit(peek()) || peek() == '.')) pat.atoms.push_back(patAtom());
    if (pat.atoms.empty()) syntax();
    return pat;
  }

  int count() {
    size_t start = p_;
    while (!atEnd() && isDigit(peek())) ++p_;
    std::string digits(s_.substr(start, p_ - start));
    if (digits.empty()) return -1;
    if (digits.size() > 5) return 32767;
    return std::stoi(digits);
  }

  PatAtom patAtom() {
    PatAtom a;
    int first = count();
    if (accept('.')) {
      a.min = first < 0 ? 0 : first;
      a.max = count();
    } else {
      a.min = a.max = first;
    }
    if (a.max >= 0 && a.max < a.min) syntax();
    if (peek() == '"' && !atEnd()) {
      a.kind = PatAtom::Kind::Literal;
      a.literal = stringLiteral();
    } else if (peek() == '(' && !atEnd()) {
      ++p_;
      a.kind = PatAtom::Kind::Alternation;
      do {
        a.alternatives.push_back(pattern());
      } while (accept(','));
      expect(')');
    } else {
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
          default: syntax();
        }
        ++p_;
      }
      if (a.codes == 0) syntax();
    }
    return a;
  }

  // ---- commands ----

  void lineBody(Line& line) {
    while (true) {
      while (!atEnd() && peek() == ' ') ++p_;
      if (atEnd() || peek() == ';') return;
      line.commands.push_back(command());
      if (!atEnd() && peek() != ' ') syntax();
    }
  }

  Command command() {
    Command cmd;
    if (!isAlpha(peek())) syntax();
    size_t start = p_;
    while (!atEnd() && isAlpha(peek())) ++p_;
    std::string_view word = s_.substr(start, p_ - start);
    std::optional<Cmd> found = findCommand(word);
    if (!found) {
      // Standard commands this engine does not provide are told apart from
      // misspellings.
      if (commandIsUnsupported(word)) throw MError("<COMMAND>");
      syntax();
    }
    cmd.cmd = *found;
    if (accept(':')) cmd.postcond = expression();
    if (!atEnd()) {
      if (peek() != ' ') syntax();
      ++p_;
    }
    if (atEnd() || peek() == ' ') {
      if (commandNeedsArguments(cmd.cmd)) syntax();
      return cmd;
    }
    cmd.argless = false;
    // H with an argument is HANG; HALT itself takes none.
    if (cmd.cmd == Cmd::Halt) {
      if (word.size() > 1) syntax();
      cmd.cmd = Cmd::Hang;
    }
    arguments(cmd);
    return cmd;
  }

  void arguments(Command& cmd) {
    switch (cmd.cmd) {
      case Cmd::Set:
        do cmd.sets.push_back(setArgument());
        while (accept(','));
        return;
      case Cmd::Write:
        do writeArgument(cmd);
        while (accept(','));
        return;
      case Cmd::For:
        return forArguments(cmd);
      case Cmd::Do: case Cmd::Goto:
        do cmd.dos.push_back(doArgument());
        while (accept(','));
        return;
      case Cmd::Lock:
        do cmd.locks.push_back(lockArgument());
        while (accept(','));
        return;
      case Cmd::ZWrite:
        do cmd.refs.push_back(reference());
        while (accept(','));
        return;
      case Cmd::Kill: case Cmd::New:
        return killOrNewArguments(cmd);
      case Cmd::Merge:
        cmd.refs.push_back(reference());
        expect('=');
        cmd.refs.push_back(reference());
        return;
      case Cmd::Xecute:
        do {
          cmd.exprs.push_back(expression());
          cmd.xecuteConds.push_back(accept(':') ? expression() : nullptr);
        } while (accept(','));
        return;
      case Cmd::Quit:
        cmd.exprs.push_back(expression());
        return;
      default:  // IF, ZNSPACE, HANG: plain expressions
        do cmd.exprs.push_back(expression());
        while (accept(','));
    }
  }

  void forArguments(Command& cmd) {
    cmd.forVar = reference();
    expect('=');
    do {
      ForRange r;
      r.start = expression();
      if (accept(':')) {
        r.increment = expression();
        if (accept(':')) r.limit = expression();
      }
      cmd.forRanges.push_back(std::move(r));
    } while (accept(','));
  }

  LockArg lockArgument() {
    LockArg arg;
    if (peek() == '+' || peek() == '-') arg.sign = s_[p_++];
    if (accept('(')) {
      do arg.refs.push_back(reference());
      while (accept(','));
      expect(')');
    } else {
      arg.refs.push_back(reference());
    }
    if (accept(':')) arg.timeout = expression();
    return arg;
  }

  void killOrNewArguments(Command& cmd) {
    if (accept('(')) {
      cmd.exclusive = true;
      do cmd.refs.push_back(localName());
      while (accept(','));
      expect(')');
      return;
    }
    do cmd.refs.push_back(cmd.cmd == Cmd::New && peek() != '@' ? localName() : reference());
    while (accept(','));
  }

  Ref localName() {
    Ref r;
    if (peek() == '@') return reference();
    r.name = name();
    return r;
  }

  SetArg setArgument() {
    SetArg arg;
    if (peek() == '@') {
      size_t save = p_;
      ++p_;
      ExprP ind = atom();
      if (atEnd() || peek() == ',' || peek() == ' ') {
        arg.indirect = ind;
        return arg;
      }
      p_ = save;
    }
    if (accept('(')) {
      do arg.targets.push_back(setTarget());
      while (accept(','));
      expect(')');
    } else {
      arg.targets.push_back(setTarget());
    }
    expect('=');
    arg.value = expression();
    return arg;
  }

  SetTarget setTarget() {
    SetTarget t;
    if (peek() == '$' && peek(1) != '$') {
      ++p_;
      std::optional<FunctionInfo> info = findFunction(name());
      std::optional<Fn> fn;
      if (info) fn = info->fn;
      expect('(');
      if (fn == Fn::Piece) {
        t.kind = SetTarget::Kind::Piece;
        t.ref = reference();
        expect(',');
        t.arg2 = expression();
        if (accept(',')) {
          t.arg3 = expression();
          if (accept(',')) t.arg4 = expression();
        }
      } else if (fn == Fn::Extract) {
        t.kind = SetTarget::Kind::Extract;
        t.ref = reference();
        if (accept(',')) {
          t.arg2 = expression();
          if (accept(',')) t.arg3 = expression();
        }
      } else {
        syntax();
      }
      expect(')');
      return t;
    }
    t.ref = reference();
    return t;
  }

  void writeArgument(Command& cmd) {
    bool any = false;
    while (!atEnd() && (peek() == '!' || peek() == '#')) {
      cmd.writes.push_back({peek(), nullptr});
      ++p_;
      any = true;
    }
    if (accept('?')) {
      cmd.writes.push_back({'?', expression()});
      return;
    }
    if (accept('*')) {
      cmd.writes.push_back({'*', expression()});
      return;
    }
    if (any && (atEnd() || peek() == ',' || peek() == ' ')) return;
    cmd.writes.push_back({'e', expression()});
  }

  DoArg doArgument() {
    DoArg arg;
    if (peek() == '@') {
      size_t save = p_;
      ++p_;
      ExprP ind = atom();
      if (atEnd() || peek() == ',' || peek() == ' ' || peek() == ':') {
        arg.indirect = ind;
        if (accept(':')) arg.postcond = expression();
        return arg;
      }
      p_ = save;
    }
    arg.entry = entryRef(false);
    if (arg.entry.label.empty() && !arg.entry.labelIndirect && arg.entry.routine.empty() &&
        !arg.entry.routineIndirect)
      syntax();
    if (accept(':')) arg.postcond = expression();
    return arg;
  }

  // ---- lines ----

  void routineLineStart(Line& line) {
    if (!atEnd() && peek() != ' ' && peek() != '\t') {
      line.label = label();
      if (accept('(')) {
        line.hasFormals = true;
        if (!accept(')')) {
          do line.formals.push_back(name());
          while (accept(','));
          expect(')');
        }
      }
    }
    if (atEnd()) return;
    if (peek() != ' ' && peek() != '\t') syntax();
    while (!atEnd() && (peek() == ' ' || peek() == '\t')) ++p_;
    while (!atEnd() && peek() == '.') {
      ++line.level;
      ++p_;
      while (!atEnd() && peek() == ' ') ++p_;
    }
  }

 private:
  struct Nest {
    explicit Nest(Parser& parser) : p(parser) {
      if (++p.depth_ > kMaxNesting) syntax();
    }
    ~Nest() { --p.depth_; }
    Parser& p;
  };

  std::string_view s_;
  size_t p_ = 0;
  int depth_ = 0;
};

}  // namespace

std::shared_ptr<const Line> parseCommandLine(std::string_view text) {
  Parser p(text);
  auto line = std::make_shared<Line>();
  p.lineBody(*line);
  return line;
}

std::shared_ptr<const Line> parseRoutineLine(std::string_view text) {
  Parser p(text);
  auto line = std::make_shared<Line>();
  p.routineLineStart(*line);
  p.lineBody(*line);
  return line;
}

ExprP parseExpression(std::string_view text) {
  Parser p(text);
  ExprP e = p.expression();
  p.requireEnd();
  return e;
}

Ref parseReference(std::string_view text) {
  Parser p(text);
  Ref r = p.reference();
  p.requireEnd();
  return r;
}

std::vector<SetArg> parseSetArguments(std::string_view text) {
  Parser p(text);
  std::vector<SetArg> args;
  do args.push_back(p.setArgument());
  while (p.accept(','));
  p.requireEnd();
  return args;
}

std::vector<Ref> parseReferences(std::string_view text) {
  Parser p(text);
  std::vector<Ref> refs;
  do refs.push_back(p.reference());
  while (p.accept(','));
  p.requireEnd();
  return refs;
}

std::vector<DoArg> parseDoArguments(std::string_view text) {
  Parser p(text);
  std::vector<DoArg> args;
  do args.push_back(p.doArgument());
  while (p.accept(','));
  p.requireEnd();
  return args;
}

std::shared_ptr<const Pattern> parsePattern(std::string_view text) {
  Parser p(text);
  auto pat = std::make_shared<Pattern>(p.pattern());
  p.requireEnd();
  return pat;
}

}  // namespace mengine
