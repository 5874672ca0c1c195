#include "routine_cache.h"

#include "parser.h"
#include "server_impl.h"

namespace mengine {
namespace {

// Lines as stored, and whether ^ROUTINE(name) exists at all.
struct StoredLines {
  bool exists = false;
  bool hasNodes = false;  // a node below ^ROUTINE(name), if only its 0
  std::vector<std::string> lines;
  std::uint64_t generation = 0;
};

StoredLines readLines(Database& db, const std::string& name) {
  StoredLines stored;
  std::lock_guard lock(db.mutex);
  stored.generation = db.routineChanges.generation();
  const Node* node = findNode(db.globals, {"ROUTINE", name});
  if (!node || node->empty()) return stored;
  stored.exists = true;
  stored.hasNodes = !node->children.empty();
  stored.lines.reserve(node->children.size());
  for (const auto& [sub, child] : node->children) {
    if (sub == "0") continue;
    stored.lines.push_back(child.value.value_or(""));
  }
  return stored;
}

// What a parsed line takes beyond its text: the trees are several hundred
// bytes a node, a few nodes for every ten characters of text.
constexpr std::size_t kBytesPerLine = 512;
constexpr std::size_t kBytesPerCharacter = 64;

std::shared_ptr<const Routine> parseAll(const std::string& name, StoredLines stored) {
  auto r = std::make_shared<Routine>();
  r->name = name;
  r->hasNodes = stored.hasNodes;
  r->lines = std::move(stored.lines);
  r->parsed.resize(r->lines.size());
  r->bytes = sizeof(Routine) + name.size();
  for (std::size_t i = 0; i < r->lines.size(); ++i) {
    const std::string& text = r->lines[i];
    try {
      r->parsed[i] = parseRoutineLine(text);
    } catch (const MError&) {
      // Left null: running the line raises its error then.
    }
    std::size_t end = text.find_first_of(" \t(");
    r->labels.try_emplace(text.substr(0, end), i);
    r->bytes += kBytesPerLine + text.size() * kBytesPerCharacter;
  }
  return r;
}

}  // namespace

void RoutineChanges::touch(const Subscripts& subs) {
  std::uint64_t next = generation_.load(std::memory_order_relaxed) + 1;
  if (subs.empty()) {
    changedAt_.clear();
    allChangedAt_ = next;
  } else {
    changedAt_[subs[0]] = next;
  }
  generation_.store(next, std::memory_order_release);
}

std::uint64_t RoutineChanges::lastChange(const std::string& name) const {
  auto it = changedAt_.find(name);
  return std::max(allChangedAt_, it == changedAt_.end() ? 0 : it->second);
}

bool RoutineCache::findCurrent(Database& db, const std::string& name,
                               std::shared_ptr<const Routine>& out) {
  std::uint64_t loadedAt;
  {
    std::lock_guard lock(mutex_);
    Entry* e = entries_.find(name);
    if (e == nullptr) return false;
    if (e->checkedAt == db.routineChanges.generation()) {
      out = e->routine;
      return true;
    }
    loadedAt = e->loadedAt;
  }
  // ^ROUTINE changed somewhere: was it under this name?
  std::uint64_t last, now;
  {
    std::lock_guard lock(db.mutex);
    last = db.routineChanges.lastChange(name);
    now = db.routineChanges.generation();
  }
  if (last > loadedAt) return false;
  std::lock_guard lock(mutex_);
  Entry* e = entries_.find(name);
  if (e == nullptr || e->loadedAt != loadedAt) return false;
  e->checkedAt = std::max(e->checkedAt, now);
  out = e->routine;
  return true;
}

std::shared_ptr<const Routine> RoutineCache::get(Database& db, const std::string& name) {
  std::shared_ptr<const Routine> found;
  if (findCurrent(db, name, found)) return found;
  // Read and parsed outside the cache's lock: another job may do the same
  // meanwhile, and the later of the two stays.
  StoredLines stored = readLines(db, name);
  std::uint64_t generation = stored.generation;
  if (stored.exists) found = parseAll(name, std::move(stored));
  insert(name, found, generation);
  return found;
}

void RoutineCache::insert(const std::string& name, std::shared_ptr<const Routine> routine,
                          std::uint64_t generation) {
  std::size_t bytes = routine ? routine->bytes : sizeof(Entry) + name.size();
  std::lock_guard lock(mutex_);
  ++loads_;
  // A newer read of another job wins.
  if (const Entry* kept = entries_.peek(name); kept && kept->loadedAt > generation) return;
  // One routine larger than the budget is run but not kept.
  entries_.insert(name, Entry{std::move(routine), generation, generation}, bytes);
}

std::size_t RoutineCache::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::size_t RoutineCache::bytes() const {
  std::lock_guard lock(mutex_);
  return entries_.bytes();
}

std::size_t RoutineCache::loads() const {
  std::lock_guard lock(mutex_);
  return loads_;
}

}  // namespace mengine
