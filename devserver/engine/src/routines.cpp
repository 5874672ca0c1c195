// Routines: loading them from ^ROUTINE, finding labels, calling entry
// references with parameters, and the text of their lines ($TEXT).
#include "interp.h"
#include "number.h"
#include "parser.h"
#include "scanner.h"

namespace mengine {
namespace {

std::string placeName(const Routine& r, const std::string& label, int offset) {
  return label + (offset ? "+" + std::to_string(offset) : "") + "^" + r.name;
}

}  // namespace

std::shared_ptr<const Routine> Job::Impl::loadRoutine(const std::string& name) {
  if (name.empty()) throw MError("<NOROUTINE>");
  std::shared_ptr<const Routine> r = db->routines.get(*db, name);
  // A % routine not in the job's database is the system's.
  if (!r && name[0] == '%') {
    if (Database* sys = server.impl().find("%SYS"); sys && sys != db) r = sys->routines.get(*sys, name);
  }
  if (!r || !r->hasNodes) throw MError("<NOROUTINE> *" + name);
  return r;
}

const Line& Job::Impl::lineAt(const Routine& r, size_t index) {
  if (index >= r.lines.size()) throw MError("<NOLINE>");
  if (r.parsed[index]) return *r.parsed[index];
  // The line did not parse when the routine was read: parsing it again
  // raises its error here, where it runs.
  parseRoutineLine(r.lines[index]);
  throw MError("<SYNTAX>");
}

size_t Job::Impl::findLabel(const Routine& r, const std::string& label, int offset) {
  size_t index = 0;
  if (!label.empty()) {
    auto it = r.labels.find(label);
    if (it == r.labels.end()) throw MError("<NOLINE> *" + placeName(r, label, offset));
    index = it->second;
  }
  index += static_cast<size_t>(offset);
  if (index >= r.lines.size()) throw MError("<NOLINE> *" + placeName(r, label, offset));
  return index;
}

Place Job::Impl::placeOf(const EntryRef& e) {
  if (e.indirect) return placeOf(parseEntryRef(eval(*e.indirect)));
  Place p;
  if (e.labelIndirect) {
    std::string text = eval(*e.labelIndirect);
    // The value may be a whole entry reference: @x with x="tag^ROU".
    if (text.find_first_of("^+") != std::string::npos) {
      IndirectionLevel level(*this);
      p = placeOf(parseEntryRef(text));
    } else {
      p.label = text;
    }
  } else {
    p.label = e.label;
  }
  if (e.offsetExpr) p.offset = static_cast<int>(toInteger(eval(*e.offsetExpr)));
  p.hasOffset = p.hasOffset || e.offsetExpr != nullptr;
  if (e.routineIndirect) {
    p.routine = eval(*e.routineIndirect);
  } else if (!e.routine.empty()) {
    p.routine = e.routine;
  }
  return p;
}

Job::Impl::Actuals Job::Impl::evalActuals(const EntryRef& entry) {
  Actuals a;
  a.values.resize(entry.args.size());
  a.aliases.resize(entry.args.size());
  for (size_t i = 0; i < entry.args.size(); ++i) {
    const Actual& arg = entry.args[i];
    if (arg.byRefIndirect) {
      std::string name = eval(*arg.byRefIndirect);
      const std::shared_ptr<const Ref> held = cachedReference(name);
      const Ref& ref = *held;
      if (ref.global || ref.indirect || !ref.subs.empty() || ref.special) throw MError("<SYNTAX>");
      a.aliases[i] = localRoot(ref.name, true);
    } else if (!arg.byRef.empty()) {
      a.aliases[i] = localRoot(arg.byRef, true);
    } else if (!arg.absent) {
      a.values[i] = eval(*arg.expr);
    }
  }
  return a;
}

std::optional<std::string> Job::Impl::call(const EntryRef& entry, bool extrinsic, Context* caller) {
  if (!entry.external.empty())
    throw MError((extrinsic ? "<FUNCTION> *$&" : "<COMMAND> *&") + entry.external + " not available");
  Place place = placeOf(entry);
  // Actual parameters, left to right, before anything is NEWed.
  Actuals actuals = evalActuals(entry);
  std::optional<std::string> result;
  if (!place.routine.empty()) {
    std::vector<std::string> plain;
    for (size_t i = 0; i < actuals.values.size(); ++i) {
      const auto& alias = actuals.aliases[i];
      const std::string* v = alias && alias->value ? &*alias->value : nullptr;
      plain.push_back(actuals.values[i] ? *actuals.values[i] : (v ? *v : ""));
    }
    if (callBuiltin(place.routine, place.label, plain, result)) {
      if (extrinsic && !result) throw MError("<COMMAND>");
      return result;
    }
  }
  if (!caller) caller = current;
  std::shared_ptr<const Routine> r;
  if (place.routine.empty()) {
    if (!caller || !caller->routine) throw MError("<NOLINE> *" + place.label);
    r = caller->routine;
  } else {
    r = loadRoutine(place.routine);
  }
  size_t index = findLabel(*r, place.label, place.offset);
  const Line& first = lineAt(*r, index);
  // Actual parameters, and every $$, need a line with a formal list.
  if ((entry.hasArgs || extrinsic) && !first.hasFormals)
    throw CodedError("M20", "<PARAMETER>");
  if (entry.args.size() > first.formals.size()) throw MError("<PARAMETER>");
  return enter(r, index, first, actuals, extrinsic);
}

// Runs the lines from index in a new frame with the formal parameters bound.
std::optional<std::string> Job::Impl::enter(const std::shared_ptr<const Routine>& r, size_t index,
                                            const Line& first, Actuals& actuals, bool extrinsic) {
  FrameGuard guard(*this, extrinsic, extrinsic ? "$$" : "DO");
  for (size_t i = 0; i < first.formals.size(); ++i) {
    const std::string& formal = first.formals[i];
    newVariable(formal);
    if (i < actuals.aliases.size() && actuals.aliases[i]) {
      locals[formal] = actuals.aliases[i];
    } else if (i < actuals.values.size() && actuals.values[i]) {
      auto node = std::make_shared<Node>();
      node->value = *actuals.values[i];
      locals[formal] = node;
    }
  }
  Context ctx;
  ctx.routine = r;
  ctx.level = first.level;
  ctx.extrinsic = extrinsic;
  frames.back().ctx = &ctx;
  runTrapped(ctx, index);
  if (extrinsic && !ctx.quitValue) throw CodedError("M17", "<COMMAND>");
  return ctx.quitValue;
}

namespace {

// A routine line as $TEXT gives it: the line start, however many blanks or
// tabs were stored, is written as one space.
std::string withOneSpaceLineStart(const std::string& text) {
  size_t end = 0;
  while (end < text.size() && !isBlank(text[end]) && text[end] != ';') {
    if (text[end] == '(') {
      size_t close = text.find(')', end);
      end = close == std::string::npos ? text.size() : close + 1;
      break;
    }
    ++end;
  }
  size_t rest = end;
  while (rest < text.size() && isBlank(text[rest])) ++rest;
  if (rest == end || rest == text.size()) return text.substr(0, end);
  return text.substr(0, end) + " " + text.substr(rest);
}

}  // namespace

std::string Job::Impl::lineText(const EntryRef& entry) {
  if (entry.indirect) {
    // $TEXT(@X) with X="+1^ROU": the value is the whole argument.
    EntryRef inner = parseTextArgument(eval(*entry.indirect));
    IndirectionLevel level(*this);
    return lineText(inner);
  }
  Place place;
  std::shared_ptr<const Routine> r;
  try {
    place = placeOf(entry);
    if (!place.routine.empty()) {
      r = loadRoutine(place.routine);
    } else if (current && current->routine) {
      r = current->routine;
    } else {
      return "";
    }
  } catch (const MError&) {
    return "";
  }
  // +0 names the routine itself; ^ROU alone is its first line.
  if (place.label.empty() && place.hasOffset && place.offset == 0) return r->name;
  long index = place.label.empty() && place.hasOffset ? place.offset - 1 : place.offset;
  if (!place.label.empty()) {
    // An offset may reach back before the label, not before the first line.
    try {
      index += static_cast<long>(findLabel(*r, place.label, 0));
    } catch (const MError&) {
      return "";
    }
  }
  if (index < 0 || index >= static_cast<long>(r->lines.size())) return "";
  std::string text = r->lines[static_cast<size_t>(index)];
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return withOneSpaceLineStart(text);
}

}  // namespace mengine
