// A small file system that is nearly full, for the tests of what a utility
// does when a write fails: a tmpfs mounted on a folder of the test, set up
// like the test folder for running utilities, then filled up to a few pages.
// Mounting needs the right to (root here); without it the test is skipped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "process.h"

namespace kvrtest {

class FullDisk {
 public:
  // Mounts at path (created) and copies the library and the settings of
  // dir in; leaves about freeBytes free. Check mounted() before use.
  FullDisk(const TempDir& dir, const std::string& path, std::size_t freeBytes);
  // Unmounts, lazily when the mount is still busy, so it never blocks.
  ~FullDisk();
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  // Nothing when mounted; otherwise why not, for the skip message.
  const std::optional<std::string>& failure() const { return failure_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::optional<std::string> failure_;
};

}  // namespace kvrtest
