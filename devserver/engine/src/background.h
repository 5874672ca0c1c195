// Jobs started by the JOB command: each runs on a thread of its own inside
// the server, with its own $JOB, locals and locks, until its routine QUITs
// or HALTs or the server stops.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

namespace mengine {

class Server;

class BackgroundJobs {
 public:
  // Jobs started here are numbered from this on, apart from the numbers a
  // server gives its connections.
  static constexpr int kFirstNumber = 1000001;
  static constexpr int kMaxRunning = 64;

  BackgroundJobs() = default;
  // Asks every job to stop and waits until all have.
  ~BackgroundJobs();
  BackgroundJobs(const BackgroundJobs&) = delete;
  BackgroundJobs& operator=(const BackgroundJobs&) = delete;

  // Starts a job that switches to database and runs the DO command line.
  // Its principal device writes to outputPath (a file it creates), or
  // nowhere when outputPath is empty. The job's number, or 0 when no job
  // can be started now.
  int start(Server& server, const std::string& database, const std::string& line,
            const std::string& outputPath);

  bool stopping() const { return stopping_; }
  // Waits until no job started here runs.
  void waitUntilIdle();

 private:
  void finished();

  std::mutex mutex_;
  std::condition_variable idle_;
  int running_ = 0;
  int next_ = kFirstNumber;
  std::atomic<bool> stopping_{false};
};

}  // namespace mengine
