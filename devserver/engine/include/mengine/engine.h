// The M engine of kvrdevserver: databases of globals shared by all jobs, and
// one Job per connection with its own local variables.
//
// Thread safety: a Server may be used by many Jobs on many threads at once;
// each database's globals are guarded by the Server. A Job is used by one
// thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mengine {

// An M error. what() is the text the server reports for it, e.g.
// "<UNDEFINED> *abc", "<SYNTAX>", "<NAMESPACE>".
class MError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Subscripts = std::vector<std::string>;

// Receives every change made to a database, for persistence. Called while the
// database's lock is held, after the change is applied in memory and before
// the operation that made it returns (so a request's records are written
// before its reply is sent). The changes of a transaction arrive when it
// commits, all of one database under one hold of its lock, in order; those
// of a transaction rolled back never arrive.
class JournalSink {
 public:
  virtual ~JournalSink() = default;
  virtual void recordSet(const std::string& database, const std::string& global,
                         const Subscripts& subscripts, const std::string& value) = 0;
  virtual void recordKill(const std::string& database, const std::string& global,
                          const Subscripts& subscripts) = 0;

  // One change of a committed transaction.
  struct Change {
    bool kill = false;
    std::string global;
    Subscripts subscripts;
    std::string value;  // sets only
  };
  // The changes of one database made by a committed transaction, in order.
  // A sink that can write them as one unit does, so that a crash keeps all
  // of them or none; by default they are recorded one by one.
  virtual void recordTransaction(const std::string& database, const std::vector<Change>& changes) {
    for (const Change& change : changes) {
      if (change.kill) {
        recordKill(database, change.global, change.subscripts);
      } else {
        recordSet(database, change.global, change.subscripts, change.value);
      }
    }
  }
};

struct ServerOptions {
  // The server directory with a trailing '/', as $VIEW("proc",6) returns it;
  // kovra.ini is read there. Empty: everything in memory, no kovra.ini.
  std::string directory;
  // Receives every change; null for an in-memory server.
  JournalSink* journal = nullptr;
};

// The databases "%SYS" and "USER" with their globals.
class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  const ServerOptions& options() const;
  bool hasDatabase(std::string_view name) const;

  // Apply a journal record at start-up; no journal record is written for it.
  void replaySet(const std::string& database, const std::string& global,
                 const Subscripts& subscripts, const std::string& value);
  void replayKill(const std::string& database, const std::string& global,
                  const Subscripts& subscripts);

  // Visits every node that holds a value, database by database, in collation
  // order (for compacting a journal).
  using NodeVisitor = std::function<void(const std::string& database, const std::string& global,
                                         const Subscripts& subscripts, const std::string& value)>;
  void forEachNode(const NodeVisitor& visit) const;

  struct Impl;
  Impl& impl();

 private:
  std::unique_ptr<Impl> impl_;
};

// What a running job asks of the connection that drives it.
class JobIo {
 public:
  virtual ~JobIo() = default;
  // Output of the WRITE command (and of the compiler).
  virtual void write(std::string_view bytes) = 0;
  // One value handed back by wo^%srv.
  virtual void outputValue(std::string_view value) = 0;
  // $$callback^%srv(name,command): asks the client, returns its answer.
  virtual std::string callback(std::string_view name, std::string_view command) = 0;
  // msg^%srv(id): sends a server message; waits for the acknowledgement
  // when id is a positive integer.
  virtual void message(std::string_view id) = 0;
  // True once the client has gone: the job then stops at its next command
  // (or within a fraction of a second of HANG or a LOCK wait) as if it had
  // run HALT. Asked every few hundred commands, so it may cost a system call.
  virtual bool abandoned() { return false; }
};

// One job: a connection's local variables, current database and job number.
// Every operation throws MError on an M error; the job stays usable.
// Exceptions thrown by the JobIo pass through unchanged. The job's LOCKs are
// released when it is destroyed.
class Job {
 public:
  Job(Server& server, int jobNumber);
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Runs one line of M commands.
  void execute(std::string_view line, JobIo& io);
  // Evaluates an M expression.
  std::string evaluate(std::string_view expression, JobIo& io);
  // Sets an M reference (local, global, or with indirection such as
  // @rglobal@("ABC",3)) to a value.
  void set(std::string_view reference, std::string_view value, JobIo& io);
  // Kills an M reference.
  void kill(std::string_view reference, JobIo& io);

  // The current database ("%SYS" after creation; zn changes it).
  const std::string& database() const;
  // True once the job ran HALT; the connection should then be closed.
  bool halted() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace mengine
