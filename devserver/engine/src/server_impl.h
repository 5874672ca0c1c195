// The databases behind a Server. Each database's globals live in one tree
// whose first level is the global name; one mutex per database guards it and
// the journal records of its changes.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "mengine/engine.h"
#include "tree.h"

namespace mengine {

struct Database {
  std::string name;
  mutable std::mutex mutex;
  Node globals;
};

struct Server::Impl {
  explicit Impl(ServerOptions opts);

  ServerOptions options;
  std::map<std::string, std::unique_ptr<Database>> databases;

  // The database of that name (case-insensitive), or null.
  Database* find(std::string_view name) const;

  std::optional<std::string> get(Database& db, const std::string& global, const Subscripts& subs);
  int data(Database& db, const std::string& global, const Subscripts& subs);
  // subs must not be empty; see orderOf.
  std::string order(Database& db, const std::string& global, const Subscripts& subs, bool forward);
  void set(Database& db, const std::string& global, const Subscripts& subs, std::string value);
  void kill(Database& db, const std::string& global, const Subscripts& subs);
  // Copies every value below source into target (M's MERGE), journaled.
  void merge(Database& db, const std::string& target, const Subscripts& targetSubs,
             const std::string& source, const Subscripts& sourceSubs);
  // A copy of a global's subtree, or an empty node.
  Node snapshot(Database& db, const std::string& global, const Subscripts& subs);
};

}  // namespace mengine
