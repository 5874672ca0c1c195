// A cache of parsed texts for one job, bounded by a count of texts and by the
// text it holds in all, since the tree of a text may be many times the size
// of the text and a request field may be a megabyte long. When either bound
// is reached the texts used least recently go first, so that the texts a
// loop keeps using stay parsed however many others pass through.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

namespace mengine {

template <typename T>
class ParseCache {
 public:
  static constexpr std::size_t kEntryLimit = 4096;
  static constexpr std::size_t kTextLimit = std::size_t{1} << 18;

  // The parsed form of key, made by make() when it is not cached. A failing
  // make() caches nothing. The result is a copy, so any later call may drop
  // it from the cache without touching it: T is meant to be a cheap handle
  // such as a shared_ptr to the tree.
  template <typename Make>
  T get(const std::string& key, Make make) {
    auto it = entries_.find(key);
    if (it != entries_.end()) {
      order_.splice(order_.begin(), order_, it->second.used);
      return it->second.value;
    }
    T value = make();
    // A text larger than the whole budget is parsed but not kept.
    if (key.size() > kTextLimit) return value;
    while (!order_.empty() &&
           (entries_.size() >= kEntryLimit || textBytes_ + key.size() > kTextLimit)) {
      textBytes_ -= order_.back().size();
      entries_.erase(order_.back());
      order_.pop_back();
    }
    order_.push_front(key);
    textBytes_ += key.size();
    return entries_.emplace(key, Entry{std::move(value), order_.begin()}).first->second.value;
  }

  std::size_t size() const { return entries_.size(); }
  std::size_t textBytes() const { return textBytes_; }

 private:
  struct Entry {
    T value;
    std::list<std::string>::iterator used;
  };
  std::list<std::string> order_;  // most recently used first
  std::unordered_map<std::string, Entry> entries_;
  std::size_t textBytes_ = 0;
};

}  // namespace mengine
