#include "test_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <span>
#include <stdexcept>

#include "requests.h"

namespace devserver::testing {

namespace {

constexpr int kWaitMillis = 10000;

bool waitReadable(int fd, int millis) {
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, millis);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(pipeFds[1]);

  std::vector<std::string> words = {KVRDEVSERVER_PATH, "--port", "0"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  auto started = std::chrono::steady_clock::now();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(writeEnd.get(), STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  writeEnd.reset();
  output_ = std::move(readEnd);

  // The first line, read byte by byte so nothing behind it is taken.
  for (int i = 0; i < 200; ++i) {
    if (!waitReadable(output_.get(), kWaitMillis)) break;
    char c;
    if (::read(output_.get(), &c, 1) != 1 || c == '\n') break;
    firstLine_.push_back(c);
  }
  startTime_ = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  std::size_t colon = firstLine_.rfind(':');
  if (colon != std::string::npos) port_ = static_cast<std::uint16_t>(std::atoi(firstLine_.c_str() + colon + 1));
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    signal(SIGTERM);
    waitForExit();
  }
}

void ServerProcess::signal(int number) {
  if (pid_ > 0) ::kill(pid_, number);
}

int ServerProcess::waitForExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
  bool timedOut = process && !waitReadable(process.get(), static_cast<int>(limit.count()));
  if (timedOut) ::kill(pid_, SIGKILL);
  int status = 0;
  pid_t ended;
  do {
    ended = ::waitpid(pid_, &status, 0);
  } while (ended < 0 && errno == EINTR);
  pid_ = -1;
  if (ended < 0 || timedOut) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

TestClient::TestClient(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("connect to kvrdevserver failed");
  }
}

void TestClient::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t count = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (count <= 0) throw std::runtime_error("send to kvrdevserver failed");
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

bool TestClient::fill() {
  if (!waitReadable(socket_.get(), kWaitMillis)) throw std::runtime_error("no reply in time");
  const std::span<char> space = reader_.FreeSpace();
  if (space.empty()) throw std::runtime_error("a reply filled the client's whole buffer");
  ssize_t count = ::recv(socket_.get(), space.data(), space.size(), 0);
  if (count <= 0) return false;
  reader_.Commit(static_cast<std::size_t>(count));
  return true;
}

std::string TestClient::readReply() {
  std::string reply;
  for (int reads = 0; reads < 100000; ++reads) {
    switch (reader_.ParseBuffer(reply)) {
      case kovra::TParseResult::prComplete:
        return reply;
      case kovra::TParseResult::prNeverFits:
        throw std::runtime_error("a reply the client library could never take");
      case kovra::TParseResult::prNeedMore:
        if (!fill()) throw std::runtime_error("server closed before a whole reply");
        break;
    }
  }
  throw std::runtime_error("no whole reply after many reads");
}

std::string TestClient::readRawUntilNul() {
  // Raw output is not framed and may be longer than the buffer: it is taken
  // out as it arrives.
  std::string raw;
  for (int reads = 0; reads < 100000; ++reads) {
    const std::string_view pending = reader_.Pending();
    const std::size_t nul = pending.find('\0');
    if (nul != std::string_view::npos) {
      raw.append(pending.substr(0, nul + 1));
      reader_.Consume(nul + 1);
      return raw;
    }
    raw.append(pending);
    reader_.Consume(pending.size());
    if (!fill()) throw std::runtime_error("server closed inside terminal output");
  }
  throw std::runtime_error("no end of terminal output after many reads");
}

bool TestClient::closedByServer(std::string* rest) {
  bool closed = false;
  std::string seen;
  for (int i = 0; i < 1000 && !closed; ++i) {
    closed = !fill();
    seen.append(reader_.Pending());
    reader_.Clear();
  }
  if (rest != nullptr) *rest = seen;
  return closed;
}

std::string request(char type, std::string_view text) {
  return kovra::BuildFieldRequest(std::string_view(&type, 1), text);
}

std::string writeRequest(std::string_view target, std::string_view value) {
  return kovra::BuildWriteRequest(target, value);
}

}  // namespace devserver::testing
