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
      for (const auto& ref : c.refs) writeNodes(resolve(ref));
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
      runMerge(resolve(c.refs[0]), resolve(c.refs[1]));
      return Flow::Next;
    case Cmd::Xecute:
      for (size_t i = 0; i < c.exprs.size(); ++i) {
        if (c.xecuteConds[i] && !isTrue(eval(*c.xecuteConds[i]))) continue;
        runXecute(eval(*c.exprs[i]));
      }
      return Flow::Next;
    case Cmd::Halt:
      halted = true;
      throw HaltSignal{};
    case Cmd::Hang:
      runHang(c);
      return Flow::Next;
    case Cmd::ZNspace:
      runZnspace(c);
      return Flow::Next;
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
  FrameGuard guard(*this, true);
  Context block;
  block.routine = ctx.routine;
  block.level = ctx.level + 1;
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

void Job::Impl::runMerge(const Target& target, const Target& source) {
  Node copy;
  if (source.global) {
    copy = server.impl().snapshot(*db, source.name, source.subs);
  } else if (auto root = localRoot(source.name, false)) {
    if (const Node* node = findNode(*root, source.subs)) copy = *node;
  }
  Subscripts path;
  forEachValue(copy, path, [&](const Subscripts& rel, const std::string& value) {
    Target t = target;
    t.subs.insert(t.subs.end(), rel.begin(), rel.end());
    store(t, value);
  });
}

