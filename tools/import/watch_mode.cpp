#include "watch_mode.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "binding.h"
#include "call_failure.h"
#include "exit_status.h"
#include "file_list.h"
#include "folder_watch.h"
#include "local_files.h"
#include "message_text.h"
#include "routine_name.h"
#include "routine_types.h"
#include "settings.h"
#include "stop_signals.h"
#include "watched_files.h"

namespace kvrimport {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A file is imported once no event has come for it for this long: an editor
// that writes, renames and touches a file in one save, or a burst of saves,
// costs one import.
constexpr Clock::duration kSettle = 100ms;
// After a lost connection, the waits between attempts: doubled after every
// failed one, up to the longest; and how often the waiting is reported.
constexpr Clock::duration kFirstRetry = 500ms;
constexpr Clock::duration kLongestRetry = 10s;
constexpr Clock::duration kRetryReportGap = 60s;

// A line of the watch's own on standard error, after the progress lines
// before it.
void say(const std::string& text) {
  const std::string line = text + "\n";
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// The folder a prefix names, as the user would write it.
std::string shownFolder(const std::string& prefix) {
  if (prefix.empty()) return ".";
  return prefix.size() > 1 && prefix.ends_with('/') ? prefix.substr(0, prefix.size() - 1) : prefix;
}

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

class Watch {
 public:
  Watch(const std::string& fileList, const ChangedPass& pass)
      : fileList_(fileList), pass_(pass), patterns_(splitFileList(fileList)) {}

  int run();

 private:
  bool startWatching();
  void wait();
  void takeEvents();
  void doWhatIsDue();
  void importSettled(Clock::time_point now);
  void reportRemoved(const std::string& path);
  void passOver(const kvrtools::StringSet& paths);
  void passOverAll();
  void lost(const kvrtools::ConnectionLost& loss);
  void connectAgain();
  int waitMilliseconds() const;
  void record(int status) {
    if (status != kvrtools::kStatusOk) failed_ = true;
  }

  const std::string fileList_;
  const ChangedPass& pass_;
  const std::vector<std::string> patterns_;
  FolderWatch folders_;
  StopSignals signals_;
  // Files with events not yet settled: the moment they settle.
  std::map<std::string, Clock::time_point> pending_;
  // When the whole list is to be passed over again.
  std::optional<Clock::time_point> fullPassAt_;
  bool connected_ = true;
  Clock::duration retryGap_ = kFirstRetry;
  Clock::time_point nextAttempt_{};
  Clock::time_point lastReport_{};
  bool failed_ = false;
  bool stopping_ = false;
};

bool Watch::startWatching() {
  if (signals_.descriptor() < 0) {
    say(std::string("Cannot watch for signals: ") + std::strerror(errno) + ".");
    return false;
  }
  bool all = true;
  for (const std::string& pattern : patterns_) {
    const std::vector<std::string> folders = foldersOf({pattern});
    if (folders.empty()) {
      say(messageText("No folder matches %s.", shownFolder(folderPart(pattern))));
      all = false;
    }
    for (const std::string& prefix : folders) {
      if (std::optional<std::string> why = folders_.add(prefix)) {
        say(messageText("Cannot watch folder %s: %s.", shownFolder(prefix), *why));
        all = false;
      }
    }
  }
  return all;
}

int Watch::waitMilliseconds() const {
  std::optional<Clock::time_point> next;
  auto consider = [&next](Clock::time_point at) {
    if (!next || at < *next) next = at;
  };
  for (const auto& entry : pending_) consider(entry.second);
  if (connected_ && fullPassAt_) consider(*fullPassAt_);
  if (!connected_) consider(nextAttempt_);
  if (!next) return -1;  // nothing to do until the kernel says so
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

void Watch::wait() {
  pollfd fds[2] = {{signals_.descriptor(), POLLIN, 0}, {folders_.descriptor(), POLLIN, 0}};
  if (poll(fds, 2, waitMilliseconds()) <= 0) return;
  if (fds[0].revents & POLLIN) {
    signals_.take();
    stopping_ = true;
  }
  if (fds[1].revents & POLLIN) takeEvents();
}

void Watch::takeEvents() {
  const Clock::time_point settled = Clock::now() + kSettle;
  for (const FolderEvent& event : folders_.take()) {
    switch (event.kind) {
      case FolderEvent::Kind::kFileTouched:
        if (isSourceFilePath(event.path) && matchesAnyPattern(patterns_, event.path)) pending_[event.path] = settled;
        break;
      case FolderEvent::Kind::kOverflow:
        // Saves were lost: the whole list again, once the storm has settled
        // (events queued meanwhile are taken as they come after it).
        if (!fullPassAt_) fullPassAt_ = settled;
        break;
      case FolderEvent::Kind::kFolderGone:
        say(messageText("Folder %s was removed; its files are no longer watched.", shownFolder(event.path)));
        break;
    }
  }
}

void Watch::reportRemoved(const std::string& path) {
  const kvrtools::FileNameParts parts = kvrtools::splitFileName(path);
  const kvrtools::RoutineType* type = kvrtools::routineTypeOfExtension(parts.extension);
  const std::string name = kvrtools::fileToRoutineName(parts.name);
  // A file whose name could not be imported has no routine to speak of.
  if (!type || !kvrtools::isTransferableRoutineName(name)) return;
  say(messageText("File %s was removed; routine %s.%s stays on the server.", path, name,
                  std::string(type->extension)));
}

void Watch::importSettled(Clock::time_point now) {
  kvrtools::StringSet saved;
  for (auto entry = pending_.begin(); entry != pending_.end();) {
    if (entry->second > now) {
      ++entry;
      continue;
    }
    // An editor may move the old file away before it writes the new one:
    // what the file is once its events have settled tells a save from a
    // removal.
    if (!exists(entry->first)) {
      reportRemoved(entry->first);
    } else if (connected_ && !fullPassAt_) {
      saved.insert(entry->first);
    }  // else a pass over the whole list is to come and takes it along
    entry = pending_.erase(entry);
  }
  if (!saved.empty()) passOver(saved);
}

void Watch::passOver(const kvrtools::StringSet& paths) {
  try {
    record(pass_(paths, [this] { return signals_.pending(); }));
  } catch (const kvrtools::ConnectionLost& loss) {
    lost(loss);
  }
}

void Watch::passOverAll() {
  fullPassAt_.reset();
  try {
    const kvrtools::StringSet paths = kvrtools::expandFileList(fileList_);
    if (!paths.empty()) record(pass_(paths, [this] { return signals_.pending(); }));
  } catch (const kvrtools::ConnectionLost& loss) {
    lost(loss);
    return;
  }
  // The pass took every file as it is now; only removals are left to tell.
  std::erase_if(pending_, [](const auto& entry) { return exists(entry.first); });
}

void Watch::lost(const kvrtools::ConnectionLost& loss) {
  // The code the loss left may have borrowed a handler: put the watch's own
  // back.
  kvrtools::setGroupReadHandler(nullptr);
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  say(messageText("Connection to Kovra Server lost: %s", std::string(loss.what())));
  connected_ = false;
  fullPassAt_.reset();
  retryGap_ = kFirstRetry;
  lastReport_ = Clock::now();
  nextAttempt_ = lastReport_ + retryGap_;
}

void Watch::connectAgain() {
  bool connected = false;
  try {
    connected = kvrtools::reconnectServer();
  } catch (const kvrtools::ConnectionLost&) {
  }
  const Clock::time_point now = Clock::now();
  if (connected) {
    say("Connected to Kovra Server again.");
    connected_ = true;
    // Saves made meanwhile arrive now.
    fullPassAt_ = now;
    return;
  }
  retryGap_ = std::min(retryGap_ * 2, kLongestRetry);
  nextAttempt_ = now + retryGap_;
  if (now - lastReport_ >= kRetryReportGap) {
    const kvrtools::Settings& settings = kvrtools::connectionSettings();
    say(messageText("Still no connection to Kovra Server at %s:%s, database %s; trying again.",
                    settings.server, settings.port, settings.database));
    lastReport_ = now;
  }
}

void Watch::doWhatIsDue() {
  Clock::time_point now = Clock::now();
  if (!connected_ && now >= nextAttempt_) connectAgain();
  if (connected_ && fullPassAt_ && now >= *fullPassAt_) {
    passOverAll();
    now = Clock::now();
  }
  importSettled(now);
}

int Watch::run() {
  if (patterns_.empty()) {
    say("No file matches " + fileList_ + ".");
    return kvrtools::kStatusFailed;
  }
  if (!startWatching()) return kvrtools::kStatusStartupFailed;
  // From here a lost connection is waited out, not the end of the run.
  const kvrtools::LossRaised lossRaised;
  kvrtools::setOutputHandler(kvrtools::writeToStandardOutput());
  fullPassAt_ = Clock::now();  // the first pass, at once
  while (!stopping_) {
    doWhatIsDue();
    if (signals_.pending()) break;
    wait();
  }
  // Saves made while the server could not be reached have not arrived.
  return kvrtools::statusOf(!failed_ && connected_);
}

}  // namespace

int watchFiles(const std::string& fileList, const ChangedPass& pass) {
  Watch watch(fileList, pass);
  return watch.run();
}

}  // namespace kvrimport
