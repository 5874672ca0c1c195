// kvrdbri -m watch: a -m changed pass, then every save of a listed file is
// imported once its events have settled, with the messages of a -m changed
// run of that file; removals are only reported; a queue overflow and a
// server that comes back each bring a pass over the whole list; SIGINT and
// SIGTERM end the run with 0, or 1 after a failed import; idle it takes no
// processor time. The watcher runs in the background with pipes, so every
// message the tests wait for has also been flushed as it happened.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// A utility left running in the background, its standard output and error
// read as they come. Stopped by its own pid when the test is done with it.
class Background {
 public:
  Background(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      const int devnull = open("/dev/null", O_RDONLY);
      dup2(devnull, STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      setsid();
      if (chdir(cwd.c_str()) != 0) _exit(126);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }

  ~Background() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Reads until standard error holds text at least times times; false after
  // the timeout.
  bool WaitErr(const std::string& text, int times = 1, std::chrono::seconds timeout = 20s) {
    return WaitFor(errText_, text, times, timeout);
  }
  bool WaitOut(const std::string& text, int times = 1, std::chrono::seconds timeout = 20s) {
    return WaitFor(outText_, text, times, timeout);
  }

  void Signal(int signo) { ::kill(pid_, signo); }

  // Stops it (SIGSTOP) and waits until the kernel shows it stopped.
  bool Pause() {
    Signal(SIGSTOP);
    for (int i = 0; i < 200; ++i) {
      if (State() == 'T') return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Reads the rest and reaps it: the exit status, -signal, or nothing when
  // it did not end in time.
  std::optional<int> Finish(std::chrono::seconds timeout = 20s) {
    const auto deadline = Clock::now() + timeout;
    while (ReadSome(deadline)) {
    }
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd < 0) return std::nullopt;
    pollfd p{pidfd, POLLIN, 0};
    const int ready = poll(&p, 1, Remaining(deadline));
    close(pidfd);
    if (ready <= 0) return std::nullopt;
    int raw = 0;
    if (waitpid(pid_, &raw, 0) != pid_) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  }

  // Processor time used so far (user and system), in clock ticks.
  long CpuTicks() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name (which may hold blanks) in brackets.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int n = 3; fields >> field; ++n) {
      if (n == 14) utime = std::stol(field);
      if (n == 15) {
        stime = std::stol(field);
        break;
      }
    }
    return utime + stime;
  }

  char State() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
  }

  const std::string& out() const { return outText_; }
  const std::string& err() const { return errText_; }

 private:
  static int Remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }

  // seen: the text read so far from one of the streams.
  bool WaitFor(const std::string& seen, const std::string& text, int times, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Occurrences(seen, text) < times)
      if (!ReadSome(deadline)) return false;
    return true;
  }

  // Waits for output on either stream and reads it; false at the deadline or
  // when both streams have ended.
  bool ReadSome(Clock::time_point deadline) {
    pollfd fds[2] = {{outOpen_ ? out_ : -1, POLLIN, 0}, {errOpen_ ? err_ : -1, POLLIN, 0}};
    if (!outOpen_ && !errOpen_) return false;
    const int ready = poll(fds, 2, Remaining(deadline));
    if (ready < 0 && errno == EINTR) return true;
    if (ready <= 0) return false;
    char buffer[4096];
    if (fds[0].revents) {
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n > 0) outText_.append(buffer, static_cast<std::size_t>(n));
      else outOpen_ = false;
    }
    if (fds[1].revents) {
      const ssize_t n = read(err_, buffer, sizeof buffer);
      if (n > 0) errText_.append(buffer, static_cast<std::size_t>(n));
      else errOpen_ = false;
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool outOpen_ = true;
  bool errOpen_ = true;
  std::string outText_;
  std::string errText_;
};

std::string CountLine(int compared, int imported, int unchanged) {
  return "Compared " + std::to_string(compared) + " routines: " + std::to_string(imported) + " imported, " +
         std::to_string(unchanged) + " left as they were.\n";
}

class WatchTest : public PlainFilesTest {
 protected:
  std::unique_ptr<Background> Watch(std::vector<std::string> args) {
    args.insert(args.begin(), {"-m", "watch"});
    return std::make_unique<Background>(toolPath("kvrdbri"), args, dir_.path());
  }

