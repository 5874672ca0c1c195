// The local variables of a job by name, and a cache of the names looked up
// last. The table counts its changes of shape (a name added, removed, or
// bound to another node; the whole table replaced), so that a cached entry
// is used only while the table has kept the shape it was found in.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tree.h"

namespace mengine {

// The order of local names: bytes, as std::string compares them, without a
// call to memcmp for the short names locals have.
struct NameOrder {
  static bool same(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
  bool operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    return a.size() < b.size();
  }
};

class Locals {
  using Map = std::map<std::string, std::shared_ptr<Node>, NameOrder>;

 public:
  using const_iterator = Map::const_iterator;
  using value_type = Map::value_type;

  Locals() = default;
  Locals(const Locals& other) : map_(other.map_) {}
  Locals(Locals&& other) noexcept : map_(std::move(other.map_)), shape_(other.shape_ + 1) {
    ++other.shape_;
  }
  Locals& operator=(const Locals& other) {
    map_ = other.map_;
    replaced(other);
    return *this;
  }
  Locals& operator=(Locals&& other) noexcept {
    map_ = std::move(other.map_);
    replaced(other);
    ++other.shape_;
    return *this;
  }

  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }
  const_iterator find(const std::string& name) const { return map_.find(name); }
  const_iterator lower_bound(const std::string& name) const { return map_.lower_bound(name); }
  const_iterator upper_bound(const std::string& name) const { return map_.upper_bound(name); }

  std::pair<const_iterator, bool> emplace(const std::string& name, std::shared_ptr<Node> node) {
    ++shape_;
    return map_.emplace(name, std::move(node));
  }
  std::pair<const_iterator, bool> insert(const value_type& entry) {
    ++shape_;
    return map_.insert(entry);
  }
  // The slot of name, made empty when there is none, to be bound now.
  std::shared_ptr<Node>& operator[](const std::string& name) {
    ++shape_;
    return map_[name];
  }
  const_iterator erase(const_iterator it) {
    ++shape_;
    return map_.erase(it);
  }
  void erase(const std::string& name) {
    ++shape_;
    map_.erase(name);
  }

  // The node of name, or null; found through the cache when the name was
  // looked up since the last change of shape. key is the name as a parsed
  // reference holds it: its address picks the cache slot.
  Node* lookup(const std::string& key) {
    // Fibonacci hashing of the address: names a few bytes apart spread out.
    auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&key));
    Slot& slot = slots_[(address * 0x9E3779B97F4A7C15ULL) >> (64 - kSlotBits)];
    if (slot.shape == shape_ && slot.entry && NameOrder::same(slot.entry->first, key))
      return slot.entry->second.get();
    auto it = map_.find(key);
    if (it == map_.end()) return nullptr;
    slot = {&*it, shape_};
    return it->second.get();
  }

 private:
  void replaced(const Locals& other) {
    // Past both tables' counts: no entry cached from either matches.
    shape_ = std::max(shape_, other.shape_) + 1;
  }

  struct Slot {
    const value_type* entry = nullptr;
    std::uint64_t shape = 0;
  };
  Map map_;
  std::uint64_t shape_ = 1;
  static constexpr int kSlotBits = 6;
  std::array<Slot, 1 << kSlotBits> slots_{};
};

}  // namespace mengine
