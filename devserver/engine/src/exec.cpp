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

}  // namespace

Flow Job::Impl::runLine(const Line& line, size_t from, Context& ctx, int forDepth) {
  // Extrinsic calls inside expressions find their routine through current.
  struct Current {
    Context*& slot;
    Context* saved;
    ~Current() { slot = saved; }
  } restore{current, current};
  current = &ctx;
  for (size_t i = from; i < line.commands.size(); ++i) {
    if (++steps % 256 == 0) checkAbandoned();
    bool lineDone = false;
    Flow flow = runCommand(line, i, ctx, forDepth, lineDone);
    if (flow != Flow::Next || lineDone) return flow;
  }
  return Flow::Next;
}

Flow Job::Impl::runCommand(const Line& line, size_t index, Context& ctx, int forDepth,
                           bool& lineDone) {
  const Command& c = line.commands[index];
  if (c.postcond && !isTrue(eval(*c.postcond))) return Flow::Next;
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
      for (size_t i = 0; i < c.exprs.size(); ++i) {
        if (c.xecuteConds[i] && !isTrue(eval(*c.xecuteConds[i]))) continue;
        runXecute(eval(*c.exprs[i]));
      }
      return Flow::Next;
    case Cmd::Halt:
      halt();
    case Cmd::Hang:
      runHang(c);
      return Flow::Next;
    case Cmd::ZNspace:
      runZnspace(c);
      return Flow::Next;
    default:
      return runOtherCommand(c);
  }
  throw MError("<COMMAND>");
}

bool Job::Impl::runIf(const Command& c) {
  if (c.argless) return test;
  for (const auto& e : c.exprs) {
    test = isTrue(eval(*e));
    if (!test) return false;
  }
  return true;
}

Flow Job::Impl::runQuit(const Command& c, Context& ctx, int forDepth) {
  if (!c.zname.empty()) throw MError("<COMMAND> *" + c.zname);
  if (forDepth > 0) {
    if (!c.argless) throw MError("<COMMAND>");
    return Flow::QuitFor;
  }
  if (c.argless == ctx.extrinsic) throw MError("<COMMAND>");
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
  std::vector<std::string> names;
  for (const auto& ref : c.refs) {
    if (ref.special) {
      newSpecial(*ref.special);
      continue;
    }
    if (c.exclusive) {
      names.push_back(ref.name);
      continue;
    }
    std::vector<Ref> refs;
    if (ref.indirect && ref.subs.empty()) {
      refs = parseReferences(eval(*ref.indirect));
    } else {
      refs.push_back(ref);
    }
    for (const auto& r : refs) {
      Target t = resolve(r);
      if (kill) {
        killTarget(t);
      } else {
        if (t.global || !t.subs.empty()) throw MError("<SYNTAX>");
        newVariable(t.name);
      }
    }
  }
  if (!c.argless && !c.exclusive) return;
  if (kill) {
    killAllExcept(names);
  } else {
    newAllExcept(names);
  }
}

void Job::Impl::runMerge(const MergeArg& arg) {
  if (arg.indirect) {
    for (const auto& inner : parseMergeArguments(eval(*arg.indirect))) runMerge(inner);
    return;
  }
  Target target = resolve(arg.target);
  Target source = resolve(arg.source);
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
  for (const auto& e : c.exprs) {
    long double seconds = std::min(toNumber(eval(*e)).approximate(), 86400.0L);
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
    case Cmd::Break: throw MError("<COMMAND> *BREAK not available");
    case Cmd::Job: throw MError("<COMMAND> *JOB not available");
    case Cmd::View: throw MError("<COMMAND> *VIEW not available");
    default: throw MError("<COMMAND>");
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
    std::string start = eval(*range.start);
    if (!range.increment) {
      store(var, start);
      Flow flow = body();
      if (flow == Flow::QuitFor) return Flow::Next;
      if (flow != Flow::Next) return flow;
      continue;
    }
    Number value = toNumber(start);
    Number step = toNumber(eval(*range.increment));
    bool bounded = static_cast<bool>(range.limit);
    Number limit = bounded ? toNumber(eval(*range.limit)) : 0;
    while (true) {
      if (bounded && ((step >= 0 && value > limit) || (step < 0 && value < limit))) break;
      store(var, formatNumber(value));
      Flow flow = body();
      if (flow == Flow::QuitFor) return Flow::Next;
      if (flow != Flow::Next) return flow;
      value = toNumber(fetchOrThrow(var)) + step;
    }
  }
  return Flow::Next;
}

void Job::Impl::runSet(const SetArg& arg) {
  if (arg.indirect) {
    for (const auto& inner : parseSetArguments(eval(*arg.indirect))) runSet(inner);
    return;
  }
  // The targets' names and subscripts first, then the value.
  struct Resolved {
    Target target;
    std::string a2, a3, a4;
  };
  std::vector<Resolved> targets;
  for (const auto& t : arg.targets) {
    Resolved r;
    if (t.kind == SetTarget::Kind::Special || t.kind == SetTarget::Kind::ZFunction) {
      targets.push_back(std::move(r));
      continue;
    }
    r.target = resolve(t.ref);
    if (t.arg2) r.a2 = eval(*t.arg2);
    if (t.arg3) r.a3 = eval(*t.arg3);
    if (t.arg4) r.a4 = eval(*t.arg4);
    targets.push_back(std::move(r));
  }
  std::string value = eval(*arg.value);
  for (size_t i = 0; i < targets.size(); ++i) {
    const SetTarget& t = arg.targets[i];
    Resolved& r = targets[i];
    if (t.kind == SetTarget::Kind::Special) {
      setSpecial(t, value);
      continue;
    }
    if (t.kind == SetTarget::Kind::ZFunction) throw MError("<FUNCTION>");
    if (t.kind == SetTarget::Kind::Var) {
      store(r.target, value);
      continue;
    }
    std::string old = fetch(r.target).value_or("");
    if (t.kind == SetTarget::Kind::Piece) {
      long from = t.arg3 ? toInteger(r.a3) : 1;
      long to = t.arg4 ? toInteger(r.a4) : from;
      store(r.target, replacePieces(old, r.a2, from, to, value));
    } else {
      long from = t.arg2 ? toInteger(r.a2) : 1;
      long to = t.arg3 ? toInteger(r.a3) : from;
      store(r.target, replaceCharacters(old, from, to, value));
    }
  }
}

Flow Job::Impl::runDo(const DoArg& arg, Context& ctx, bool isGoto) {
  if (arg.indirect) {
    std::string text = eval(*arg.indirect);
    if (arg.postcond && !isTrue(eval(*arg.postcond))) return Flow::Next;
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
  for (const auto& arg : c.locks) {
    std::vector<LockTable::Name> names;
    for (const auto& ref : arg.refs) {
      Target t = resolve(ref);
      LockTable::Name name{t.global ? db->name : "", (t.global ? "^" : "") + t.name};
      name.insert(name.end(), t.subs.begin(), t.subs.end());
      names.push_back(std::move(name));
    }
    if (arg.sign == '-') {
      for (const auto& name : names) table.release(lockOwner, name);
      continue;
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
  finishGoto(ctx, runLine(*line, 0, ctx, 0));
}

void Job::Impl::finishGoto(Context& ctx, Flow flow) {
  while (flow == Flow::Goto) {
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
