#include "pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace kvrtest {
namespace {

constexpr int kWaitMs = 20000;

bool readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

}  // namespace

FifoFeeder::FifoFeeder(std::string path, std::string content, std::function<void()> whenOpened)
    : path_(std::move(path)) {
  signal(SIGPIPE, SIG_IGN);  // a reader that quits early must not end the test
  if (mkfifo(path_.c_str(), 0644) != 0) throw std::runtime_error("mkfifo " + path_);
  writer_ = std::thread([path = path_, content = std::move(content), whenOpened = std::move(whenOpened)] {
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) return;
    if (whenOpened) whenOpened();
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t n = write(fd, content.data() + done, content.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  });
}

FifoFeeder::~FifoFeeder() {
  // Releases a writer still waiting for a reader; harmless otherwise.
  const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
  writer_.join();
  if (fd >= 0) close(fd);
}

HeldRun::HeldRun(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& errorPath) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  fcntl(fds[1], F_SETPIPE_SZ, 4096);
  pid_ = fork();
  if (pid_ == 0) {
    const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(cwd.c_str()) != 0 || err < 0) _exit(127);
    dup2(fds[1], 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
}

HeldRun::~HeldRun() {
  if (out_ >= 0) close(out_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool HeldRun::waitForOutput() {
  if (!readable(out_, kWaitMs)) return false;
  char buffer[512];
  const ssize_t n = read(out_, buffer, sizeof buffer);
  if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
  return n > 0;
}

std::optional<int> HeldRun::finish() {
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline || !readable(out_, kWaitMs)) return std::nullopt;
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) break;
    output_.append(buffer, static_cast<std::size_t>(n));
  }
  // Standard output is closed: the program is ending. Wait for it, bounded.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd >= 0) {
    const bool ended = readable(pidfd, kWaitMs);
    close(pidfd);
    if (!ended) return std::nullopt;
  }
  int raw = 0;
  if (waitpid(pid_, &raw, 0) != pid_) return std::nullopt;
  pid_ = -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace kvrtest
