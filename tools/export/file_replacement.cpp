#include "file_replacement.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <utility>

#include "local_files.h"

namespace kvrtools {
namespace {

// The temporary file in progress, where the exit and signal handlers can
// reach it without allocating.
char pendingTemporary[PATH_MAX];
volatile std::sig_atomic_t temporaryPending = 0;

void setPending(const std::string& path) {
  if (path.size() >= sizeof pendingTemporary) return;  // open() would have refused it
  path.copy(pendingTemporary, path.size());
  pendingTemporary[path.size()] = '\0';
  temporaryPending = 1;
}

void removePendingTemporary() {
  if (temporaryPending) unlink(pendingTemporary);
  temporaryPending = 0;
}

extern "C" void removeTemporaryAndResignal(int signo) {
  if (temporaryPending) unlink(pendingTemporary);
  signal(signo, SIG_DFL);
  raise(signo);
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void removeTemporaryFilesOnExit() {
  std::atexit(removePendingTemporary);
  struct sigaction action {};
  action.sa_handler = removeTemporaryAndResignal;
  sigemptyset(&action.sa_mask);
  for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction previous {};
    sigaction(signo, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signo, &action, nullptr);
  }
}

FileReplacement::FileReplacement(std::string target) : target_(std::move(target)) {
  static int counter = 0;
  const std::string prefix = folderOf(target_) + ".kvrtmp-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = prefix + std::to_string(counter++);
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return;
    }
    temporary_ = candidate;
    setPending(temporary_);
    // The new version keeps the permissions of the file it replaces, as a
    // file rewritten in place would.
    struct stat existing {};
    if (stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) fchmod(fd, existing.st_mode & 07777);
    file_ = fdopen(fd, "w");
    if (!file_) {
      close(fd);
      abandon();
    }
    return;
  }
}

FileReplacement::~FileReplacement() { abandon(); }

void FileReplacement::write(std::string_view piece) {
  if (file_ && std::fwrite(piece.data(), 1, piece.size(), file_) != piece.size()) failed_ = true;
}

bool FileReplacement::commit(std::string_view date) {
  if (!file_) return false;
  std::FILE* file = std::exchange(file_, nullptr);
  const bool written = std::fflush(file) == 0 && !std::ferror(file) && !failed_;
  if (std::fclose(file) != 0 || !written) {
    abandon();
    return false;
  }
  setFileTimestamp(temporary_, date);
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    abandon();
    return false;
  }
  temporaryPending = 0;
  temporary_.clear();
  return true;
}

void FileReplacement::abandon() {
  if (file_) std::fclose(std::exchange(file_, nullptr));
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  temporaryPending = 0;
}

}  // namespace kvrtools