  // Writes the file under another name and renames it into place, the way
  // many editors save.
  void SaveByRename(const std::string& name, const std::string& content) {
    dir_.write(name + ".tmp~", content);
    ASSERT_EQ(std::rename(dir_.file(name + ".tmp~").c_str(), dir_.file(name).c_str()), 0);
  }
};

class WatchSavesTest : public WatchTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::vector<std::string> Args(const std::string& files) {
    if (GetParam()) return {"-b", "on", files};
    return {files};
  }
};

TEST_P(WatchSavesTest, EverySaveIsImportedOnceAndAnUnchangedOneNotAtAll) {
  Write("a.int", "a ; one\n q\n");
  Write("i.inc", " ; include\n");
  Write("notes.txt", "not a routine\n");
  auto watch = Watch(Args("*.int,*.mac,*.inc,*.txt"));
  ASSERT_TRUE(watch->WaitErr(CountLine(2, 2, 0))) << watch->err();
  std::string out = "Importing i.inc\nImporting a.int\nCompiling a.int\n";
  std::string err = CountLine(2, 2, 0);
  EXPECT_EQ(watch->out(), out);

  // Written in place.
  dir_.write("a.int", "a ; two\n q\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0), 1)) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("a",1))"), "a ; two");
  out += "Importing a.int\nCompiling a.int\n";
  err += CountLine(1, 1, 0);
  // Renamed into place.
  SaveByRename("a.int", "a ; three\n q\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0), 2)) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("a",1))"), "a ; three");
  out += "Importing a.int\nCompiling a.int\n";
  err += CountLine(1, 1, 0);
  // Created.
  dir_.write("m.mac", "m ; macro\n q\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0), 3)) << watch->err();
  EXPECT_EQ(Exists(R"(^rOBJ("m"))"), "1");
  out += "Importing m.mac\nCompiling m.mac\n";
  err += CountLine(1, 1, 0);
  // Saved with the text the server has: compared, nothing imported. A file
  // the list names that is no routine file is not even compared.
  dir_.write("a.int", "a ; three\n q\n");
  dir_.write("notes.txt", "still not a routine\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 0, 1))) << watch->err();
  err += CountLine(1, 0, 1);
  // A burst of saves, all waiting when the watcher next looks: one import
  // of the last text.
  ASSERT_TRUE(watch->Pause());
  for (int i = 1; i <= 5; ++i) dir_.write("a.int", "a ; burst " + std::to_string(i) + "\n q\n");
  SaveByRename("a.int", "a ; burst 6\n q\n");
  watch->Signal(SIGCONT);
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0), 4)) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("a",1))"), "a ; burst 6");
  out += "Importing a.int\nCompiling a.int\n";
  err += CountLine(1, 1, 0);

  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 0);
  EXPECT_EQ(watch->out(), out);
  EXPECT_EQ(watch->err(), err);
}

INSTANTIATE_TEST_SUITE_P(LineByLineAndBulk, WatchSavesTest, ::testing::Bool());

