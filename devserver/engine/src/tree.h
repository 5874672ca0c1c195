// A tree of M nodes in collation order: the storage of one local variable or
// one global. Callers do the locking.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "mengine/engine.h"

namespace mengine {

// Collation: canonical numbers first in numeric order, then all other strings
// in byte order.
struct Collate {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// $DATA-style state: 0 nothing, 1 value, 10 descendants, 11 both.
struct Node {
  std::optional<std::string> value;
  std::map<std::string, Node, Collate> children;

  bool empty() const { return !value && children.empty(); }
};

const Node* findNode(const Node& root, const Subscripts& subs);
const std::string* getValue(const Node& root, const Subscripts& subs);
void setValue(Node& root, const Subscripts& subs, std::string value);
// Removes the node and its descendants, pruning ancestors left empty.
void killNode(Node& root, const Subscripts& subs);
int dataOf(const Node& root, const Subscripts& subs);
// The next (forward) or previous sibling subscript of the last subscript;
// "" when none. The last subscript "" means start from the edge.
std::string orderOf(const Node& root, const Subscripts& subs, bool forward);

// $QUERY: the subscripts of the next node holding a value after subs in
// depth-first collation order; nullopt when there is none.
std::optional<Subscripts> queryAfter(const Node& root, const Subscripts& subs);

// Visits every node holding a value, in collation order.
template <typename Visit>
void forEachValue(const Node& node, Subscripts& path, const Visit& visit) {
  if (node.value) visit(path, *node.value);
  for (const auto& [sub, child] : node.children) {
    path.push_back(sub);
    forEachValue(child, path, visit);
    path.pop_back();
  }
}

}  // namespace mengine
