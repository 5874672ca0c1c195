// Routines parsed once per server. Each database keeps the parsed form of
// the routines its jobs run, keyed by name and shared by every job, so that
// a call into a routine costs the same however long the routine is. A
// routine is read again when ^ROUTINE changed under its name since it was
// parsed: every change of ^ROUTINE counts one more generation of the
// database, and the cache checks the routine's own changes only when the
// generation moved.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ast.h"
#include "lru_map.h"
#include "tree.h"

namespace mengine {

struct Database;

// A routine's lines as stored in ^ROUTINE(name, 1...), in collation order,
// each parsed once. Never changed after it is made, so jobs on any thread
// share it.
struct Routine {
  std::string name;
  bool hasNodes = false;  // false: ^ROUTINE(name) holds a value alone
  std::vector<std::string> lines;
  // Null where the line does not parse: the error is raised when it runs.
  std::vector<std::shared_ptr<const Line>> parsed;
  // The first line of each label (the text before the first blank or "(").
  std::unordered_map<std::string, std::size_t> labels;
  std::size_t bytes = 0;  // an estimate of the memory it takes
};

// The changes under ^ROUTINE of one database, guarded by the database's
// mutex except for the generation, which the cache reads without it.
class RoutineChanges {
 public:
  // Records a change at ^ROUTINE(subs...); no subscripts: the whole global.
  void touch(const Subscripts& subs);
  std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
  // The generation of the last change under the routine, 0 for none.
  std::uint64_t lastChange(const std::string& name) const;

 private:
  std::atomic<std::uint64_t> generation_{0};
  std::map<std::string, std::uint64_t> changedAt_;
  std::uint64_t allChangedAt_ = 0;
};

// The parsed routines of one database, the least recently used dropped
// first when their estimated size passes the budget.
class RoutineCache {
 public:
  static constexpr std::size_t kDefaultBudget = std::size_t{64} << 20;

  explicit RoutineCache(std::size_t budget = kDefaultBudget) : entries_(budget) {}

  // The routine of db, parsed; null when db has no ^ROUTINE(name) node.
  std::shared_ptr<const Routine> get(Database& db, const std::string& name);

  std::size_t size() const;
  std::size_t bytes() const;
  // How many times a routine was read out of the database and parsed.
  std::size_t loads() const;

 private:
  struct Entry {
    std::shared_ptr<const Routine> routine;  // null: no such node
    std::uint64_t loadedAt;   // the generation it was read at
    std::uint64_t checkedAt;  // the generation it was last known current at
  };
  // The entry of name if it is current, touched as the most recent.
  bool findCurrent(Database& db, const std::string& name, std::shared_ptr<const Routine>& out);
  void insert(const std::string& name, std::shared_ptr<const Routine> routine,
              std::uint64_t generation);

  mutable std::mutex mutex_;
  std::size_t loads_ = 0;
  LruMap<Entry> entries_;
};

}  // namespace mengine
