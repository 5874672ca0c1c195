#include <algorithm>
#include <cctype>

#include "number.h"
#include "server_impl.h"

namespace mengine {
namespace {

Subscripts withGlobal(const std::string& global, const Subscripts& subs) {
  Subscripts path;
  path.reserve(subs.size() + 1);
  path.push_back(global);
  path.insert(path.end(), subs.begin(), subs.end());
  return path;
}

// Every change of the database's globals passes here, under its lock, so
// that parsed routines are never used after their lines changed.
void noteChange(Database& db, const std::string& global, const Subscripts& subs) {
  if (global == "ROUTINE") db.routineChanges.touch(subs);
}

}  // namespace

Server::Impl::Impl(ServerOptions opts) : options(std::move(opts)) {
  for (const char* name : {"%SYS", "USER"}) {
    auto db = std::make_unique<Database>();
    db->name = name;
    databases.emplace(name, std::move(db));
  }
}

Database* Server::Impl::find(std::string_view name) const {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto it = databases.find(key);
  return it == databases.end() ? nullptr : it->second.get();
}

std::optional<std::string> Server::Impl::get(Database& db, const std::string& global,
                                             const Subscripts& subs) {
  std::lock_guard lock(db.mutex);
  const std::string* v = getValue(db.globals, withGlobal(global, subs));
  if (!v) return std::nullopt;
  return *v;
}

int Server::Impl::data(Database& db, const std::string& global, const Subscripts& subs) {
  std::lock_guard lock(db.mutex);
  return dataOf(db.globals, withGlobal(global, subs));
}

std::string Server::Impl::order(Database& db, const std::string& global, const Subscripts& subs,
                                bool forward) {
  std::lock_guard lock(db.mutex);
  return orderOf(db.globals, withGlobal(global, subs), forward);
}

std::optional<Subscripts> Server::Impl::query(Database& db, const std::string& global,
                                              const Subscripts& subs) {
  std::lock_guard lock(db.mutex);
  const Node* node = findNode(db.globals, {global});
  if (!node) return std::nullopt;
  return queryAfter(*node, subs);
}

void Server::Impl::set(Database& db, const std::string& global, const Subscripts& subs,
                       std::string value, TransactionLog* log) {
  std::lock_guard lock(db.mutex);
  Subscripts path = withGlobal(global, subs);
  if (log) {
    Node before;
    if (const std::string* old = getValue(db.globals, path)) before.value = *old;
    log->changes.push_back({&db, global, subs, false, value, std::move(before)});
  }
  setValue(db.globals, path, value);
  noteChange(db, global, subs);
  if (options.journal && !log) options.journal->recordSet(db.name, global, subs, value);
}

void Server::Impl::kill(Database& db, const std::string& global, const Subscripts& subs,
                        TransactionLog* log) {
  std::lock_guard lock(db.mutex);
  Subscripts path = withGlobal(global, subs);
  if (dataOf(db.globals, path) == 0) return;
  if (log) log->changes.push_back({&db, global, subs, true, "", *findNode(db.globals, path)});
  killNode(db.globals, path);
  noteChange(db, global, subs);
  if (options.journal && !log) options.journal->recordKill(db.name, global, subs);
}

std::string Server::Impl::increment(Database& db, const std::string& global,
                                   const Subscripts& subs, Number by, TransactionLog* log) {
  std::lock_guard lock(db.mutex);
  Subscripts path = withGlobal(global, subs);
  const std::string* old = getValue(db.globals, path);
  std::string value = formatNumber(toNumber(old ? *old : "0") + by);
  if (log) {
    Node before;
    if (old) before.value = *old;
    log->changes.push_back({&db, global, subs, false, value, std::move(before)});
  }
  setValue(db.globals, path, value);
  noteChange(db, global, subs);
  if (options.journal && !log) options.journal->recordSet(db.name, global, subs, value);
  return value;
}

void Server::Impl::commit(TransactionLog& log, size_t mark) {
  // One database at a time, under its lock, so that its journal holds the
  // transaction's records together.
  for (auto& [name, db] : databases) {
    if (!options.journal) break;
    std::vector<JournalSink::Change> changes;
    for (size_t i = mark; i < log.changes.size(); ++i) {
      const auto& c = log.changes[i];
      if (c.db == db.get()) changes.push_back({c.kill, c.global, c.subs, c.kill ? std::string() : c.value});
    }
    if (changes.empty()) continue;
    std::lock_guard lock(db->mutex);
    options.journal->recordTransaction(db->name, changes);
  }
  log.changes.resize(mark);
}

void Server::Impl::rollback(TransactionLog& log, size_t mark) {
  for (size_t i = log.changes.size(); i-- > mark;) {
    auto& c = log.changes[i];
    std::lock_guard lock(c.db->mutex);
    Subscripts path = withGlobal(c.global, c.subs);
    noteChange(*c.db, c.global, c.subs);
    if (c.kill) {
      Subscripts rel;
      forEachValue(c.before, rel, [&](const Subscripts& r, const std::string& value) {
        Subscripts full = path;
        full.insert(full.end(), r.begin(), r.end());
        setValue(c.db->globals, full, value);
      });
    } else if (c.before.value) {
      setValue(c.db->globals, path, *c.before.value);
    } else if (const Node* node = findNode(c.db->globals, path)) {
      // The set created the value: take it away again, and the node with it
      // when nothing is below it.
      if (node->children.empty()) {
        killNode(c.db->globals, path);
      } else {
        const_cast<Node*>(node)->value.reset();
      }
    }
  }
  log.changes.resize(mark);
}

void Server::Impl::merge(Database& db, const std::string& target, const Subscripts& targetSubs,
                         const std::string& source, const Subscripts& sourceSubs) {
  Node copy = snapshot(db, source, sourceSubs);
  std::lock_guard lock(db.mutex);
  Subscripts path;
  forEachValue(copy, path, [&](const Subscripts& rel, const std::string& value) {
    Subscripts subs = targetSubs;
    subs.insert(subs.end(), rel.begin(), rel.end());
    setValue(db.globals, withGlobal(target, subs), value);
    noteChange(db, target, subs);
    if (options.journal) options.journal->recordSet(db.name, target, subs, value);
  });
}

Node Server::Impl::snapshot(Database& db, const std::string& global, const Subscripts& subs) {
  std::lock_guard lock(db.mutex);
  const Node* node = findNode(db.globals, withGlobal(global, subs));
  return node ? *node : Node{};
}

bool LockTable::conflicts(int owner, const Name& name) const {
  for (const auto& h : held_) {
    if (h.owner == owner) continue;
    size_t common = std::min(h.name.size(), name.size());
    if (std::equal(name.begin(), name.begin() + static_cast<long>(common), h.name.begin()))
      return true;
  }
  return false;
}

bool LockTable::acquire(int owner, const std::vector<Name>& names, Deadline deadline) {
  std::unique_lock lock(mutex_);
  auto free = [&] {
    for (const auto& n : names)
      if (conflicts(owner, n)) return false;
    return true;
  };
  if (deadline) {
    if (!changed_.wait_until(lock, *deadline, free)) return false;
  } else {
    changed_.wait(lock, free);
  }
  for (const auto& n : names) {
    bool found = false;
    for (auto& h : held_) {
      if (h.owner == owner && h.name == n) {
        ++h.count;
        found = true;
        break;
      }
    }
    if (!found) held_.push_back({n, owner, 1});
  }
  return true;
}

void LockTable::release(int owner, const Name& name) {
  {
    std::lock_guard lock(mutex_);
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->owner == owner && it->name == name) {
        if (--it->count == 0) held_.erase(it);
        break;
      }
    }
  }
  changed_.notify_all();
}

