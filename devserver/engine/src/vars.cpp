// Variables: resolving references to targets, fetching, storing and
// killing locals and globals, NEW and the frames that undo it.
#include <atomic>

#include "interp.h"
#include "number.h"
#include "parser.h"
#include "text.h"

namespace mengine {
namespace {

constexpr size_t kMaxSubscripts = 255;

void checkSubscripts(const Target& t) {
  for (const auto& s : t.subs)
    if (s.empty()) throw MError("<SUBSCRIPT> *" + displayName(t));
}

}  // namespace

std::string displayName(const Target& t) {
  std::string out = (t.global ? (t.ssvn ? "^$" : "^") : "") + t.name;
  if (t.subs.empty()) return out;
  out += '(';
  for (size_t i = 0; i < t.subs.size(); ++i) {
    if (i > 0) out += ',';
    out += isCanonicalNumber(t.subs[i]) ? t.subs[i] : quoted(t.subs[i]);
  }
  return out + ')';
}

void throwUndefined(const Target& t) { throw MError("<UNDEFINED> *" + displayName(t)); }

namespace {

// Lock owners are told apart even when two jobs were given the same number.
int nextLockOwner() {
  static std::atomic<int> next{1};
  return next++;
}

}  // namespace

Job::Impl::Impl(Server& s, int number)
    : server(s),
      jobNumber(number),
      devices(s.options().directory, number),
      lockOwner(nextLockOwner()) {
  db = server.impl().find("%SYS");
  frames.emplace_back();
}

Job::Impl::~Impl() {
  // A transaction the job left open is not committed.
  if (transaction.level() > 0) server.impl().rollback(transaction, 0);
  server.impl().locks.releaseAll(lockOwner);
}

std::shared_ptr<const Line> Job::Impl::cachedLine(const std::string& text) {
  return lineCache.get(text, [&] { return parseCommandLine(text); });
}

ExprP Job::Impl::cachedExpression(const std::string& text) {
  return exprCache.get(text, [&] { return parseExpression(text); });
}

std::shared_ptr<const Ref> Job::Impl::cachedReference(const std::string& text) {
  return refCache.get(text, [&] { return std::make_shared<const Ref>(parseReference(text)); });
}

std::shared_ptr<const Pattern> Job::Impl::cachedPattern(const std::string& text) {
  return patternCache.get(text, [&] { return parsePattern(text); });
}

Target Job::Impl::resolve(const Ref& ref) {
  Target t = resolveSubscripts(ref);
  bindNaked(t);
  return t;
}

Target Job::Impl::resolveSubscripts(const Ref& ref) {
  Target t;
  if (ref.indirect) {
    std::string text = eval(*ref.indirect);
    const std::shared_ptr<const Ref> inner = cachedReference(text);
    IndirectionLevel level(*this);
    t = resolveSubscripts(*inner);
  } else {
    t.global = ref.global;
    t.name = ref.name;
    t.ssvn = ref.ssvn;
    if (ref.environment) {
      std::string name = eval(*ref.environment);
      t.database = server.impl().find(name);
      if (!t.database) throw MError("<NAMESPACE> *" + name);
    }
  }
  for (const auto& sub : ref.subs) t.subs.push_back(eval(*sub));
  if (t.global && t.name.empty() && !t.ssvn) t.naked = true;
  return t;
}

void Job::Impl::bindNaked(Target& t, bool setIndicator) {
  if (t.ssvn) return;
  if (t.naked) {
    // ^(subs) continues the last global reference at its last level.
    if (!naked) throw CodedError("M1", "<NAKED>");
    Subscripts subs(naked->subs.begin(), naked->subs.end() - (naked->subs.empty() ? 0 : 1));
    subs.insert(subs.end(), t.subs.begin(), t.subs.end());
    t.name = naked->name;
    t.database = naked->database;
    t.subs = std::move(subs);
    t.naked = false;
  }
  if (t.subs.size() > kMaxSubscripts) throw MError("<SUBSCRIPT> *" + displayName(t));
  // A reference without subscripts leaves the naked indicator undefined.
  if (t.global && setIndicator) {
    if (t.subs.empty())
      naked.reset();
    else
      naked = t;
  }
}

std::shared_ptr<Node> Job::Impl::localRoot(const std::string& name, bool create) {
  auto it = locals.find(name);
  if (it != locals.end()) return it->second;
  if (!create) return nullptr;
  auto node = std::make_shared<Node>();
  locals.emplace(name, node);
  return node;
}

Node& Job::Impl::localNode(const std::string& name) {
  if (Node* node = locals.lookup(name)) return *node;
  return *locals.emplace(name, std::make_shared<Node>()).first->second;
}

std::optional<std::string> Job::Impl::fetch(const Target& t) {
  if (t.ssvn) return structuredValue(t);
  if (t.global) return server.impl().get(dbOf(t), t.name, t.subs);
  const std::string* v = localValue(t.name, t.subs);
  if (!v) return std::nullopt;
  return *v;
}

std::string Job::Impl::fetchOrThrow(const Target& t) {
  auto v = fetch(t);
  if (!v) throwUndefined(t);
  return *v;
}

void Job::Impl::store(const Target& t, std::string value) {
  if (t.ssvn) throw MError("<SVN> *" + displayName(t) + " cannot be set");
  checkSubscripts(t);
  if (value.size() > kMaxString) throw MError("<MAXSTRING>");
  if (t.global) {
    server.impl().set(dbOf(t), t.name, t.subs, std::move(value), transactionLog());
    return;
  }
  setValue(localNode(t.name), t.subs, std::move(value));
}

void Job::Impl::killTarget(const Target& t) {
  if (t.ssvn) throw MError("<SVN> *" + displayName(t) + " cannot be killed");
  checkSubscripts(t);
  if (t.global) {
    server.impl().kill(dbOf(t), t.name, t.subs, transactionLog());
    return;
  }
  auto it = locals.find(t.name);
  if (it == locals.end()) return;
  killNode(*it->second, t.subs);
  // An aliased node (a by-reference parameter) must stay shared.
  if (it->second->empty() && it->second.use_count() == 1) locals.erase(it);
}

int Job::Impl::dataOf(const Target& t) {
  if (t.ssvn) return structuredValue(t) ? 1 : (t.subs.empty() ? 10 : 0);
  if (t.global) return server.impl().data(dbOf(t), t.name, t.subs);
  auto root = localRoot(t.name, false);
  return root ? mengine::dataOf(*root, t.subs) : 0;
}

// $ORDER of an unsubscripted local name walks the names of the defined local
// variables, as M systems commonly allow: S X="%" F  S X=$O(@X) Q:X=""  lists
// them (code that checks a call for leaked variables relies on it).
static std::string nextLocalName(const Locals& locals, const std::string& name, bool forward) {
  if (forward) {
    for (auto it = locals.upper_bound(name); it != locals.end(); ++it)
      if (!it->second->empty()) return it->first;
    return "";
  }
  auto it = name.empty() ? locals.end() : locals.lower_bound(name);
  while (it != locals.begin()) {
    --it;
    if (!it->second->empty()) return it->first;
  }
  return "";
}

std::string Job::Impl::order(const Target& t, bool forward) {
  if (t.subs.empty() && !t.global && !t.ssvn) return nextLocalName(locals, t.name, forward);
  if (t.subs.empty()) throw MError("<FUNCTION>");
  if (t.ssvn) return structuredOrder(t, forward);
  for (size_t i = 0; i + 1 < t.subs.size(); ++i)
    if (t.subs[i].empty()) throw MError("<SUBSCRIPT> *" + displayName(t));
  if (t.global) return server.impl().order(dbOf(t), t.name, t.subs, forward);
  auto root = localRoot(t.name, false);
  return root ? orderOf(*root, t.subs, forward) : "";
}

void Job::Impl::newVariable(const std::string& name) {
  auto it = locals.find(name);
  Saved saved;
  saved.name = name;
  if (it != locals.end()) {
    saved.node = it->second;
    locals.erase(it);
  }
  frames.back().saved.push_back(std::move(saved));
}

void Job::Impl::newAllExcept(const std::vector<std::string>& keep) {
  Saved saved;
  saved.all = locals;
  saved.kept = keep;
  frames.back().saved.push_back(std::move(saved));
  Locals kept;
  for (const auto& name : keep) {
    auto it = locals.find(name);
    if (it != locals.end()) kept.insert(*it);
  }
  locals = std::move(kept);
}

void Job::Impl::killAllExcept(const std::vector<std::string>& keep) {
  for (auto it = locals.begin(); it != locals.end();) {
    bool kept = false;
    for (const auto& name : keep) kept = kept || name == it->first;
    if (kept) {
      ++it;
      continue;
    }
    it->second->value.reset();
    it->second->children.clear();
    it = locals.erase(it);
  }
}

Job::Impl::FrameGuard::FrameGuard(Job::Impl& j, bool restoreTest, const char* how) : job(j) {
  if (job.frames.size() > 400) throw MError("<FRAMESTACK>");
  job.frames.emplace_back();
  job.frames.back().how = how;
  if (restoreTest) job.frames.back().savedTest = job.test;
}

Job::Impl::FrameGuard::~FrameGuard() {
  Frame& frame = job.frames.back();
  for (auto it = frame.saved.rbegin(); it != frame.saved.rend(); ++it) {
    if (it->all) {
      // The names kept out of an exclusive NEW keep what they have now,
      // also those first set after the NEW.
      for (const auto& name : it->kept) {
        auto now = job.locals.find(name);
        if (now != job.locals.end()) {
          (*it->all)[name] = now->second;
        } else {
          it->all->erase(name);
        }
      }
      job.locals = std::move(*it->all);
    } else if (it->node) {
      job.locals[it->name] = it->node;
    } else {
      job.locals.erase(it->name);
    }
  }
  if (frame.savedTest) job.test = *frame.savedTest;
  if (frame.savedEtrap) job.etrap = *frame.savedEtrap;
  if (frame.savedEstackBase) job.estackBase = *frame.savedEstackBase;
  job.frames.pop_back();
}

}  // namespace mengine