void Job::Impl::runHang(const Command& c) {
  for (const auto& e : c.exprs) {
    long double seconds = toNumber(eval(*e));
    if (seconds > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(
          static_cast<long long>(std::min(seconds, 86400.0L) * 1000)));
  }
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
  auto body = [&]() { return runLine(line, index + 1, ctx, forDepth + 1); };
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
    long double value = toNumber(start);
    long double step = toNumber(eval(*range.increment));
    bool bounded = static_cast<bool>(range.limit);
    long double limit = bounded ? toNumber(eval(*range.limit)) : 0;
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

void Job::Impl::write(std::string_view text) {
  for (char ch : text) {
    if (ch == '\r' || ch == '\n' || ch == '\f') {
      column = 0;
    } else {
      ++column;
    }
  }
  if (io) io->write(text);
}

void Job::Impl::writeNodes(const Target& t) {
  auto value = [](const std::string& v) { return isCanonicalNumber(v) ? v : quoted(v); };
  Node copy;
  if (t.global) {
    copy = server.impl().snapshot(*db, t.name, t.subs);
  } else if (auto root = localRoot(t.name, false)) {
    if (const Node* node = findNode(*root, t.subs)) copy = *node;
  }
  Subscripts path;
  forEachValue(copy, path, [&](const Subscripts& rel, const std::string& text) {
    Target node = t;
    node.subs.insert(node.subs.end(), rel.begin(), rel.end());
    write(displayName(node) + "=" + value(text) + "\r\n");
  });
}

void Job::Impl::writeLocals() {
  std::vector<std::string> names;
  for (const auto& entry : locals) names.push_back(entry.first);
  for (const auto& name : names) writeNodes(Target{false, name, {}});
}

void Job::Impl::runWrite(const WriteItem& item) {
  switch (item.kind) {
    case '!':
      write("\r\n");
      break;
    case '#':
      write("\f");
      break;
    case '?': {
      long to = toInteger(eval(*item.expr));
      if (to > static_cast<long>(kMaxString)) to = static_cast<long>(kMaxString);
      if (to > static_cast<long>(column)) write(std::string(static_cast<size_t>(to) - column, ' '));
      break;
    }
    case '*': {
      long code = toInteger(eval(*item.expr));
      if (code >= 0 && code <= 255) write(std::string(1, static_cast<char>(code)));
      break;
    }
    default:
      write(eval(*item.expr));
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
  std::string label = e.labelIndirect ? eval(*e.labelIndirect) : e.label;
  std::string routine = e.routineIndirect ? eval(*e.routineIndirect) : e.routine;
  std::shared_ptr<Routine> r = routine.empty() ? ctx.routine : loadRoutine(routine);
  if (!r) throw MError("<NOLINE> *" + label);
  ctx.gotoLine = findLabel(*r, label, e.offset);
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
      long double seconds = std::clamp(toNumber(eval(*arg.timeout)), 0.0L, 86400.0L * 365);
      deadline = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    if (arg.sign == ' ') table.releaseAll(lockOwner);
    bool taken = table.acquire(lockOwner, names, deadline);
    if (arg.timeout) test = taken;
  }
}

void Job::Impl::runXecute(const std::string& text) {
  auto line = cachedLine(text);
  FrameGuard guard(*this, false);
  Context ctx;
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
  std::shared_ptr<Routine> r = ctx.routine;
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

std::shared_ptr<Routine> Job::Impl::loadRoutine(const std::string& name) {
  if (name.empty()) throw MError("<NOROUTINE>");
  Database* from = db;
  if (server.impl().data(*from, "ROUTINE", {name}) == 0 && name[0] == '%')
    from = server.impl().find("%SYS");
  Node node = server.impl().snapshot(*from, "ROUTINE", {name});
  if (node.children.empty()) throw MError("<NOROUTINE> *" + name);
  auto r = std::make_shared<Routine>();
  r->name = name;
  for (const auto& [sub, child] : node.children) {
    if (sub == "0") continue;
    r->lines.push_back(child.value.value_or(""));
  }
  r->parsed.resize(r->lines.size());
  return r;
}

const Line& Job::Impl::lineAt(Routine& r, size_t index) {
  if (index >= r.lines.size()) throw MError("<NOLINE>");
  if (!r.parsed[index]) r.parsed[index] = cachedRoutineLine(r.lines[index]);
  return *r.parsed[index];
}

size_t Job::Impl::findLabel(const Routine& r, const std::string& label, int offset) {
  std::string where = label + (offset ? "+" + std::to_string(offset) : "") + "^" + r.name;
  size_t index = 0;
  if (!label.empty()) {
    bool found = false;
    for (size_t i = 0; i < r.lines.size() && !found; ++i) {
      const std::string& text = r.lines[i];
      size_t end = text.find_first_of(" \t(");
      if (text.compare(0, end == std::string::npos ? text.size() : end, label) == 0) {
        index = i;
        found = true;
      }
    }
    if (!found) throw MError("<NOLINE> *" + where);
  }
  index += static_cast<size_t>(offset);
  if (index >= r.lines.size()) throw MError("<NOLINE> *" + where);
  return index;
}

std::optional<std::string> Job::Impl::call(const EntryRef& entry, bool extrinsic, Context* caller) {
  std::string label = entry.labelIndirect ? eval(*entry.labelIndirect) : entry.label;
  std::string routine = entry.routineIndirect ? eval(*entry.routineIndirect) : entry.routine;

  // Actual parameters, left to right, before anything is NEWed.
  std::vector<std::optional<std::string>> values(entry.args.size());
  std::vector<std::shared_ptr<Node>> aliases(entry.args.size());
  for (size_t i = 0; i < entry.args.size(); ++i) {
    const Actual& a = entry.args[i];
    if (!a.byRef.empty()) {
      aliases[i] = localRoot(a.byRef, true);
    } else if (!a.absent) {
      values[i] = eval(*a.expr);
    }
  }

  std::optional<std::string> result;
  if (!routine.empty()) {
    std::vector<std::string> plain;
    for (size_t i = 0; i < values.size(); ++i) {
      const std::string* v = aliases[i] && aliases[i]->value ? &*aliases[i]->value : nullptr;
      plain.push_back(values[i] ? *values[i] : (v ? *v : ""));
    }
    if (callBuiltin(routine, label, plain, result)) {
      if (extrinsic && !result) throw MError("<COMMAND>");
      return result;
    }
  }

  if (!caller) caller = current;
  std::shared_ptr<Routine> r;
  if (routine.empty()) {
    if (!caller || !caller->routine) throw MError("<NOLINE> *" + label);
    r = caller->routine;
  } else {
    r = loadRoutine(routine);
  }
  size_t index = findLabel(*r, label, entry.offset);
  const Line& first = lineAt(*r, index);
  if (entry.hasArgs && (!first.hasFormals || entry.args.size() > first.formals.size()))
    throw MError("<PARAMETER>");

  FrameGuard guard(*this, extrinsic);
  for (size_t i = 0; i < first.formals.size(); ++i) {
    const std::string& formal = first.formals[i];
    newVariable(formal);
    if (i < aliases.size() && aliases[i]) {
      locals[formal] = aliases[i];
    } else if (i < values.size() && values[i]) {
      auto node = std::make_shared<Node>();
      node->value = *values[i];
      locals[formal] = node;
    }
  }
  Context ctx;
  ctx.routine = r;
  ctx.level = first.level;
  ctx.extrinsic = extrinsic;
  finishGoto(ctx, runLines(ctx, index));
  if (extrinsic && !ctx.quitValue) throw MError("<COMMAND>");
  return ctx.quitValue;
}

}  // namespace mengine
