// A cache of parsed texts for one job. It is emptied when it holds too many
// texts or too much text in all, since the tree of a text may be many times
// the size of the text and a request field may be a megabyte long.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>

namespace mengine {

template <typename T>
class ParseCache {
 public:
  static constexpr std::size_t kEntryLimit = 4096;
  static constexpr std::size_t kTextLimit = std::size_t{1} << 18;

  // The parsed form of key, made by make() when it is not cached. A failing
  // make() caches nothing. The result is a copy, so any later call may empty
  // the cache without touching it: T is meant to be a cheap handle such as a
  // shared_ptr to the tree.
  template <typename Make>
  T get(const std::string& key, Make make) {
    auto it = entries_.find(key);
    if (it != entries_.end()) return it->second;
    T value = make();
    if (entries_.size() >= kEntryLimit || textBytes_ + key.size() > kTextLimit) {
      entries_.clear();
      textBytes_ = 0;
    }
    textBytes_ += key.size();
    return entries_.emplace(key, std::move(value)).first->second;
  }

  std::size_t size() const { return entries_.size(); }
  std::size_t textBytes() const { return textBytes_; }

 private:
  std::map<std::string, T> entries_;
  std::size_t textBytes_ = 0;
};

}  // namespace mengine
