// Values by name, bounded by a byte total that the caller states for each
// value and by a count; when a new value would pass either bound, the values
// used least recently go first. Not locked: its owner locks when jobs share
// it.
#pragma once

#include <cstddef>
#include <limits>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

namespace mengine {

template <typename V>
class LruMap {
 public:
  explicit LruMap(std::size_t byteBudget,
                  std::size_t countLimit = std::numeric_limits<std::size_t>::max())
      : byteBudget_(byteBudget), countLimit_(countLimit) {}

  // The value of key, now the most recently used; null when there is none.
  V* find(const std::string& key) {
    auto it = slots_.find(key);
    if (it == slots_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second.used);
    return &it->second.value;
  }

  // The value of key without counting as a use.
  const V* peek(const std::string& key) const {
    auto it = slots_.find(key);
    return it == slots_.end() ? nullptr : &it->second.value;
  }

  // Keeps value as key's (replacing any), counted as bytes; a value larger
  // than the whole budget is not kept, and null is returned for it.
  V* insert(const std::string& key, V value, std::size_t bytes) {
    erase(key);
    if (bytes > byteBudget_) return nullptr;
    while (!order_.empty() && (slots_.size() >= countLimit_ || bytes_ + bytes > byteBudget_)) {
      erase(order_.back());
    }
    order_.push_front(key);
    bytes_ += bytes;
    return &slots_.emplace(key, Slot{std::move(value), bytes, order_.begin()}).first->second.value;
  }

  void erase(const std::string& key) {
    auto it = slots_.find(key);
    if (it == slots_.end()) return;
    bytes_ -= it->second.bytes;
    order_.erase(it->second.used);
    slots_.erase(it);
  }

  std::size_t size() const { return slots_.size(); }
  std::size_t bytes() const { return bytes_; }

 private:
  struct Slot {
    V value;
    std::size_t bytes;
    std::list<std::string>::iterator used;
  };
  std::size_t byteBudget_;
  std::size_t countLimit_;
  std::size_t bytes_ = 0;
  std::list<std::string> order_;  // most recently used first
  std::unordered_map<std::string, Slot> slots_;
};

}  // namespace mengine
