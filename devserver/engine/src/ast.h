// The parsed form of M lines and expressions. Nodes are immutable once built
// and shared, so parsed lines can be cached and reused by many executions.
#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "names.h"
#include "number.h"

namespace mengine {

struct Expr;
using ExprP = std::shared_ptr<const Expr>;

// A pattern of the ? operator.
struct Pattern;
struct PatAtom {
  enum class Kind { Codes, Literal, Alternation };
  int min = 0;
  int max = -1;  // -1: no upper bound
  Kind kind = Kind::Codes;
  unsigned codes = 0;  // bits of PatCode
  std::string literal;
  std::vector<Pattern> alternatives;
};
struct Pattern {
  std::vector<PatAtom> atoms;
};

// A variable reference: local or global, by name or by name indirection
// (@expr), followed by subscripts (for indirection: @expr@(subs)). A global
// without a name is a naked reference ^(subs). A global may name another
// database (^|"USER"|X or ^["USER"]X). ^$NAME(subs) is a structured system
// variable; NEW also takes special variables ($ETRAP).
struct Ref {
  bool global = false;
  std::string name;
  ExprP indirect;
  ExprP environment;
  std::optional<Ssvn> ssvn;
  std::optional<Svn> special;
  std::vector<ExprP> subs;
};

// An actual parameter: an expression, .name or .@expr (by reference) or absent.
struct Actual {
  ExprP expr;
  std::string byRef;
  ExprP byRefIndirect;  // .@expr: the name is the expression's value
  bool absent = false;
};

// label+offset^routine(args); label or routine may be empty, either may be
// @expr, and the offset an expression. The whole reference may be @expr
// (indirect), and &name an external routine (external).
struct EntryRef {
  std::string label;
  int offset = 0;
  ExprP offsetExpr;
  std::string routine;
  ExprP labelIndirect;
  ExprP routineIndirect;
  ExprP indirect;
  std::string external;
  bool hasArgs = false;
  std::vector<Actual> args;
};

struct Expr {
  enum class Kind { Literal, Var, Unary, Binary, Function, Special, Extrinsic };
  Kind kind = Kind::Literal;
  std::string text;  // Literal: the value; Z functions and variables: the name
  Op op = Op::Concat;  // Unary, Binary
  Fn fn = Fn::Ascii;  // Function
  Svn svn = Svn::Test;  // Special
  bool negated = false;  // for Binary: the operator was preceded by '
  // Evaluating the expression changes no variable: it calls no extrinsic,
  // takes no $INCREMENT and has no indirection. A value read in place may be
  // held across the evaluation of a pure expression.
  bool pure = false;
  // Literal: the text is a canonical number, this one.
  bool numeric = false;
  Number number;
  Ref ref;
  std::vector<ExprP> args;  // Unary: operand; Binary: lhs, rhs; Function: arguments
  std::shared_ptr<const Pattern> pattern;  // Binary Match with a literal pattern
  EntryRef entry;

  Expr() = default;
  Expr(const Expr&) = default;
  Expr& operator=(const Expr&) = default;
  ~Expr() { releaseLeftChain(); }

 private:
  // a_b_c_... nests to the left, one node per operator, and a line may hold
  // thousands of them: the chain is taken apart in a loop so that freeing it
  // does not recurse once per operator.
  void releaseLeftChain() {
    if (kind != Kind::Binary || args.empty()) return;
    ExprP next = std::move(args[0]);
    while (next && next.use_count() == 1 && next->kind == Kind::Binary && !next->args.empty()) {
      // Sole owner: the node was made non-const and nothing else sees it.
      ExprP left = std::move(const_cast<Expr&>(*next).args[0]);
      next = std::move(left);
    }
  }
};

struct SetTarget {
  enum class Kind { Var, Piece, Extract, Special, ZFunction };
  Kind kind = Kind::Var;
  Ref ref;
  ExprP arg2, arg3;  // $PIECE: delimiter, from, to; $EXTRACT: from, to
  ExprP arg4;
  Svn special = Svn::X;  // Special: the variable
  std::string zname;     // Special ZOther and ZFunction: the name
};

struct SetArg {
  std::vector<SetTarget> targets;
  ExprP value;
  ExprP indirect;  // the whole argument is @expr
};

struct ForRange {
  ExprP start, increment, limit;
};

struct WriteItem {
  // 'e' expression, '!' new line, '#' form feed, '?' column, '*' character,
  // '/' control mnemonic, '@' argument indirection
  char kind = 'e';
  ExprP expr;
};

// READ: format items and prompts as WRITE has them, or a variable to read
// into: 'v' a line (length: at most that many characters), '*' one character.
struct ReadItem {
  char kind = 'v';  // and WriteItem's kinds for the prompt
  ExprP expr;
  Ref ref;
  ExprP length;
  ExprP timeout;
};

// A device parameter: keyword[=value], or an expression when keyword is empty.
struct DeviceParam {
  std::string keyword;  // upper case
  ExprP value;
};

// OPEN, USE, CLOSE: device[:parameters[:timeout[:mnemonic space]]].
struct DeviceArg {
  ExprP device;
  std::vector<DeviceParam> params;
  ExprP timeout;
  ExprP indirect;  // the whole argument is @expr
};

struct MergeArg {
  Ref target, source;
  ExprP indirect;  // the whole argument is @expr
};

struct DoArg {
  EntryRef entry;
  ExprP postcond;
  ExprP indirect;  // the whole argument is @expr
  // JOB: the job's parameters and the timeout.
  std::vector<DeviceParam> jobParams;
  ExprP timeout;
};

struct LockArg {
  char sign = ' ';  // '+' adds, '-' releases, ' ' replaces all locks held
  std::vector<Ref> refs;
  ExprP timeout;
  ExprP indirect;  // the whole argument is @expr
};

// An argument of KILL or NEW: names, or (names) for the exclusive form, or
// @expr standing for a list of arguments.
struct KillArg {
  bool exclusive = false;
  std::vector<Ref> refs;
  ExprP indirect;
};

struct Command {
  Cmd cmd = Cmd::Set;
  std::string zname;  // ZOther: the command word as written; Invalid: the error
  size_t errorColumn = 0;  // Invalid: where parsing stopped
  ExprP postcond;
  bool argless = true;
  std::vector<ReadItem> reads;
  std::vector<DeviceArg> devices;
  std::vector<MergeArg> merges;
  std::vector<SetArg> sets;
  Ref forVar;
  std::vector<ForRange> forRanges;
  std::vector<WriteItem> writes;
  std::vector<ExprP> exprs;  // IF, XECUTE, QUIT, ZN, HANG, BREAK, VIEW, TROLLBACK
  std::vector<ExprP> xecuteConds;
  // IF, XECUTE, HANG: exprs[i] stands for a list of arguments (@expr).
  std::vector<bool> indirectArgs;
  std::vector<Ref> refs;  // ZWRITE, TSTART's restart variables
  std::vector<KillArg> kills;  // KILL, NEW
  std::vector<DoArg> dos;  // DO, GOTO, JOB
  std::vector<LockArg> locks;
};

struct Line {
  std::string label;
  bool hasFormals = false;
  std::vector<std::string> formals;
  int level = 0;  // number of leading dots
  std::vector<Command> commands;
};

}  // namespace mengine
