// Pipes that let a test hold a utility at a known point: a named pipe the
// utility reads from, fed only once the utility has opened it, and a
// utility whose standard output fills a one-page pipe that the test drains
// only when it chooses.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kvrtest {

// Creates a named pipe at path. Once a reader has opened it, runs whenOpened
// (say, to stop the server) and then writes content and closes it. A reader
// that never comes is stood in for when the object goes.
class FifoFeeder {
 public:
  FifoFeeder(std::string path, std::string content, std::function<void()> whenOpened = {});
  ~FifoFeeder();
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;

 private:
  std::string path_;
  std::thread writer_;
};

// A program whose standard output is a pipe of one page; standard error goes
// to the file errorPath.
class HeldRun {
 public:
  HeldRun(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
          const std::string& errorPath);
  ~HeldRun();
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;

  // Waits for the first output; false when none came in time.
  bool waitForOutput();
  // Reads the output to its end and reaps the program: its exit status, or
  // nothing when it did not end in time (it is then killed).
  std::optional<int> finish();
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

}  // namespace kvrtest
