// The kernel's notice of what happens in a set of folders (Linux inotify):
// one descriptor that becomes readable when something happened, so a
// watcher sleeps in poll and takes no time while nothing happens.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvrimport {

struct FolderEvent {
  enum class Kind {
    // A file was written and closed, made (a link; a file created by
    // opening it counts once it is closed), moved or renamed into place,
    // removed or moved away: path says which; what it is now is for the
    // caller to look at.
    kFileTouched,
    // The kernel's queue ran over: events were lost, any file may have
    // changed.
    kOverflow,
    // A watched folder was removed (or its file system unmounted); path is
    // its prefix. Nothing more comes from it.
    kFolderGone,
  };
  Kind kind;
  std::string path;
};

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts watching the folder a prefix names ("" the current folder, else
  // a folder ending in "/"); the paths of its events are the prefix and the
  // file's name. Nothing on success, else the reason.
  std::optional<std::string> add(const std::string& prefix);

  // For poll: readable when events are waiting. -1 when the kernel gave no
  // descriptor (add then says why).
  int descriptor() const { return fd_; }

  // Every event waiting now, in order, without waiting for more.
  std::vector<FolderEvent> take();

 private:
  int fd_ = -1;
  int initError_ = 0;
  // Two spellings of one folder ("src/", "./src/") share a watch.
  std::map<int, std::vector<std::string>> prefixes_;
};

}  // namespace kvrimport
