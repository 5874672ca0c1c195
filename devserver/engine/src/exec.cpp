// Running lines and commands: flow of control (IF, ELSE, FOR, DO, GOTO,
// QUIT, XECUTE), SET, KILL, NEW, MERGE, LOCK, HANG, HALT, transactions.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "interp.h"
#include "number.h"
#include "parser.h"
#include "text.h"

namespace mengine {
namespace {

constexpr int kMaxForNesting = 64;
constexpr auto kPollSlice = std::chrono::milliseconds(100);

// SET x=...: an unsubscripted local by name.
bool isPlainLocal(const SetTarget& t) {
  return t.kind == SetTarget::Kind::Var && !t.ref.global && !t.ref.indirect && !t.ref.special &&
         t.ref.subs.empty();
}

}  // namespace

Flow Job::Impl::runLine(const Line& line, size_t from, Context& ctx, int forDepth) {
  // Extrinsic calls inside expressions find their routine through current.
  struct Current {
    Context*& slot;
    Context* saved;
    ~Current() { slot = saved; }
  } restore{current, current};
  current = &ctx;
  try {
    for (size_t i = from; i < line.commands.size(); ++i) {
      if (++steps % 256 == 0) checkAbandoned();
      bool lineDone = false;
      Flow flow = runCommand(line, i, ctx, forDepth, lineDone);
      if (flow != Flow::Next || lineDone) return flow;
    }
  } catch (const MError& e) {
    notePlace(e, ctx);
    throw;
  }
  return Flow::Next;
}

Flow Job::Impl::runCommand(const Line& line, size_t index, Context& ctx, int forDepth,
                           bool& lineDone) {
  const Command& c = line.commands[index];
  if (c.postcond && !evalValue(*c.postcond).isTrue()) return Flow::Next;
  switch (c.cmd) {
    case Cmd::Set:
      for (const auto& arg : c.sets) runSet(arg);
      return Flow::Next;
    case Cmd::Lock:
      runLock(c);
      return Flow::Next;
    case Cmd::ZWrite:
      if (c.argless) writeLocals();
      for (const auto& ref : c.refs) ref.special ? writeSpecial(ref) : writeNodes(resolve(ref));
      return Flow::Next;
    case Cmd::Write:
      if (c.argless) writeLocals();
      for (const auto& item : c.writes) runWrite(item);
      return Flow::Next;
    case Cmd::If:
      lineDone = !runIf(c);
      return Flow::Next;
    case Cmd::Else:
      lineDone = test;
      return Flow::Next;
    case Cmd::For:
      lineDone = true;
      return runFor(line, index, ctx, forDepth);
    case Cmd::Quit:
      return runQuit(c, ctx, forDepth);
    case Cmd::Do:
      return runDoCommand(c, ctx);
    case Cmd::Goto:
      for (const auto& arg : c.dos) {
        Flow flow = runDo(arg, ctx, true);
        if (flow != Flow::Next) return flow;
      }
      return Flow::Next;
    case Cmd::Kill: case Cmd::New:
      runKillOrNew(c);
      return Flow::Next;
    case Cmd::Merge:
      for (const auto& arg : c.merges) runMerge(arg);
      return Flow::Next;
    case Cmd::Xecute:
      runXecuteCommand(c);
      return Flow::Next;
    case Cmd::Halt:
      halt();
    case Cmd::Hang:
      runHang(c);
      return Flow::Next;
    case Cmd::ZNspace:
      runZnspace(c);
      return Flow::Next;
    case Cmd::Invalid:
      throw ParseError(c.zname, c.errorColumn);
    default:
      return runOtherCommand(c);
  }
  throw MError("<COMMAND>");
}

bool Job::Impl::runIf(const Command& c) {
  if (c.argless) return test;
  for (size_t i = 0; i < c.exprs.size(); ++i) {
    if (isIndirect(c, i)) {
      IndirectionLevel level(*this);
      if (!runIf(parseArguments(Cmd::If, eval(*c.exprs[i])))) return false;
      continue;
    }
    test = evalValue(*c.exprs[i]).isTrue();
    if (!test) return false;
  }
  return true;
}

void Job::Impl::runXecuteCommand(const Command& c) {
  for (size_t i = 0; i < c.exprs.size(); ++i) {
    if (isIndirect(c, i)) {
      IndirectionLevel level(*this);
      runXecuteCommand(parseArguments(Cmd::Xecute, eval(*c.exprs[i])));
      continue;
    }
    if (c.xecuteConds[i] && !isTrue(eval(*c.xecuteConds[i]))) continue;
    runXecute(eval(*c.exprs[i]));
  }
}

Flow Job::Impl::runQuit(const Command& c, Context& ctx, int forDepth) {
  if (!c.zname.empty()) throw MError("<COMMAND> *" + c.zname);
  if (forDepth > 0) {
    if (!c.argless) throw MError("<COMMAND>");
    return Flow::QuitFor;
  }
  // While an error is being handled, an extrinsic may end without a value:
  // the error goes on to its caller.
  if (c.argless && ctx.extrinsic && ecode.empty())
    throw CodedError("M17", "<COMMAND>");
  if (!c.argless && !ctx.extrinsic) throw CodedError("M16", "<COMMAND>");
  if (!c.argless) ctx.quitValue = eval(*c.exprs[0]);
  return Flow::Quit;
}

Flow Job::Impl::runDoCommand(const Command& c, Context& ctx) {
  if (!c.argless) {
    for (const auto& arg : c.dos) {
      Flow flow = runDo(arg, ctx, false);
      if (flow != Flow::Next) return flow;
    }
    return Flow::Next;
  }
  // The argumentless DO runs the block of lines one level deeper below it.
  if (!ctx.routine || ctx.xecute) return Flow::Next;
  FrameGuard guard(*this, true, "DO");
  Context block;
  block.routine = ctx.routine;
  block.level = ctx.level + 1;
  frames.back().ctx = &block;
  Flow flow = runLines(block, ctx.lineIndex + 1);
  if (flow == Flow::Goto) {
    ctx.gotoRoutine = block.gotoRoutine;
    ctx.gotoLine = block.gotoLine;
    return flow;
  }
  return Flow::Next;
}

void Job::Impl::runKillOrNew(const Command& c) {
  bool kill = c.cmd == Cmd::Kill;
  if (c.argless) {
    kill ? killAllExcept({}) : newAllExcept({});
    return;
  }
  // Each argument acts on its own, in order: K (A,B),(A,C) leaves only A.
  for (const auto& arg : c.kills) {
    if (arg.indirect) {
      IndirectionLevel level(*this);
      runKillOrNew(parseArguments(c.cmd, eval(*arg.indirect)));
      continue;
    }
    if (arg.exclusive) {
      std::vector<std::string> names;
      for (const auto& ref : arg.refs) {
        if (ref.indirect) {
          // K (@X): the name is the value.
          const std::shared_ptr<const Ref> held = cachedReference(eval(*ref.indirect));
          const Ref& inner = *held;
          if (inner.global || inner.indirect || !inner.subs.empty()) throw MError("<SYNTAX>");
          names.push_back(inner.name);
        } else {
          names.push_back(ref.name);
        }
      }
      kill ? killAllExcept(names) : newAllExcept(names);
      continue;
    }
    for (const auto& ref : arg.refs) {
      if (ref.special) {
        newSpecial(*ref.special);
        continue;
      }
      Target t = resolve(ref);
      if (kill) {
        killTarget(t);
      } else {
        if (t.global || !t.subs.empty()) throw MError("<SYNTAX>");
        newVariable(t.name);
      }
    }
  }
}

void Job::Impl::runMerge(const MergeArg& arg) {
  if (arg.indirect) {
    IndirectionLevel level(*this);
    for (const auto& inner : parseMergeArguments(eval(*arg.indirect))) runMerge(inner);
    return;
  }
  // The source is referenced first: ^(2) in M ^B(2)=^(2) continues the
  // reference made before the MERGE, and the target sets the naked indicator.
  Target target = resolveSubscripts(arg.target);
  Target source = resolve(arg.source);
  bindNaked(target);
  if (target.global == source.global && target.name == source.name &&
      target.database == source.database && !target.ssvn && !source.ssvn) {
    size_t n = std::min(target.subs.size(), source.subs.size());
    if (std::equal(target.subs.begin(), target.subs.begin() + static_cast<long>(n),
                   source.subs.begin()) && target.subs.size() != source.subs.size())
      throw CodedError("M19", "<MERGE> *" + displayName(target) + "=" + displayName(source));
  }
  mergeInto(target, source);
}

void Job::Impl::mergeInto(const Target& target, const Target& source) {
  size_t depth = source.subs.size();
  forEachValueBelow(source, [&](const Target& node, const std::string& value) {
    Target t = target;
    t.subs.insert(t.subs.end(), node.subs.begin() + static_cast<long>(depth), node.subs.end());
    store(t, value);
  });
}

void Job::Impl::forEachValueBelow(
    const Target& t, const std::function<void(const Target&, const std::string&)>& visit) {
  Node copy;
  if (t.global) {
    copy = server.impl().snapshot(dbOf(t), t.name, t.subs);
  } else if (auto root = localRoot(t.name, false)) {
    if (const Node* node = findNode(*root, t.subs)) copy = *node;
  }
  Subscripts path;
  forEachValue(copy, path, [&](const Subscripts& rel, const std::string& value) {
    Target node = t;
    node.subs.insert(node.subs.end(), rel.begin(), rel.end());
    visit(node, value);
  });
}

void Job::Impl::runHang(const Command& c) {
  for (size_t i = 0; i < c.exprs.size(); ++i) {
    const Expr& e = *c.exprs[i];
    if (isIndirect(c, i)) {
      IndirectionLevel level(*this);
      runHang(parseArguments(Cmd::Hang, eval(e)));
      continue;
    }
    long double seconds = std::min(toNumber(eval(e)).approximate(), 86400.0L);
    auto end = std::chrono::steady_clock::now() +
               std::chrono::milliseconds(static_cast<long long>(std::max(seconds, 0.0L) * 1000));
    // In slices, so that a client that goes away ends the wait.
    while (std::chrono::steady_clock::now() < end) {
      checkAbandoned();
      std::this_thread::sleep_until(std::min(end, std::chrono::steady_clock::now() + kPollSlice));
    }
  }
}

void Job::Impl::checkAbandoned() {
  if (!io || !io->abandoned()) return;
  halt();
}

void Job::Impl::halt() {
  halted = true;
  if (transaction.level() > 0) server.impl().rollback(transaction, 0);
  transaction.marks.clear();
  throw HaltSignal{};
}

Flow Job::Impl::runOtherCommand(const Command& c) {
  switch (c.cmd) {
    case Cmd::Read:
      for (const auto& item : c.reads) runRead(item);
      return Flow::Next;
    case Cmd::Open: case Cmd::Use: case Cmd::Close:
      for (const auto& arg : c.devices) runDevice(c.cmd, arg);
      return Flow::Next;
    case Cmd::TStart: case Cmd::TCommit: case Cmd::TRollback:
      runTransaction(c);
      return Flow::Next;
    case Cmd::TRestart: throw MError("<COMMAND> *TRESTART not available");
    case Cmd::Break:
      // There is no debugger to break into.
      return Flow::Next;
    case Cmd::Job:
      for (const auto& arg : c.dos) runJob(arg);
      return Flow::Next;
    case Cmd::View: throw MError("<COMMAND> *VIEW not available");
    default: throw MError("<COMMAND>");
  }
}

void Job::Impl::runJob(const DoArg& arg) {
  if (arg.indirect) {
    IndirectionLevel level(*this);
    for (const auto& inner : parseArguments(Cmd::Job, eval(*arg.indirect)).dos) runJob(inner);
    return;
  }
  const EntryRef& e = arg.entry;
  Place place = placeOf(e);
  if (place.routine.empty() && current && current->routine) place.routine = current->routine->name;
  if (place.routine.empty()) throw MError("<NOLINE> *" + place.label);
  // The routine and line must exist now: the new job has no one to tell.
  findLabel(*loadRoutine(place.routine), place.label, place.offset);
  std::string line = "d " + place.label + (place.offset ? "+" + std::to_string(place.offset) : "") +
                     "^" + place.routine;
  if (e.hasArgs) {
    line += '(';
    for (size_t i = 0; i < e.args.size(); ++i) {
      const Actual& a = e.args[i];
      if (!a.byRef.empty() || a.byRefIndirect) throw CodedError("M40", "<PARAMETER>");
      if (i > 0) line += ',';
      if (!a.absent) line += quoted(eval(*a.expr));
    }
    line += ')';
  }
  std::string output;
  for (const auto& p : arg.jobParams) {
    std::string value = p.value ? eval(*p.value) : "";
    if (p.keyword == "OUTPUT") output = value;
  }
  std::string path;
  if (!output.empty()) {
    const std::string& dir = server.options().directory;
    if (dir.empty() || output.find('/') != std::string::npos || output == "." || output == ".." ||
        output.find('\0') != std::string::npos)
      throw MError("<DEVICE> *" + output + " cannot be opened");
    path = dir + output;
  }
  // A job starts at once or not at all: the timeout is never waited for.
  if (arg.timeout) eval(*arg.timeout);
  int number = server.impl().background.start(server, db->name, line, path);
  if (arg.timeout) {
    test = number != 0;
  } else if (number == 0) {
    throw MError("<JOB> *no job can be started now");
  }
}

void Job::Impl::runTransaction(const Command& c) {
  auto& srv = server.impl();
  int level = transaction.level();
  if (c.cmd == Cmd::TStart) {
    if (level >= 127) throw MError("<TRANSACTION> *too deep");
    transaction.marks.push_back(transaction.changes.size());
    return;
  }
  if (level == 0) throw MError("<TRANSACTION> *none started");
  if (c.cmd == Cmd::TCommit) {
    if (level == 1) srv.commit(transaction, 0);
    transaction.marks.pop_back();
    return;
  }
  long to = c.exprs.empty() ? 0 : toInteger(eval(*c.exprs[0]));
  if (to < 0 || to >= level) throw MError("<TRANSACTION> *no level " + std::to_string(to));
  srv.rollback(transaction, transaction.marks[static_cast<size_t>(to)]);
  transaction.marks.resize(static_cast<size_t>(to));
}

void Job::Impl::runZnspace(const Command& c) {
  std::string name = eval(*c.exprs[0]);
  Database* target = server.impl().find(name);
  if (!target) throw MError("<NAMESPACE>");
  db = target;
}

Flow Job::Impl::runFor(const Line& line, size_t index, Context& ctx, int forDepth) {
  const Command& c = line.commands[index];
  // Each nested FOR of a line nests the interpreter once more.
  if (forDepth >= kMaxForNesting) throw MError("<FRAMESTACK>");
  auto body = [&]() {
    if (++steps % 256 == 0) checkAbandoned();
    return runLine(line, index + 1, ctx, forDepth + 1);
  };
  if (c.argless) {
    while (true) {
      Flow flow = body();
      if (flow == Flow::QuitFor) return Flow::Next;
      if (flow != Flow::Next) return flow;
    }
  }
  Target var = resolve(c.forVar);
  for (const auto& range : c.forRanges) {
    if (!range.increment) {
      store(var, eval(*range.start));
      Flow flow = body();
      if (flow == Flow::QuitFor) return Flow::Next;
      if (flow != Flow::Next) return flow;
      continue;
    }
    Number value = evalValue(*range.start).number();
    Number step = evalValue(*range.increment).number();
    bool bounded = static_cast<bool>(range.limit);
    Number limit = bounded ? evalValue(*range.limit).number() : 0;
    // The start value is assigned even when the body never runs; later
    // values only when they are within the limit.
    store(var, formatNumber(value));
    for (bool first = true;; first = false) {
      if (bounded && ((step >= 0 && value > limit) || (step < 0 && value < limit))) break;
      if (!first) store(var, formatNumber(value));
      Flow flow = body();
      if (flow == Flow::QuitFor) return Flow::Next;
      if (flow != Flow::Next) return flow;
      const std::string* now = var.global ? nullptr : localValue(var.name, var.subs);
      value = (now ? toNumber(*now) : toNumber(fetchOrThrow(var))) + step;
    }
  }
  return Flow::Next;
}

void Job::Impl::runSet(const SetArg& arg) {
  if (arg.indirect) {
    IndirectionLevel level(*this);
    for (const auto& inner : parseSetArguments(eval(*arg.indirect))) runSet(inner);
    return;
  }
  if (arg.targets.size() == 1 && isPlainLocal(arg.targets[0])) {
    // S x=value, the commonest SET: the value goes straight into the variable.
    std::string value = eval(*arg.value);
    if (value.size() > kMaxString) throw MError("<MAXSTRING>");
    localNode(arg.targets[0].ref.name).value = std::move(value);
    return;
  }
  // The targets' subscripts first, then the value; a target's global takes
  // the naked indicator only when it is assigned, so in S ^B=^(2) the naked
  // reference still continues the reference made before the SET.
  struct Resolved {
    Target target;
    std::string a2, a3, a4;
  };
  // One target, nearly always: it needs no vector.
  Resolved first;
  std::vector<Resolved> more;
  auto resolved = [&](size_t i) -> Resolved& { return i == 0 ? first : more[i - 1]; };
  more.resize(arg.targets.empty() ? 0 : arg.targets.size() - 1);
  for (size_t i = 0; i < arg.targets.size(); ++i) {
    const SetTarget& t = arg.targets[i];
    if (t.kind == SetTarget::Kind::Special || t.kind == SetTarget::Kind::ZFunction) continue;
    Resolved& r = resolved(i);
    r.target = resolveSubscripts(t.ref);
    if (t.arg2) r.a2 = eval(*t.arg2);
    if (t.arg3) r.a3 = eval(*t.arg3);
    if (t.arg4) r.a4 = eval(*t.arg4);
  }
  std::string value = eval(*arg.value);
  for (size_t i = 0; i < arg.targets.size(); ++i) {
    const SetTarget& t = arg.targets[i];
    Resolved& r = resolved(i);
    if (t.kind == SetTarget::Kind::Special) {
      setSpecial(t, value);
      continue;
    }
    if (t.kind == SetTarget::Kind::ZFunction) throw MError("<FUNCTION>");
    if (t.kind == SetTarget::Kind::Var) {
      bindNaked(r.target);
      store(r.target, i + 1 == arg.targets.size() ? std::move(value) : value);
    } else {
      setPart(t, r.target, r.a2, r.a3, r.a4, value);
    }
  }
}

// SET $PIECE and SET $EXTRACT. A range that selects nothing leaves the
// variable as it was, undefined included, and does not reference it: the
// naked indicator stays where it was.
void Job::Impl::setPart(const SetTarget& t, Target& target, const std::string& a2,
                        const std::string& a3, const std::string& a4, const std::string& value) {
  long from, to;
  if (t.kind == SetTarget::Kind::Piece) {
    from = t.arg3 ? toInteger(a3) : 1;
    to = t.arg4 ? toInteger(a4) : from;
  } else {
    from = t.arg2 ? toInteger(a2) : 1;
    to = t.arg3 ? toInteger(a3) : from;
  }
  if (to < from || to < 1) return;
  bindNaked(target);
  std::string old = fetch(target).value_or("");
  store(target, t.kind == SetTarget::Kind::Piece ? replacePieces(old, a2, from, to, value)
                                                 : replaceCharacters(old, from, to, value));
}

Flow Job::Impl::runDo(const DoArg& arg, Context& ctx, bool isGoto) {
  if (arg.indirect) {
    std::string text = eval(*arg.indirect);
    if (arg.postcond && !isTrue(eval(*arg.postcond))) return Flow::Next;
    IndirectionLevel level(*this);
    for (const auto& inner : parseDoArguments(text)) {
      Flow flow = runDo(inner, ctx, isGoto);
      if (flow != Flow::Next) return flow;
    }
    return Flow::Next;
  }
  if (arg.postcond && !isTrue(eval(*arg.postcond))) return Flow::Next;
  if (!isGoto) {
    call(arg.entry, false, &ctx);
    return Flow::Next;
  }
  const EntryRef& e = arg.entry;
  if (e.hasArgs) throw MError("<SYNTAX>");
  if (!e.external.empty()) throw MError("<COMMAND> *&" + e.external + " not available");
  Place place = placeOf(e);
  auto r = place.routine.empty() ? ctx.routine : loadRoutine(place.routine);
  if (!r) throw MError("<NOLINE> *" + place.label);
  ctx.gotoLine = findLabel(*r, place.label, place.offset);
  ctx.gotoRoutine = r;
  return Flow::Goto;
}

void Job::Impl::runLock(const Command& c) {
  LockTable& table = server.impl().locks;
  if (c.argless) {
    table.releaseAll(lockOwner);
    return;
  }
  for (const auto& arg : c.locks) runLockArgument(arg);
}

void Job::Impl::runLockArgument(const LockArg& arg) {
  LockTable& table = server.impl().locks;
  if (arg.indirect) {
    IndirectionLevel level(*this);
    for (const auto& inner : parseArguments(Cmd::Lock, eval(*arg.indirect)).locks)
      runLockArgument(inner);
    return;
  }
  {
    std::vector<LockTable::Name> names;
    for (const auto& ref : arg.refs) {
      // A lock name is not a reference to the global: only the subscripts'
      // own references move the naked indicator.
      Target t = resolveSubscripts(ref);
      bindNaked(t, false);
      LockTable::Name name{t.global ? db->name : "", (t.global ? "^" : "") + t.name};
      name.insert(name.end(), t.subs.begin(), t.subs.end());
      names.push_back(std::move(name));
    }
    if (arg.sign == '-') {
      for (const auto& name : names) table.release(lockOwner, name);
      return;
    }
    LockTable::Deadline deadline;
    if (arg.timeout) {
      long double seconds = std::clamp(toNumber(eval(*arg.timeout)).approximate(), 0.0L, 86400.0L * 365);
      deadline = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    if (arg.sign == ' ') table.releaseAll(lockOwner);
    bool taken = false;
    // In slices, so that a client that goes away ends the wait.
    while (true) {
      auto slice = std::chrono::steady_clock::now() + kPollSlice;
      taken = table.acquire(lockOwner, names, deadline ? std::min(*deadline, slice) : slice);
      if (taken || (deadline && std::chrono::steady_clock::now() >= *deadline)) break;
      checkAbandoned();
    }
    if (arg.timeout) test = taken;
  }
}

void Job::Impl::runXecute(const std::string& text) {
  auto line = cachedLine(text);
  FrameGuard guard(*this, false, "XECUTE");
  Context ctx;
  frames.back().ctx = &ctx;
  // Labels of the running routine stay reachable from the XECUTEd line.
  ctx.routine = current ? current->routine : nullptr;
  ctx.xecute = true;
  ctx.source = &text;
  finishGoto(ctx, runLine(*line, 0, ctx, 0));
}

void Job::Impl::finishGoto(Context& ctx, Flow flow) {
  while (flow == Flow::Goto) {
    // From here on the context runs routine lines, wherever it began.
    ctx.xecute = false;
    ctx.source = nullptr;
    ctx.routine = ctx.gotoRoutine;
    ctx.level = lineAt(*ctx.routine, ctx.gotoLine).level;
    flow = runLines(ctx, ctx.gotoLine);
  }
}

Flow Job::Impl::runLines(Context& ctx, size_t index) {
  std::shared_ptr<const Routine> r = ctx.routine;
  size_t i = index;
  while (i < r->lines.size()) {
    const Line& line = lineAt(*r, i);
    if (line.level < ctx.level) break;
    if (line.level > ctx.level) {
      ++i;
      continue;
    }
    ctx.lineIndex = i;
    Flow flow = runLine(line, 0, ctx, 0);
    if (flow == Flow::Quit) return flow;
    if (flow == Flow::Goto) {
      if (ctx.gotoRoutine != r || lineAt(*r, ctx.gotoLine).level != ctx.level) return flow;
      i = ctx.gotoLine;
      continue;
    }
    ++i;
  }
  return Flow::Quit;
}

}  // namespace mengine
