#include "staged_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "local_files.h"

namespace kvrexport {
namespace {

// The temporary file that must not survive the process. Kept in static
// storage so the exit hook and the signal handler can reach it; the flag is
// cleared before the path changes.
char pendingPath[PATH_MAX];
volatile sig_atomic_t pendingSet = 0;

void removePending() {
  if (pendingSet) unlink(pendingPath);
}

void onSignal(int signal) {
  removePending();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void installCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(removePending);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // e.g. started with nohup
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

bool setPending(const std::string& path) {
  pendingSet = 0;
  if (path.size() >= sizeof pendingPath) return false;
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  pendingSet = 1;
  return true;
}

mode_t defaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The directory part of path, with its final "/", or "" for the current one.
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Gives the staged file the owner and group of the file it replaces, as far
// as the user may: root may set both, others only a group they belong to.
// A failure leaves the user's own, as a newly created file would have.
void keepOwner(int fd, const struct stat& replaced) {
  if (fchown(fd, replaced.st_uid, replaced.st_gid) != 0) (void)fchown(fd, static_cast<uid_t>(-1), replaced.st_gid);
}

}  // namespace

std::unique_ptr<StagedFile> StagedFile::create(const std::string& target) {
  mode_t mode = defaultMode();
  struct stat info {};
  const bool replacing = lstat(target.c_str(), &info) == 0;
  if (replacing) {
    if (S_ISLNK(info.st_mode)) {
      errno = ELOOP;
      return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
      errno = EISDIR;
      return nullptr;
    }
    const int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (probe < 0) return nullptr;
    close(probe);
    if (!S_ISREG(info.st_mode)) {
      const int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_NOFOLLOW);
      std::FILE* stream = fd < 0 ? nullptr : fdopen(fd, "w");
      if (!stream) {
        if (fd >= 0) close(fd);
        return nullptr;
      }
      return std::unique_ptr<StagedFile>(new StagedFile(target, "", stream));
    }
    mode = info.st_mode & 07777;
  }
  installCleanup();
  std::string pattern = directoryOf(target) + ".kvrtmp.XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return nullptr;
  if (!setPending(pattern)) {
    close(fd);
    unlink(pattern.c_str());
    errno = ENAMETOOLONG;
    return nullptr;
  }
  // Owner first: changing it clears set-user-ID bits the mode may restore.
  if (replacing) keepOwner(fd, info);
  fchmod(fd, mode);
  std::FILE* stream = fdopen(fd, "w");
  if (!stream) {
    const int error = errno;
    close(fd);
    unlink(pattern.c_str());
    pendingSet = 0;
    errno = error;
    return nullptr;
  }
  return std::unique_ptr<StagedFile>(new StagedFile(target, pattern, stream));
}

StagedFile::StagedFile(std::string target, std::string staging, std::FILE* stream)
    : target_(std::move(target)), staging_(std::move(staging)), stream_(stream) {}

StagedFile::~StagedFile() { discard(); }

void StagedFile::setTimestamp(std::string_view timestamp) {
  stream_.flush();
  kvrtools::setFileTimestamp(writtenPath(), timestamp);
}

void StagedFile::discard() {
  if (open_) std::fclose(stream_.file());
  open_ = false;
  if (!staging_.empty()) {
    unlink(staging_.c_str());
    pendingSet = 0;
    staging_.clear();
  }
}

bool StagedFile::commit() {
  if (!open_) return false;
  stream_.flush();
  int error = stream_.error();
  errno = 0;
  if (std::fclose(stream_.file()) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  open_ = false;
  if (error == 0 && !staging_.empty() && std::rename(staging_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    discard();
    errno = error;
    return false;
  }
  pendingSet = 0;
  staging_.clear();
  return true;
}

}  // namespace kvrexport
