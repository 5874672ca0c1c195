// Test harness for the command-line utilities: temporary folders, a
// kvrdevserver per test, and running a utility with captured output, either
// with pipes or under a pseudo-terminal. Every process started here is
// stopped by its own pid, and every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvrtest {

// build/bin, or the folder KVR_TEST_BIN_DIR names: the programs and
// libkovrasc.so.
std::string binDir();
std::string toolPath(const std::string& name);

// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  // Copies build/bin/libkovrasc.so in, where the utilities look for it.
  void addLibrary() const;

 private:
  std::string path_;
};

struct ServerOptions {
  std::optional<std::string> dir;  // --dir
  bool connectGreeting = false;    // --greeting connect
  std::vector<std::string> arguments = {};  // further words (--listen ::1, --tls-cert FILE ...)
  int port = 0;                    // --port: 0 picks a free one
};

// kvrdevserver on 127.0.0.1 (--port 0 unless told); the port is read from
// its first line ("listening on ADDRESS:PORT"), and a server that does not
// write it is a failed start (an exception).
class DevServer {
 public:
  explicit DevServer(const ServerOptions& options = {});
  // The same with another kvrdevserver program than build/bin's, or with
  // further words on its command line (e.g. --segment 1).
  DevServer(const ServerOptions& options, const std::string& program,
            const std::vector<std::string>& arguments = {});
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // The first line without its line end, and the time it took to come.
  const std::string& firstLine() const { return firstLine_; }
  std::chrono::microseconds startTime() const { return startTime_; }
  // Ends the server at once (SIGKILL) and reaps it.
  void kill();
  // Ends it with SIGTERM and reaps it (SIGKILL after a bounded wait).
  void stop();
  // Sends the signal and leaves the server be.
  void signal(int number);
  // Waits for the server to end and reaps it: its exit status or -signal,
  // or nothing when it did not end in time (it is then killed).
  std::optional<int> waitForExit(std::chrono::seconds limit = std::chrono::seconds(10));

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string firstLine_;
  std::chrono::microseconds startTime_{0};
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;       // exit status, or -signal when killed by a signal
  bool timedOut = false;
};

struct RunOptions {
  std::string cwd;
  std::string input;                            // written to standard input, then closed
  std::optional<std::string> inputFile;         // or: standard input from this file
  std::map<std::string, std::string> env;       // added to the environment
  std::chrono::seconds timeout{30};
};

// Runs the utility (a path) with the words and captures both streams.
RunResult runTool(const std::string& program, const std::vector<std::string>& args,
                  const RunOptions& options);

// A utility running under a pseudo-terminal (standard input, output and
// error all the terminal), for the prompts.
class PtySession {
 public:
  PtySession(const std::string& program, const std::vector<std::string>& args, const std::string& cwd);
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Reads until the output (since start) holds text; false after timeout.
  bool waitFor(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(20));
  void send(const std::string& text);
  // Sends the terminal's end-of-file character (at the start of a line).
  void sendEndOfFile();
  void interrupt();  // the terminal's interrupt character
  // Reads the rest of the output and reaps the program; the exit status or
  // -signal, or nothing after timeout (the program is then killed).
  std::optional<int> finish(std::chrono::seconds timeout = std::chrono::seconds(20));
  const std::string& output() const { return output_; }
  pid_t pid() const { return pid_; }
  // Whether the terminal echoes input right now (as the program left it).
  bool echoOn() const;

 private:
  bool readSome(std::chrono::milliseconds timeout);
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
};

// Writes kvrct.ini with a [connection] section for 127.0.0.1:port.
void writeSettings(const TempDir& dir, int port, const std::string& database = "USER");

}  // namespace kvrtest
