// A cache of parsed texts for one job, bounded by a count of texts and by the
// text it holds in all, since the tree of a text may be many times the size
// of the text and a request field may be a megabyte long. When either bound
// is reached the texts used least recently go first, so that the texts a
// loop keeps using stay parsed however many others pass through.
#pragma once

#include <cstddef>
#include <string>

#include "lru_map.h"

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
    if (T* cached = texts_.find(key)) return *cached;
    T value = make();
    // A text larger than the whole budget is parsed but not kept.
    texts_.insert(key, value, key.size());
    return value;
  }

  std::size_t size() const { return texts_.size(); }
  std::size_t textBytes() const { return texts_.bytes(); }

 private:
  LruMap<T> texts_{kTextLimit, kEntryLimit};
};

}  // namespace mengine
