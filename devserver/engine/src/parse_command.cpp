// Parsing of commands with their arguments, and of whole lines.
#include "parser_impl.h"
#include "text.h"

namespace mengine {

Command Parser::command() {
  Command cmd;
  size_t start = p_;
  std::string_view word = this->word();
  std::optional<Cmd> found = findCommand(word);
  if (!found) failAt(start);
  cmd.cmd = *found;
  if (cmd.cmd == Cmd::ZOther) cmd.zname = upperCase(word);
  if (accept(':')) cmd.postcond = expression();
  // A comment may follow a command without a blank.
  if (!atEnd() && !at(';')) {
    if (!isBlank(peek())) fail();
    ++p_;
  }
  if (atEnd() || isBlank(peek()) || at(';')) {
    if (commandNeedsArguments(cmd.cmd)) fail();
    return cmd;
  }
  cmd.argless = false;
  // H with an argument is HANG; HALT itself takes none.
  if (cmd.cmd == Cmd::Halt) {
    if (word.size() > 1) fail();
    cmd.cmd = Cmd::Hang;
  }
  arguments(cmd);
  return cmd;
}

void Parser::arguments(Command& cmd) {
  switch (cmd.cmd) {
    case Cmd::Set:
      do cmd.sets.push_back(setArgument());
      while (accept(','));
      return;
    case Cmd::Write:
      do writeArgument(cmd.writes);
      while (accept(','));
      return;
    case Cmd::Read:
      do readArgument(cmd);
      while (accept(','));
      return;
    case Cmd::For:
      return forArguments(cmd);
    case Cmd::Do: case Cmd::Goto:
      do cmd.dos.push_back(doArgument());
      while (accept(','));
      return;
    case Cmd::Job:
      do cmd.dos.push_back(jobArgument());
      while (accept(','));
      return;
    case Cmd::Lock:
      do cmd.locks.push_back(lockArgument());
      while (accept(','));
      return;
    case Cmd::ZWrite:
      do cmd.refs.push_back(at('$') ? newName(true) : reference());
      while (accept(','));
      return;
    case Cmd::Kill: case Cmd::New:
      return killOrNewArguments(cmd);
    case Cmd::Merge:
      do cmd.merges.push_back(mergeArgument());
      while (accept(','));
      return;
    case Cmd::Open: case Cmd::Use: case Cmd::Close:
      do cmd.devices.push_back(deviceArgument());
      while (accept(','));
      return;
    case Cmd::Xecute: case Cmd::Break: case Cmd::View:
      return expressionsWithConditions(cmd);
    case Cmd::If: case Cmd::Hang:
      do {
        ExprP ind = argumentIndirection(false);
        cmd.indirectArgs.push_back(ind != nullptr);
        cmd.exprs.push_back(ind ? ind : expression());
      } while (accept(','));
      return;
    case Cmd::Quit: case Cmd::TRollback:
      // QUIT *name hands back a whole array elsewhere; it is not run here.
      if (cmd.cmd == Cmd::Quit && accept('*')) cmd.zname = "QUIT *";
      cmd.exprs.push_back(expression());
      return;
    case Cmd::TStart:
      return transactionStart(cmd);
    case Cmd::Else: case Cmd::Halt: case Cmd::TCommit: case Cmd::TRestart:
      fail();
    case Cmd::ZOther:
      return skipUnknownArguments();
    case Cmd::Invalid:
      fail();
    case Cmd::ZNspace:
      do cmd.exprs.push_back(expression());
      while (accept(','));
      return;
  }
}

ExprP Parser::argumentIndirection(bool colonEnds) {
  if (!at('@')) return nullptr;
  size_t save = p_++;
  ExprP ind = atom();
  if (atArgumentEnd() || (colonEnds && at(':'))) return ind;
  p_ = save;
  return nullptr;
}

// XECUTE, BREAK and VIEW: expressions, each with an optional :condition
// (VIEW: :values).
void Parser::expressionsWithConditions(Command& cmd) {
  do {
    ExprP ind = cmd.cmd == Cmd::Xecute ? argumentIndirection(false) : nullptr;
    cmd.indirectArgs.push_back(ind != nullptr);
    if (ind) {
      cmd.exprs.push_back(ind);
      cmd.xecuteConds.push_back(nullptr);
      continue;
    }
    cmd.exprs.push_back(expression());
    cmd.xecuteConds.push_back(accept(':') ? expression() : nullptr);
    while (cmd.cmd == Cmd::View && accept(':')) expression();
  } while (accept(','));
}

void Parser::skipUnknownArguments() {
  int depth = 0;
  while (!atEnd() && (depth > 0 || !isBlank(peek()))) {
    if (at('"')) {
      stringLiteral();
      continue;
    }
    if (at('(')) ++depth;
    if (at(')') && --depth < 0) fail();
    ++p_;
  }
  if (depth != 0) fail();
}

void Parser::forArguments(Command& cmd) {
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

LockArg Parser::lockArgument() {
  LockArg arg;
  if (ExprP ind = argumentIndirection(false)) {
    arg.indirect = ind;
    return arg;
  }
  if (at('+') || at('-')) arg.sign = s_[p_++];
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

void Parser::killOrNewArguments(Command& cmd) {
  bool isNew = cmd.cmd == Cmd::New;
  do {
    KillArg arg;
    if (ExprP ind = argumentIndirection(false)) {
      arg.indirect = ind;
    } else if (accept('(')) {
      arg.exclusive = true;
      do arg.refs.push_back(newName(isNew));
      while (accept(','));
      expect(')');
    } else {
      arg.refs.push_back(isNew ? newName(true) : reference());
    }
    cmd.kills.push_back(std::move(arg));
  } while (accept(','));
}

// NEW and exclusive KILL: a local name, @expr, or (NEW) a special variable.
Ref Parser::newName(bool special) {
  if (at('@')) return reference();
  Ref r;
  if (special && accept('$')) {
    size_t start = p_;
    r.special = findSpecial(name());
    if (!r.special) failAt(start, "<SVN>");
    r.name = upperCase(s_.substr(start, p_ - start));
    return r;
  }
  r.name = name();
  return r;
}

SetArg Parser::setArgument() {
  SetArg arg;
  if (ExprP ind = argumentIndirection(false)) {
    arg.indirect = ind;
    return arg;
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

SetTarget Parser::setTarget() {
  if (!at('$')) {
    SetTarget t;
    t.ref = reference();
    return t;
  }
  ++p_;
  size_t start = p_;
  std::string n = name();
  if (at('(')) {
    p_ = start;
    return setFunctionTarget();
  }
  SetTarget t;
  t.kind = SetTarget::Kind::Special;
  std::optional<Svn> svn = findSpecial(n);
  if (!svn) failAt(start, "<SVN>");
  t.special = *svn;
  t.zname = upperCase(n);
  return t;
}

// SET $PIECE(...)=, SET $EXTRACT(...)= and Z functions as targets.
SetTarget Parser::setFunctionTarget() {
  SetTarget t;
  size_t start = p_;
  std::string n = name();
  std::optional<FunctionInfo> info = findFunction(n);
  expect('(');
  if (info && (info->fn == Fn::Piece || info->fn == Fn::Extract)) {
    t.kind = info->fn == Fn::Piece ? SetTarget::Kind::Piece : SetTarget::Kind::Extract;
    t.ref = reference();
    ExprP* rest[] = {&t.arg2, &t.arg3, &t.arg4};
    for (ExprP* arg : rest) {
      if (!accept(',')) break;
      *arg = expression();
    }
    if (t.kind == SetTarget::Kind::Piece && !t.arg2) fail();
  } else if (info && info->fn == Fn::ZOther) {
    t.kind = SetTarget::Kind::ZFunction;
    t.zname = upperCase(n);
    Expr args;
    functionArguments(args, ArgForm::Any);
  } else {
    failAt(start);
  }
  expect(')');
  return t;
}

// Format items of WRITE and READ: ! # ?expr /mnemonic(args). False when
// there is none at this point.
bool Parser::formatItem(std::vector<WriteItem>& items) {
  if (at('!') || at('#')) {
    items.push_back({s_[p_++], nullptr});
    return true;
  }
  if (accept('?')) {
    items.push_back({'?', expression()});
    return true;
  }
  if (accept('/')) {
    size_t start = p_;
    name();
    if (at('(')) {
      Expr args;
      ++p_;
      functionArguments(args, ArgForm::Any);
      expect(')');
    }
    items.push_back({'/', literalExpr(upperCase(s_.substr(start, p_ - start)))});
    return true;
  }
  return false;
}

void Parser::writeArgument(std::vector<WriteItem>& items) {
  bool any = false;
  while (at('!') || at('#')) any = formatItem(items);
  if (any && atArgumentEnd()) return;
  if (formatItem(items)) return;
  if (accept('*')) {
    items.push_back({'*', expression()});
    return;
  }
  if (ExprP ind = argumentIndirection(false)) {
    items.push_back({'@', ind});
    return;
  }
  items.push_back({'e', expression()});
}

void Parser::readArgument(Command& cmd) {
  std::vector<WriteItem> format;
  while (formatItem(format)) {
  }
  for (auto& f : format) cmd.reads.push_back({f.kind, f.expr, {}, nullptr, nullptr});
  if (!format.empty() && atArgumentEnd()) return;
  ReadItem item;
  if (at('"')) {
    item.kind = 'e';
    item.expr = literalExpr(stringLiteral());
    cmd.reads.push_back(std::move(item));
    return;
  }
  if (ExprP ind = argumentIndirection(false)) {
    cmd.reads.push_back({'@', ind, {}, nullptr, nullptr});
    return;
  }
  if (accept('*')) item.kind = '*';
  item.ref = reference();
  if (item.kind == 'v' && accept('#')) item.length = expression();
  if (accept(':')) item.timeout = expression();
  cmd.reads.push_back(std::move(item));
}

DoArg Parser::doArgument() {
  DoArg arg;
  if (ExprP ind = argumentIndirection(true)) {
    arg.indirect = ind;
    if (accept(':')) arg.postcond = expression();
    return arg;
  }
  if (accept('&')) {
    size_t start = p_;
    arg.entry = entryRef(true);
    arg.entry.external = std::string(s_.substr(start, p_ - start));
  } else {
    arg.entry = entryRef(false);
  }
  const EntryRef& e = arg.entry;
  if (e.label.empty() && !e.labelIndirect && e.routine.empty() && !e.routineIndirect) fail();
  if (accept(':')) arg.postcond = expression();
  return arg;
}

// JOB entryref[(actuals)][:[parameters][:timeout]]
DoArg Parser::jobArgument() {
  DoArg arg;
  if (ExprP ind = argumentIndirection(false)) {
    arg.indirect = ind;
    return arg;
  }
  arg.entry = entryRef(false);
  const EntryRef& e = arg.entry;
  if (e.label.empty() && !e.labelIndirect && e.routine.empty() && !e.routineIndirect) fail();
  if (accept(':')) {
    if (!at(':') && !atArgumentEnd()) deviceParameters(arg.jobParams);
    if (accept(':')) arg.timeout = expression();
  }
  return arg;
}

MergeArg Parser::mergeArgument() {
  MergeArg arg;
  if (ExprP ind = argumentIndirection(false)) {
    arg.indirect = ind;
    return arg;
  }
  arg.target = reference();
  expect('=');
  arg.source = reference();
  return arg;
}

// device[:[parameters][:[timeout][:mnemonic space]]]
DeviceArg Parser::deviceArgument() {
  DeviceArg arg;
  if (ExprP ind = argumentIndirection(false)) {
    arg.indirect = ind;
    return arg;
  }
  arg.device = expression();
  if (!accept(':')) return arg;
  if (!at(':') && !atArgumentEnd()) deviceParameters(arg.params);
  if (!accept(':')) return arg;
  if (!at(':') && !atArgumentEnd()) arg.timeout = expression();
  if (accept(':')) expression();
  return arg;
}

void Parser::deviceParameters(std::vector<DeviceParam>& params) {
  if (!accept('(')) {
    params.push_back(deviceParameter());
    return;
  }
  do {
    if (!at(':') && !at(')')) params.push_back(deviceParameter());
  } while (accept(':'));
  expect(')');
}

// keyword, keyword=value, /keyword, or an expression.
DeviceParam Parser::deviceParameter() {
  DeviceParam param;
  size_t save = p_;
  accept('/');
  if (isNameStart(peek())) {
    std::string keyword = name();
    if (accept('=')) {
      param.keyword = upperCase(keyword);
      param.value = expression();
      return param;
    }
    if (atArgumentEnd() || at(':') || at(')')) {
      param.keyword = upperCase(keyword);
      return param;
    }
  }
  p_ = save;
  param.value = expression();
  return param;
}

// TSTART [restart variables][:parameters]
void Parser::transactionStart(Command& cmd) {
  if (accept('*')) {
  } else if (accept('(')) {
    if (!accept(')')) {
      do cmd.refs.push_back(newName(false));
      while (accept(','));
      expect(')');
    }
  } else if (!at(':')) {
    cmd.refs.push_back(newName(false));
  }
  if (accept(':')) {
    std::vector<DeviceParam> params;
    deviceParameters(params);
  }
}

void Parser::lineBody(Line& line, bool deferErrors) {
  while (true) {
    while (!atEnd() && isBlank(peek())) ++p_;
    if (atEnd() || at(';')) return;
    try {
      line.commands.push_back(command());
      if (!atEnd() && !isBlank(peek()) && !at(';')) fail();
    } catch (const ParseError& e) {
      if (!deferErrors) throw;
      // The commands before it run; the rest of the line is this error.
      Command bad;
      bad.cmd = Cmd::Invalid;
      bad.zname = e.what();
      bad.errorColumn = e.column();
      line.commands.push_back(std::move(bad));
      return;
    }
  }
}

void Parser::routineLineStart(Line& line) {
  if (!atEnd() && !isBlank(peek()) && !at(';')) {
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
  if (!isBlank(peek()) && !at(';')) fail();
  while (!atEnd() && isBlank(peek())) ++p_;
  while (accept('.')) {
    ++line.level;
    while (!atEnd() && isBlank(peek())) ++p_;
  }
}

// ---- entry points ----

std::shared_ptr<const Line> parseCommandLine(std::string_view text) {
  Parser p(text);
  auto line = std::make_shared<Line>();
  p.lineBody(*line, true);
  return line;
}

std::shared_ptr<const Line> parseRoutineLine(std::string_view text, bool strict) {
  // A routine imported from a file with CR LF line ends keeps the CR.
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  Parser p(text);
  auto line = std::make_shared<Line>();
  p.routineLineStart(*line);
  p.lineBody(*line, !strict);
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

namespace {

// A whole text as a comma list of one kind of argument.
template <typename T>
std::vector<T> listOf(std::string_view text, T (Parser::*parse)()) {
  Parser p(text);
  return p.argumentList([&] { return (p.*parse)(); });
}

}  // namespace

std::vector<SetArg> parseSetArguments(std::string_view text) {
  return listOf(text, &Parser::setArgument);
}


std::vector<DoArg> parseDoArguments(std::string_view text) {
  return listOf(text, &Parser::doArgument);
}

std::vector<MergeArg> parseMergeArguments(std::string_view text) {
  return listOf(text, &Parser::mergeArgument);
}

std::vector<DeviceArg> parseDeviceArguments(std::string_view text) {
  return listOf(text, &Parser::deviceArgument);
}

std::vector<WriteItem> parseWriteArguments(std::string_view text) {
  Parser p(text);
  std::vector<WriteItem> items;
  p.argumentList([&] { p.writeArgument(items); return 0; });
  return items;
}

std::vector<ReadItem> parseReadArguments(std::string_view text) {
  Parser p(text);
  Command cmd;
  p.argumentList([&] { p.readArgument(cmd); return 0; });
  return cmd.reads;
}

Command parseArguments(Cmd cmd, std::string_view text) {
  Parser p(text);
  Command c;
  c.cmd = cmd;
  c.argless = false;
  p.arguments(c);
  p.requireEnd();
  return c;
}

EntryRef parseTextArgument(std::string_view text) {
  Parser p(text);
  EntryRef e = p.textArgument();
  p.requireEnd();
  return e;
}

EntryRef parseEntryRef(std::string_view text) {
  Parser p(text);
  EntryRef e = p.entryRef(false);
  p.requireEnd();
  return e;
}

std::shared_ptr<const Pattern> parsePattern(std::string_view text) {
  Parser p(text);
  auto pat = std::make_shared<Pattern>(p.pattern());
  p.requireEnd();
  return pat;
}

}  // namespace mengine
