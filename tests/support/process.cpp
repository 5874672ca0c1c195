#include "process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kvrtest {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

int decodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return -WTERMSIG(raw);
  return -1000;
}

// Waits for the child to end, at most until deadline; its status, or nothing.
std::optional<int> waitForExit(pid_t pid, Clock::time_point deadline) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int ready;
    do {
      ready = poll(&p, 1, remainingMs(deadline));
    } while (ready < 0 && errno == EINTR);
    close(pidfd);
    if (ready == 0) return std::nullopt;
  }
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  return decodeStatus(raw);
}

// Stops a child by its pid: the signal, then SIGKILL if it lingers.
void stopChild(pid_t pid, int signo) {
  if (pid <= 0) return;
  ::kill(pid, signo);
  if (!waitForExit(pid, Clock::now() + std::chrono::seconds(10))) {
    ::kill(pid, SIGKILL);
    waitForExit(pid, Clock::now() + std::chrono::seconds(10));
  }
}

std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

[[noreturn]] void execOrDie(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv = argvOf(program, args);
  execv(program.c_str(), argv.data());
  _exit(127);
}

void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

// KVR_TEST_BIN_DIR runs the same tests against the programs of another build
// (test.sh runs them against the sanitized programs this way).
std::string binDir() {
  const char* other = std::getenv("KVR_TEST_BIN_DIR");
  return other != nullptr && *other != '\0' ? other : KVR_BIN_DIR;
}
std::string toolPath(const std::string& name) { return binDir() + "/" + name; }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvrtest-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

void TempDir::addLibrary() const {
  std::filesystem::copy_file(toolPath("libkovrasc.so"), file("libkovrasc.so"),
                             std::filesystem::copy_options::overwrite_existing);
}

DevServer::DevServer(const ServerOptions& options) : DevServer(options, toolPath("kvrdevserver")) {}

DevServer::DevServer(const ServerOptions& options, const std::string& program,
                     const std::vector<std::string>& arguments) {
  std::vector<std::string> args = {"--port", std::to_string(options.port)};
  if (options.dir) {
    args.push_back("--dir");
    args.push_back(*options.dir);
  }
  if (options.connectGreeting) {
    args.push_back("--greeting");
    args.push_back("connect");
  }
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  args.insert(args.end(), arguments.begin(), arguments.end());
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const auto started = Clock::now();
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // A test that dies (a failed sanitizer check aborts it) must not leave
    // its server behind, holding the test's output open for ctest to wait on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(out[1], STDOUT_FILENO);
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, STDIN_FILENO);
    execOrDie(program, args);
  }
  close(out[1]);
  // Only the first line matters, read byte by byte so nothing behind it is
  // taken.
  const auto deadline = started + std::chrono::seconds(20);
  char c;
  while (firstLine_.size() < 200) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, remainingMs(deadline)) <= 0) break;
    if (::read(out[0], &c, 1) != 1 || c == '\n') break;
    firstLine_.push_back(c);
  }
  close(out[0]);
  startTime_ = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
  // "listening on ADDRESS:PORT", an IPv6 address in brackets.
  if (!firstLine_.starts_with("listening on ") || firstLine_.rfind(':') == std::string::npos) {
    stopChild(pid_, SIGKILL);
    pid_ = -1;
    throw std::runtime_error("kvrdevserver did not start: " + firstLine_);
  }
  port_ = std::atoi(firstLine_.c_str() + firstLine_.rfind(':') + 1);
}

DevServer::~DevServer() { stop(); }

void DevServer::kill() {
  stopChild(pid_, SIGKILL);
  pid_ = -1;
}

void DevServer::stop() {
  stopChild(pid_, SIGTERM);
  pid_ = -1;
}

void DevServer::signal(int number) {
  if (pid_ > 0) ::kill(pid_, number);
}

std::optional<int> DevServer::waitForExit(std::chrono::seconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const std::optional<int> status = kvrtest::waitForExit(pid_, Clock::now() + limit);
  if (!status) stopChild(pid_, SIGKILL);
  pid_ = -1;
  return status;
}

RunResult runTool(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    if (options.inputFile) {
      const int fd = open(options.inputFile->c_str(), O_RDONLY);
      dup2(fd, STDIN_FILENO);
    } else {
      dup2(in[0], STDIN_FILENO);
    }
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    setsid();  // no controlling terminal: the utilities see no terminal
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    execOrDie(program, args);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  writeAll(in[1], options.input);
  close(in[1]);

  RunResult result;
  const auto deadline = Clock::now() + options.timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    const int ready = poll(fds, 2, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      result.timedOut = true;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& p : fds)
    if (p.fd >= 0) close(p.fd);
  if (result.timedOut) {
    stopChild(pid, SIGKILL);
    return result;
  }
  const std::optional<int> status = waitForExit(pid, deadline);
  if (!status) {
    result.timedOut = true;
    stopChild(pid, SIGKILL);
  } else {
    result.status = *status;
  }
  return result;
}

PtySession::PtySession(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ < 0) throw std::runtime_error("forkpty failed");
  if (pid_ == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execOrDie(program, args);
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
}

PtySession::~PtySession() {
  if (pid_ > 0) stopChild(pid_, SIGKILL);
  if (master_ >= 0) close(master_);
}

bool PtySession::readSome(std::chrono::milliseconds timeout) {
  pollfd p{master_, POLLIN, 0};
  const int ready = poll(&p, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) return false;
  char buffer[4096];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return false;  // EIO once the program has gone
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool PtySession::waitFor(const std::string& text, std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (output_.find(text) == std::string::npos) {
    if (!readSome(std::chrono::milliseconds(remainingMs(deadline)))) return false;
  }
  return true;
}

void PtySession::send(const std::string& text) { writeAll(master_, text); }

void PtySession::sendEndOfFile() {
  termios t{};
  tcgetattr(master_, &t);
  send(std::string(1, static_cast<char>(t.c_cc[VEOF])));
}

void PtySession::interrupt() {
  termios t{};
  tcgetattr(master_, &t);
  send(std::string(1, static_cast<char>(t.c_cc[VINTR])));
}

bool PtySession::echoOn() const {
  termios t{};
  tcgetattr(master_, &t);
  return (t.c_lflag & ECHO) != 0;
}

std::optional<int> PtySession::finish(std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (readSome(std::chrono::milliseconds(remainingMs(deadline)))) {
  }
  const std::optional<int> status = waitForExit(pid_, deadline);
  if (!status) stopChild(pid_, SIGKILL);
  pid_ = -1;
  return status;
}

void writeSettings(const TempDir& dir, int port, const std::string& database) {
  dir.write("kvrct.ini", "[connection]\nserver=127.0.0.1\nport=" + std::to_string(port) +
                             "\ndatabase=" + database + "\n");
}

}  // namespace kvrtest
