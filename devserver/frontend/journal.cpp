#include "journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "journal_record.h"

namespace devserver {

namespace {

constexpr std::string_view kSuffix = ".journal";
constexpr std::size_t kCompactBuffer = 64 * 1024;

std::runtime_error failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// Database names become file names; anything that could leave the directory
// or hide the file is refused.
bool isSafeName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '%' || c == '_';
    if (!ok) return false;
  }
  return true;
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw mengine::MError(std::string("<JOURNAL> ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw failure("cannot read", path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void syncDirectory(const std::string& directory) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

Journal::Journal(std::string directory) : directory_(std::move(directory)) {
  std::string lockPath = directory_ + "kvrdevserver.lock";
  lock_ = UniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock_) throw failure("cannot open", lockPath);
  if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    throw std::runtime_error("directory " + directory_ + " is in use by another kvrdevserver");
  }
}

Journal::~Journal() = default;

std::string Journal::pathOf(const std::string& database) const {
  return directory_ + database + std::string(kSuffix);
}

void Journal::replay(mengine::Server& server) {
  std::error_code error;
  std::filesystem::directory_iterator entries(directory_, error);
  if (error) {
    throw std::runtime_error("cannot read database directory " + directory_ + ": " + error.message());
  }
  for (const auto& entry : entries) {
    std::string file = entry.path().filename().string();
    if (!entry.is_regular_file() || !file.ends_with(kSuffix)) continue;
    std::string database = file.substr(0, file.size() - kSuffix.size());
    if (!isSafeName(database) || !server.hasDatabase(database)) {
      std::cerr << "kvrdevserver: ignoring " << entry.path().string() << ": no such database\n";
      continue;
    }
    std::string path = pathOf(database);
    std::string data = readFile(path);
    known_.insert(database);
    // A file cut short while its magic was being written holds nothing yet.
    if (data.size() < kJournalMagic.size() && kJournalMagic.starts_with(data)) continue;
    if (!data.starts_with(kJournalMagic)) {
      throw std::runtime_error(path + " is not a kvrdevserver journal");
    }
    std::size_t pos = kJournalMagic.size();
    std::vector<JournalRecord> records;
    while (decodeEntry(data, pos, records)) {
      for (const JournalRecord& record : records) {
        if (record.kind == JournalRecord::Kind::kSet) {
          server.replaySet(database, record.global, record.subscripts, record.value);
        } else {
          server.replayKill(database, record.global, record.subscripts);
        }
      }
    }
    if (pos != data.size()) {
      std::cerr << "kvrdevserver: " << path << ": ignored " << (data.size() - pos)
                << " bytes of a torn record at the end\n";
    }
  }
}

void Journal::compact(const mengine::Server& server) {
  struct Rewrite {
    std::string temporary;
    UniqueFd fd;
    std::string pending;
  };
  std::map<std::string, Rewrite> rewrites;
  auto rewriteFor = [&](const std::string& database) -> Rewrite& {
    auto found = rewrites.find(database);
    if (found != rewrites.end()) return found->second;
    if (!isSafeName(database)) throw std::runtime_error("unusable database name " + database);
    Rewrite rewrite;
    rewrite.temporary = pathOf(database) + ".tmp";
    rewrite.fd = UniqueFd(
        ::open(rewrite.temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!rewrite.fd) throw failure("cannot create", rewrite.temporary);
    rewrite.pending.assign(kJournalMagic);
    return rewrites.emplace(database, std::move(rewrite)).first->second;
  };

  for (const std::string& database : known_) rewriteFor(database);
  server.forEachNode([&](const std::string& database, const std::string& global,
                         const mengine::Subscripts& subscripts, const std::string& value) {
    Rewrite& rewrite = rewriteFor(database);
    appendChange(rewrite.pending, JournalRecord::Kind::kSet, global, subscripts, value);
    if (rewrite.pending.size() >= kCompactBuffer) {
      writeAll(rewrite.fd.get(), rewrite.pending);
      rewrite.pending.clear();
    }
  });

  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& [database, rewrite] : rewrites) {
    writeAll(rewrite.fd.get(), rewrite.pending);
    if (::fsync(rewrite.fd.get()) != 0) throw failure("cannot flush", rewrite.temporary);
    rewrite.fd.reset();
    std::string path = pathOf(database);
    if (::rename(rewrite.temporary.c_str(), path.c_str()) != 0) {
      throw failure("cannot replace", path);
    }
    files_.erase(database);
    known_.insert(database);
  }
  syncDirectory(directory_);
}

void Journal::recordSet(const std::string& database, const std::string& global,
                        const mengine::Subscripts& subscripts, const std::string& value) {
  std::string bytes;
  appendChange(bytes, JournalRecord::Kind::kSet, global, subscripts, value);
  append(database, bytes);
}

void Journal::recordKill(const std::string& database, const std::string& global,
                         const mengine::Subscripts& subscripts) {
  std::string bytes;
  appendChange(bytes, JournalRecord::Kind::kKill, global, subscripts, {});
  append(database, bytes);
}

void Journal::recordTransaction(const std::string& database, const std::vector<Change>& changes) {
  append(database, encodeTransaction(changes));
}

void Journal::append(const std::string& database, const std::string& bytes) {
  std::lock_guard<std::mutex> hold(mutex_);
  // One write per record: O_APPEND places it whole behind the last one.
  writeAll(fileFor(database), bytes);
}

int Journal::fileFor(const std::string& database) {
  auto found = files_.find(database);
  if (found != files_.end()) return found->second.get();
  if (!isSafeName(database)) throw mengine::MError("<JOURNAL> unusable database name");
  std::string path = pathOf(database);
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd) throw mengine::MError("<JOURNAL> " + path + ": " + std::strerror(errno));
  struct stat status {};
  if (::fstat(fd.get(), &status) == 0 && status.st_size == 0) writeAll(fd.get(), kJournalMagic);
  known_.insert(database);
  return files_.emplace(database, std::move(fd)).first->second.get();
}

}  // namespace devserver
