// The databases behind a Server. Each database's globals live in one tree
// whose first level is the global name; one mutex per database guards it and
// the journal records of its changes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "background.h"
#include "mengine/engine.h"
#include "number.h"
#include "routine_cache.h"
#include "tree.h"

namespace mengine {

struct Database {
  std::string name;
  mutable std::mutex mutex;
  Node globals;
  RoutineChanges routineChanges;  // guarded by mutex but for its generation
  RoutineCache routines;
};

// The LOCK table shared by all jobs. A lock on a node also covers its
// descendants, so two names conflict when one is a prefix of the other.
class LockTable {
 public:
  using Name = std::vector<std::string>;
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  // Takes one more count of every name for owner, all or none; waits while
  // another owner holds a conflicting name. False when the deadline passed.
  bool acquire(int owner, const std::vector<Name>& names, Deadline deadline);
  void release(int owner, const Name& name);
  void releaseAll(int owner);

 private:
  struct Held {
    Name name;
    int owner;
    int count;
  };
  bool conflicts(int owner, const Name& name) const;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Held> held_;
};

// The changes of a transaction: applied at once, undone by a rollback, and
// journaled together, in order, when it commits.
struct TransactionLog {
  struct Change {
    Database* db;
    std::string global;
    Subscripts subs;
    bool kill;
    std::string value;  // set: the new value
    Node before;        // the node as it was (for a set: its value only)
  };
  std::vector<Change> changes;
  std::vector<size_t> marks;  // changes.size() at each TSTART

  int level() const { return static_cast<int>(marks.size()); }
};

struct Server::Impl {
  explicit Impl(ServerOptions opts);

  ServerOptions options;
  std::map<std::string, std::unique_ptr<Database>> databases;
  LockTable locks;

  // The database of that name (case-insensitive), or null.
  Database* find(std::string_view name) const;

  std::optional<std::string> get(Database& db, const std::string& global, const Subscripts& subs);
  int data(Database& db, const std::string& global, const Subscripts& subs);
  // subs must not be empty; see orderOf.
  std::string order(Database& db, const std::string& global, const Subscripts& subs, bool forward);
  std::optional<Subscripts> query(Database& db, const std::string& global, const Subscripts& subs);
  // With a log (a transaction is open), the change is logged, not journaled.
  void set(Database& db, const std::string& global, const Subscripts& subs, std::string value,
           TransactionLog* log = nullptr);
  void kill(Database& db, const std::string& global, const Subscripts& subs,
            TransactionLog* log = nullptr);
  // Adds by to the node's numeric value in one step; returns the new value.
  std::string increment(Database& db, const std::string& global, const Subscripts& subs,
                        Number by, TransactionLog* log);
  // Journals the changes after mark and drops them from the log.
  void commit(TransactionLog& log, size_t mark);
  // Undoes the changes after mark, newest first, and drops them.
  void rollback(TransactionLog& log, size_t mark);
  // Copies every value below source into target (M's MERGE), journaled.
  void merge(Database& db, const std::string& target, const Subscripts& targetSubs,
             const std::string& source, const Subscripts& sourceSubs);
  // A copy of a global's subtree, or an empty node.
  Node snapshot(Database& db, const std::string& global, const Subscripts& subs);

  // Last, so that it is destroyed first: the jobs it waits for still use
  // everything above.
  BackgroundJobs background;
};

}  // namespace mengine
