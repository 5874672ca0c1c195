#include "devices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "mengine/engine.h"

namespace mengine {
namespace {

// Files of the server itself, which M code must not reach.
bool isServerFile(const std::string& name) {
  return name == "kovra.ini" || name == "kvrdevserver.lock" ||
         name.find(".journal") != std::string::npos;
}

}  // namespace

Devices::Devices(std::string directory, int jobNumber)
    : directory_(std::move(directory)), principal_("|TCP|" + std::to_string(jobNumber)) {
  current_ = principal_;
}

Devices::~Devices() {
  for (auto& [name, file] : files_) ::close(file.fd);
}

void Devices::advance(std::string_view text) {
  Position& p = position();
  for (char ch : text) {
    if (ch == '\r') {
      p.x = 0;
    } else if (ch == '\n') {
      p.x = 0;
      ++p.y;
    } else if (ch == '\f') {
      p.x = 0;
      p.y = 0;
    } else {
      ++p.x;
    }
  }
}

std::string Devices::pathOf(const std::string& name) const {
  if (directory_.empty()) throw MError("<COMMAND>");
  bool plain = !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
               name.find('\0') == std::string::npos && !isServerFile(name);
  if (!plain) throw MError("<DEVICE> *" + name + " refused: only files of the server directory");
  return directory_ + name;
}

bool Devices::open(const std::string& name, const std::map<std::string, std::string>& params) {
  if (name == principal_) return true;
  std::string path = pathOf(name);
  if (files_.count(name)) return true;
  int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  if (params.count("READONLY") || params.count("READ")) flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC;
  if (params.count("NEWVERSION") || params.count("TRUNCATE")) flags |= O_TRUNC;
  if (params.count("APPEND")) flags |= O_APPEND;
  // Not blocking while opening: a FIFO placed in the directory must not
  // hang the job. Only regular files are kept.
  int fd = ::open(path.c_str(), flags | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  File file;
  file.fd = fd;
  file.path = path;
  files_.emplace(name, std::move(file));
  return true;
}

void Devices::use(const std::string& name) {
  if (name != principal_ && !files_.count(name)) throw MError("<NOTOPEN> *" + name);
  current_ = name;
}

void Devices::close(const std::string& name, bool deleteFile) {
  auto it = files_.find(name);
  if (it == files_.end()) return;
  ::close(it->second.fd);
  if (deleteFile) ::unlink(it->second.path.c_str());
  files_.erase(it);
  if (current_ == name) current_ = principal_;
}

void Devices::writeFile(std::string_view text) {
  File& file = files_.at(current_);
  while (!text.empty()) {
    ssize_t n = ::write(file.fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw MError("<DEVICE> *" + current_);
    text.remove_prefix(static_cast<size_t>(n));
  }
}

std::optional<std::string> Devices::readLine(long maxChars) {
  File& file = files_.at(current_);
  while (true) {
    size_t end = file.buffer.find('\n');
    size_t limit = maxChars < 0 ? std::string::npos : static_cast<size_t>(maxChars);
    if (end != std::string::npos || file.buffer.size() >= limit || file.eof) {
      file.ended = file.buffer.empty() && file.eof;
      if (file.ended) return std::nullopt;
      size_t take = std::min({end, file.buffer.size(), limit});
      std::string line = file.buffer.substr(0, take);
      file.buffer.erase(0, take + (take == end ? 1 : 0));
      file.position.x = 0;
      ++file.position.y;
      return line;
    }
    char chunk[4096];
    ssize_t n = ::read(file.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      file.eof = true;
    } else {
      file.buffer.append(chunk, static_cast<size_t>(n));
    }
  }
}

}  // namespace mengine
