#include "folder_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kvrimport {
namespace {

// What a save looks like, whatever way the editor saves: written in place
// and closed, created, renamed into place; and what a removal looks like.
constexpr std::uint32_t kFileEvents = IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;

// A file just created by opening it is being written: its close says when
// it is saved (IN_CLOSE_WRITE), and taken now it would be taken half
// written. Other new entries (a link, a symbolic link) have no close.
bool waitsForItsClose(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

}  // namespace

FolderWatch::FolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (fd_ < 0) initError_ = errno;
}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) close(fd_);
}

std::optional<std::string> FolderWatch::add(const std::string& prefix) {
  if (fd_ < 0) return std::strerror(initError_);
  const std::string folder = prefix.empty() ? "." : prefix;
  const int wd = inotify_add_watch(fd_, folder.c_str(), kFileEvents | IN_DELETE_SELF | IN_ONLYDIR);
  if (wd < 0) return std::strerror(errno);
  std::vector<std::string>& spellings = prefixes_[wd];
  if (std::find(spellings.begin(), spellings.end(), prefix) == spellings.end()) spellings.push_back(prefix);
  return std::nullopt;
}

std::vector<FolderEvent> FolderWatch::take() {
  std::vector<FolderEvent> events;
  // Aligned for the event records the kernel writes into it.
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EAGAIN: nothing more waiting
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        events.push_back({FolderEvent::Kind::kOverflow, {}});
        continue;
      }
      const auto found = prefixes_.find(event->wd);
      if (found == prefixes_.end()) continue;
      if (event->mask & IN_IGNORED) {
        // The watch is gone with its folder.
        for (const std::string& prefix : found->second) events.push_back({FolderEvent::Kind::kFolderGone, prefix});
        prefixes_.erase(found);
        continue;
      }
      if ((event->mask & IN_ISDIR) || !(event->mask & kFileEvents) || event->len == 0) continue;
      const std::string name(event->name, strnlen(event->name, event->len));
      if ((event->mask & IN_CREATE) && waitsForItsClose(found->second.front() + name)) continue;
      for (const std::string& prefix : found->second)
        events.push_back({FolderEvent::Kind::kFileTouched, prefix + name});
    }
  }
  return events;
}

}  // namespace kvrimport