TEST_F(WatchTest, CompileErrorsAndRefusedFilesAreReportedAsByAChangedRunAndTheWatchGoesOn) {
  auto watch = Watch({"*.int"});
  ASSERT_TRUE(watch->WaitErr("No file matches *.int.\n")) << watch->err();
  dir_.write("bad.int", "bad ; broken\n s x=(\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0))) << watch->err();
  EXPECT_TRUE(watch->WaitOut("1 error in bad\n")) << watch->out();
  EXPECT_EQ(Exists(R"(^rOBJ("bad"))"), "0");
  EXPECT_EQ(Value(R"(^ROUTINE("bad",2))"), " s x=(");

  // Each refusal reads as it does in a -m changed run of the file.
  dir_.write("nul.int", std::string("nul\0 q\n", 7));
  ASSERT_TRUE(watch->WaitErr(CountLine(0, 0, 0))) << watch->err();
  dir_.write("long.int", "long\n " + std::string(40000, 'x') + "\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(0, 0, 0), 2)) << watch->err();
  dir_.write("odd^name.int", " q\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(0, 0, 0), 3)) << watch->err();
  std::string refusals;
  for (const char* name : {"nul.int", "long.int", "odd^name.int"}) {
    const RunResult changed = Run("kvrdbri", {"-m", "changed", name});
    EXPECT_EQ(changed.status, 1) << name;
    refusals += changed.err;
  }
  EXPECT_NE(watch->err().find(refusals), std::string::npos) << watch->err() << "\n--- expected\n" << refusals;

  // Still watching.
  dir_.write("good.int", "good ; fine\n q\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0), 2)) << watch->err();
  EXPECT_EQ(Exists(R"(^rOBJ("good"))"), "1");
  EXPECT_EQ(Exists(R"(^ROUTINE("nul"))") + Exists(R"(^ROUTINE("long"))"), "00");

  // A refused file is an import that failed.
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Finish(), 1);
}

TEST_F(WatchTest, ARemovedFileIsReportedAndItsRoutineStays) {
  Write("a.int", "a ; one\n q\n");
  Write("_P.mac", "P ; percent\n q\n");
  auto watch = Watch({"*.int,*.mac"});
  ASSERT_TRUE(watch->WaitErr(CountLine(2, 2, 0))) << watch->err();
  // An editor that moves the old file away before writing the new one has
  // saved it, not removed it. (Held meanwhile, so the steps come within the
  // settling time however busy the machine is.)
  ASSERT_TRUE(watch->Pause());
  ASSERT_EQ(std::rename(dir_.file("a.int").c_str(), dir_.file("a.int~").c_str()), 0);
  dir_.write("a.int", "a ; two\n q\n");
  std::remove(dir_.file("a.int~").c_str());
  watch->Signal(SIGCONT);
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0))) << watch->err();

  std::remove(dir_.file("a.int").c_str());
  ASSERT_EQ(std::rename(dir_.file("_P.mac").c_str(), dir_.file("P.bak").c_str()), 0);
  ASSERT_TRUE(watch->WaitErr("File _P.mac was removed; routine %P.mac stays on the server.\n")) << watch->err();
  ASSERT_TRUE(watch->WaitErr("File a.int was removed; routine a.int stays on the server.\n")) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("a",1))"), "a ; two");
  EXPECT_EQ(Exists(R"(^rOBJ("a"))") + Exists(R"(^rMAC("%P"))"), "11");

  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Finish(), 0);
  EXPECT_EQ(watch->out(), "Importing a.int\nCompiling a.int\nImporting %P.mac\nCompiling %P.mac\n"
                          "Importing a.int\nCompiling a.int\n");
  EXPECT_EQ(Occurrences(watch->err(), " was removed; "), 2) << watch->err();
}

// The kernel's queue of events runs over while the watcher cannot read it
// (stopped): the save made last is lost from the queue, and only a pass over
// the whole list brings it.
TEST_F(WatchTest, AQueueOverflowPassesOverTheWholeList) {
  std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
  long limit = 0;
  if (!(limitFile >> limit) || limit <= 0 || limit > 1'000'000)
    GTEST_SKIP() << "the kernel's queue limit cannot be read or is too large to run over";
  Write("a.int", "a ; one\n q\n");
  Write("b.int", "b ; one\n q\n");
  auto watch = Watch({"*.int"});
  ASSERT_TRUE(watch->WaitErr(CountLine(2, 2, 0))) << watch->err();
  ASSERT_TRUE(watch->Pause());
  // Two files written in turn: the kernel merges only an event equal to the
  // one queued just before it.
  const std::string storm[2] = {dir_.file("storm1.txt"), dir_.file("storm2.txt")};
  for (long i = 0; i <= limit + 10; ++i) {
    const int fd = open(storm[i % 2].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  dir_.write("b.int", "b ; two\n q\n");
  watch->Signal(SIGCONT);
  ASSERT_TRUE(watch->WaitErr(CountLine(2, 1, 1))) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("b",1))"), "b ; two");
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 0);
  EXPECT_EQ(watch->out(), "Importing a.int\nCompiling a.int\nImporting b.int\nCompiling b.int\n"
                          "Importing b.int\nCompiling b.int\n");
}

TEST_F(WatchTest, AServerThatComesBackGetsTheSavesMadeMeanwhile) {
  Write("a.int", "a ; one\n q\n");
  auto watch = Watch({"*.int"});
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0))) << watch->err();
  const int port = server_->port();
  server_->kill();
  dir_.write("a.int", "a ; two\n q\n");
  ASSERT_TRUE(watch->WaitErr("Connection to Kovra Server lost: ")) << watch->err();
  dir_.write("b.int", "b ; made while the server was away\n q\n");
  // A fresh server, on the same port, with nothing stored.
  ServerOptions samePort;
  samePort.port = port;
  server_ = std::make_unique<DevServer>(samePort);
  ASSERT_TRUE(watch->WaitErr("Connected to Kovra Server again.\n" + CountLine(2, 2, 0))) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("a",1)_"|"_^ROUTINE("b",1))"), "a ; two|b ; made while the server was away");
  EXPECT_EQ(Exists(R"(^rOBJ("b"))"), "1");
  // And it goes on.
  dir_.write("b.int", "b ; after\n q\n");
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0), 2)) << watch->err();
  EXPECT_EQ(Value(R"(^ROUTINE("b",1))"), "b ; after");
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 0);
  // The loss is reported once.
  EXPECT_EQ(Occurrences(watch->err(), "lost"), 1) << watch->err();
}

