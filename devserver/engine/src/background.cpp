#include "background.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>
#include <thread>

#include "mengine/engine.h"
#include "text.h"

namespace mengine {
namespace {

// The principal device of a background job: a file or nothing. The job has
// no client, so a callback answers "" and a message goes nowhere; the job
// counts as abandoned once the server stops.
class BackgroundIo : public JobIo {
 public:
  BackgroundIo(const std::atomic<bool>& stopping, const std::string& path) : stopping_(stopping) {
    if (!path.empty())
      fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  }
  ~BackgroundIo() override {
    if (fd_ >= 0) ::close(fd_);
  }
  BackgroundIo(const BackgroundIo&) = delete;
  BackgroundIo& operator=(const BackgroundIo&) = delete;

  void write(std::string_view bytes) override {
    while (fd_ >= 0 && !bytes.empty()) {
      ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  void outputValue(std::string_view) override {}
  std::string callback(std::string_view, std::string_view) override { return ""; }
  void message(std::string_view) override {}
  bool abandoned() override { return stopping_; }

 private:
  const std::atomic<bool>& stopping_;
  int fd_ = -1;
};

}  // namespace

BackgroundJobs::~BackgroundJobs() {
  stopping_ = true;
  waitUntilIdle();
}

void BackgroundJobs::waitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [&] { return running_ == 0; });
}

int BackgroundJobs::start(Server& server, const std::string& database, const std::string& line,
                          const std::string& outputPath) {
  int number;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || running_ >= kMaxRunning) return 0;
    ++running_;
    number = next_++;
  }
  try {
    std::thread([this, &server, number, database, line, outputPath] {
      try {
        BackgroundIo io(stopping_, outputPath);
        Job job(server, number);
        job.execute("zn " + quoted(database), io);
        job.execute(line, io);
      } catch (const MError& e) {
        // An error ends the job as it ends a request: there is no one to tell.
      } catch (const std::exception&) {
      }
      finished();
    }).detach();
  } catch (const std::system_error&) {
    finished();
    return 0;
  }
  return number;
}

void BackgroundJobs::finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  // Notified under the lock: once the destructor sees 0 this job no longer
  // touches the object.
  idle_.notify_all();
}

}  // namespace mengine
