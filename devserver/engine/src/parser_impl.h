// The parser's one class, shared by the files that parse expressions
// (parse_expr.cpp) and commands and lines (parse_command.cpp).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ast.h"
#include "parser.h"
#include "scanner.h"

namespace mengine {

ExprP literalExpr(std::string value);

class Parser : public Scanner {
 public:
  using Scanner::Scanner;

  // ---- expressions (parse_expr.cpp) ----
  // stopAtBracket: a ] ends the expression (^[env]name) instead of following.
  ExprP expression(bool stopAtBracket = false);
  ExprP atom();
  Ref reference();
  // label+offset^routine(actuals); extrinsic: as after $$.
  EntryRef entryRef(bool extrinsic);
  Pattern pattern();
  // The argument of $TEXT.
  EntryRef textArgument();

  // ---- commands and lines (parse_command.cpp) ----
  void routineLineStart(Line& line);
  // deferErrors: a command that does not parse ends the line as a
  // Cmd::Invalid command instead of failing the whole line.
  void lineBody(Line& line, bool deferErrors);
  SetArg setArgument();
  DoArg doArgument();
  MergeArg mergeArgument();
  DeviceArg deviceArgument();
  void writeArgument(std::vector<WriteItem>& items);
  void readArgument(Command& cmd);
  // The arguments of a command, after its word, postcondition and blank.
  void arguments(Command& cmd);
  // A comma list of arguments up to the end of the text.
  template <typename Parse>
  auto argumentList(Parse parse) {
    std::vector<decltype(parse())> args;
    do args.push_back(parse());
    while (accept(','));
    requireEnd();
    return args;
  }

 private:
  struct Nest {
    explicit Nest(Parser& parser);
    ~Nest() { --p.depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
    Parser& p;
  };

  // expressions
  std::optional<Op> binaryOperator();
  ExprP dollar();
  ExprP function(std::string_view name);
  void functionArguments(Expr& e, ArgForm form);
  void actuals(EntryRef& entry);
  void subscripts(Ref& r);
  void globalReference(Ref& r);
  int count();
  PatAtom patAtom();
  void patternCodes(PatAtom& a);

  // commands
  // @expr standing for a whole argument (argument indirection), or null
  // when the @ begins something else (@x=1, @x@(1)); colonEnds: a : may
  // follow (DO's postcondition).
  ExprP argumentIndirection(bool colonEnds);
  Command command();
  void forArguments(Command& cmd);
  LockArg lockArgument();
  void killOrNewArguments(Command& cmd);
  // special: $NAME is allowed (NEW, ZWRITE).
  Ref newName(bool special);
  SetTarget setTarget();
  SetTarget setFunctionTarget();
  bool formatItem(std::vector<WriteItem>& items);
  DoArg jobArgument();
  void deviceParameters(std::vector<DeviceParam>& params);
  DeviceParam deviceParameter();
  void transactionStart(Command& cmd);
  void expressionsWithConditions(Command& cmd);
  // The argument text of a Z command this engine does not know: anything
  // up to a blank outside strings and parentheses.
  void skipUnknownArguments();

  int depth_ = 0;
};

}  // namespace mengine