// Saves made while the server is away have not arrived when the run ends.
TEST_F(WatchTest, ARunThatEndsWithoutTheServerFails) {
  Write("a.int", "a ; one\n q\n");
  auto watch = Watch({"*.int"});
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0))) << watch->err();
  server_->kill();
  dir_.write("a.int", "a ; two\n q\n");
  ASSERT_TRUE(watch->WaitErr("Connection to Kovra Server lost: ")) << watch->err();
  // Removals are still told while it waits.
  std::remove(dir_.file("a.int").c_str());
  ASSERT_TRUE(watch->WaitErr("File a.int was removed; routine a.int stays on the server.\n")) << watch->err();
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 1);
  EXPECT_EQ(watch->out(), "Importing a.int\nCompiling a.int\n");
}

// A signal that comes in the middle of a pass ends the run once the routine
// in flight is stored and compiled.
TEST_F(WatchTest, ASignalEndsThePassAfterTheRoutineInFlight) {
  constexpr int kFiles = 200;
  for (int i = 1; i <= kFiles; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "r%03d", i);
    Write(std::string(name) + ".int", std::string(name) + " ; routine\n s x=1\n q\n");
  }
  auto watch = Watch({"*.int"});
  ASSERT_TRUE(watch->WaitOut("Importing r001.int\n")) << watch->out();
  // Held while the signal comes, so it lands inside the pass wherever the
  // pass has got to.
  ASSERT_TRUE(watch->Pause());
  watch->Signal(SIGTERM);
  watch->Signal(SIGCONT);
  EXPECT_EQ(watch->Finish(), 0);
  const std::string& out = watch->out();
  const int imported = Occurrences(out, "Importing ");
  EXPECT_LT(imported, kFiles);
  EXPECT_EQ(Occurrences(out, "Compiling "), imported);
  EXPECT_EQ(watch->err(), CountLine(imported, imported, 0));
  // The last routine announced is whole and compiled; the next is untouched.
  char last[16], next[16];
  std::snprintf(last, sizeof last, "r%03d", imported);
  std::snprintf(next, sizeof next, "r%03d", imported + 1);
  EXPECT_TRUE(out.ends_with("Compiling " + std::string(last) + ".int\n")) << out;
  EXPECT_EQ(Value("^ROUTINE(\"" + std::string(last) + "\")"), "3,22");
  EXPECT_EQ(Exists("^rOBJ(\"" + std::string(last) + "\")") + Exists("^ROUTINE(\"" + std::string(next) + "\")"), "10");
}

TEST_F(WatchTest, IdleItTakesNoProcessorTime) {
  Write("a.int", "a ; one\n q\n");
  auto watch = Watch({"*.int"});
  ASSERT_TRUE(watch->WaitErr(CountLine(1, 1, 0))) << watch->err();
  const long before = watch->CpuTicks();
  std::this_thread::sleep_for(1s);
  // A watcher that polled would show ticks here; one that sleeps in the
  // kernel until something happens shows none (one for rounding).
  EXPECT_LE(watch->CpuTicks() - before, 1);
  EXPECT_EQ(watch->State(), 'S');
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Finish(), 0);
}

TEST_F(WatchTest, AFolderThatCannotBeWatchedFailsTheStartUp) {
  const RunResult r = Run("kvrdbri", {"-m", "watch", "*.int,missing/*.int"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.err.starts_with("Cannot watch folder missing: No such file or directory.\n"
                                "Kovra CommandLine Tools.\n"))
      << r.err;
  EXPECT_EQ(r.out, "");
  // Only kvrdbri watches.
  const RunResult other = Run("kvrdbro", {"-m", "watch", "*"});
  EXPECT_EQ(other.status, 255);
  EXPECT_TRUE(other.err.starts_with("Option -m takes all, update or changed, not 'watch'.\n")) << other.err;
}

}  // namespace
}  // namespace kvrtest