void LockTable::releaseAll(int owner) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(held_, [&](const Held& h) { return h.owner == owner; });
  }
  changed_.notify_all();
}

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() = default;

const ServerOptions& Server::options() const { return impl_->options; }

bool Server::hasDatabase(std::string_view name) const { return impl_->find(name) != nullptr; }

void Server::replaySet(const std::string& database, const std::string& global,
                       const Subscripts& subscripts, const std::string& value) {
  Database* db = impl_->find(database);
  if (!db || global.empty()) return;
  std::lock_guard lock(db->mutex);
  setValue(db->globals, withGlobal(global, subscripts), value);
  noteChange(*db, global, subscripts);
}

void Server::replayKill(const std::string& database, const std::string& global,
                        const Subscripts& subscripts) {
  Database* db = impl_->find(database);
  if (!db || global.empty()) return;
  std::lock_guard lock(db->mutex);
  killNode(db->globals, withGlobal(global, subscripts));
  noteChange(*db, global, subscripts);
}

void Server::forEachNode(const NodeVisitor& visit) const {
  // Not a structured binding: the lambda below captures db, which older
  // clang versions refuse for bindings.
  for (const auto& entry : impl_->databases) {
    const auto& db = entry.second;
    std::lock_guard lock(db->mutex);
    Subscripts path;
    forEachValue(db->globals, path, [&](const Subscripts& p, const std::string& value) {
      if (p.empty()) return;
      Subscripts subs(p.begin() + 1, p.end());
      visit(db->name, p[0], subs, value);
    });
  }
}

Server::Impl& Server::impl() { return *impl_; }

}  // namespace mengine
