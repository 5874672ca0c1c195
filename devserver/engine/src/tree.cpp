#include "tree.h"

#include <cstdint>

#include "number.h"

namespace mengine {

namespace {

// How a subscript collates, told cheaply for the common cases: a canonical
// integer of up to 18 digits (with its value), a string that cannot be a
// canonical number because of its first character, or neither of these.
enum class Form { Integer, Text, Unknown };

Form formOf(std::string_view s, std::int64_t& value) {
  if (s.empty()) return Form::Text;
  char c = s[0];
  if (c != '-' && c != '.' && (c < '0' || c > '9')) return Form::Text;
  size_t start = c == '-' ? 1 : 0;
  size_t digits = s.size() - start;
  if (digits == 0 || digits > 18) return Form::Unknown;
  // No leading zero (but "0" itself), and no "-0".
  if (s[start] == '0' && (digits > 1 || start == 1)) return Form::Unknown;
  std::int64_t v = 0;
  for (size_t i = start; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return Form::Unknown;
    v = v * 10 + (s[i] - '0');
  }
  value = start ? -v : v;
  return Form::Integer;
}

}  // namespace

bool Collate::operator()(std::string_view a, std::string_view b) const {
  std::int64_t intA = 0, intB = 0;
  Form formA = formOf(a, intA);
  Form formB = formOf(b, intB);
  if (formA == Form::Integer && formB == Form::Integer) return intA < intB;
  bool numA = formA == Form::Integer || (formA == Form::Unknown && isCanonicalNumber(a));
  bool numB = formB == Form::Integer || (formB == Form::Unknown && isCanonicalNumber(b));
  if (numA && numB) return compareCanonical(a, b) < 0;
  if (numA != numB) return numA;
  return a < b;
}

const Node* findNode(const Node& root, const Subscripts& subs) {
  const Node* node = &root;
  for (const auto& sub : subs) {
    auto it = node->children.find(sub);
    if (it == node->children.end()) return nullptr;
    node = &it->second;
  }
  return node;
}

const std::string* getValue(const Node& root, const Subscripts& subs) {
  const Node* node = findNode(root, subs);
  return node && node->value ? &*node->value : nullptr;
}

void setValue(Node& root, const Subscripts& subs, std::string value) {
  Node* node = &root;
  for (const auto& sub : subs) node = &node->children[sub];
  node->value = std::move(value);
}

namespace {

// Returns true when the node at depth became empty and may be pruned.
bool killAt(Node& node, const Subscripts& subs, size_t depth) {
  if (depth == subs.size()) {
    node.value.reset();
    node.children.clear();
    return true;
  }
  auto it = node.children.find(subs[depth]);
  if (it == node.children.end()) return node.empty();
  if (killAt(it->second, subs, depth + 1)) node.children.erase(it);
  return node.empty();
}

}  // namespace

void killNode(Node& root, const Subscripts& subs) { killAt(root, subs, 0); }

int dataOf(const Node& root, const Subscripts& subs) {
  const Node* node = findNode(root, subs);
  if (!node) return 0;
  return (node->value ? 1 : 0) + (node->children.empty() ? 0 : 10);
}

namespace {

// The first node holding a value below node, in collation order. Empty nodes
// are pruned, so the first leaf on the way down holds one.
bool firstValueBelow(const Node& node, Subscripts& path) {
  for (const auto& [sub, child] : node.children) {
    path.push_back(sub);
    if (child.value || firstValueBelow(child, path)) return true;
    path.pop_back();
  }
  return false;
}

}  // namespace

std::optional<Subscripts> queryAfter(const Node& root, const Subscripts& subs) {
  Subscripts path = subs;
  if (const Node* node = findNode(root, subs)) {
    if (firstValueBelow(*node, path)) return path;
  }
  for (size_t depth = subs.size(); depth > 0; --depth) {
    Subscripts prefix(subs.begin(), subs.begin() + static_cast<long>(depth - 1));
    const Node* parent = findNode(root, prefix);
    if (!parent) continue;
    for (auto it = parent->children.upper_bound(subs[depth - 1]); it != parent->children.end();
         ++it) {
      path = prefix;
      path.push_back(it->first);
      if (it->second.value || firstValueBelow(it->second, path)) return path;
    }
  }
  return std::nullopt;
}

std::string orderOf(const Node& root, const Subscripts& subs, bool forward) {
  if (subs.empty()) return "";
  Subscripts parentPath(subs.begin(), subs.end() - 1);
  const Node* parent = findNode(root, parentPath);
  if (!parent || parent->children.empty()) return "";
  const auto& kids = parent->children;
  const std::string& last = subs.back();
  if (forward) {
    auto it = last.empty() ? kids.begin() : kids.upper_bound(last);
    return it == kids.end() ? "" : it->first;
  }
  auto it = last.empty() ? kids.end() : kids.lower_bound(last);
  if (it == kids.begin()) return "";
  return std::prev(it)->first;
}

}  // namespace mengine
