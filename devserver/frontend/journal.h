// The journals of a server directory: one append-only file per database,
// named after it ("USER.journal"). Every change is written (write(2), no
// user-space buffer) before the request that made it is answered, so a
// server that is killed loses nothing it acknowledged. At start the files
// are replayed into the server and then compacted to its contents.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "mengine/engine.h"
#include "unique_fd.h"

namespace devserver {

class Journal : public mengine::JournalSink {
 public:
  // directory ends with '/'. Locks the directory against a second server;
  // throws std::runtime_error when that fails.
  explicit Journal(std::string directory);
  ~Journal() override;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Applies every database's journal to server. A torn tail is ignored (and
  // dropped by the next compact). Throws std::runtime_error for a file that
  // is not a journal.
  void replay(mengine::Server& server);

  // Rewrites each journal from the server's contents: a temporary file,
  // flushed to disk, then renamed over the old one.
  void compact(const mengine::Server& server);

  void recordSet(const std::string& database, const std::string& global,
                 const mengine::Subscripts& subscripts, const std::string& value) override;
  void recordKill(const std::string& database, const std::string& global,
                  const mengine::Subscripts& subscripts) override;
  // Written in one record, so that replay takes all of the changes or none.
  void recordTransaction(const std::string& database, const std::vector<Change>& changes) override;

  std::string pathOf(const std::string& database) const;

 private:
  void append(const std::string& database, const std::string& bytes);
  int fileFor(const std::string& database);

  std::string directory_;
  UniqueFd lock_;
  std::mutex mutex_;
  std::map<std::string, UniqueFd> files_;
  std::set<std::string> known_;  // databases that have a journal file
};

}  // namespace devserver
