// The C interface as a client program uses it: the built libkovrasc.so bound
// with dlopen, against a scripted server.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kovra_record.h"
#include "kovrasc.h"
#include "scripted_peer.h"

namespace {

using kovra::testing::ScriptedPeer;
using kovra::testing::Z;

struct Library {
  decltype(&KVRCreateConnect) create;
  decltype(&KVRDestroyConnect) destroy;
  decltype(&KVRConnectOpen) open;
  decltype(&KVRConnectClose) close;
  decltype(&KVRGetLastError) lastError;
  decltype(&KVRRead) read;
  decltype(&KVRWrite) write;
  decltype(&KVRExecute) execute;
  decltype(&KVRKill) kill;
  decltype(&KVRExecuteOutput) executeOutput;
  decltype(&KVRSetOutput) setOutput;
  decltype(&KVRSetGroupRead) setGroupRead;
  decltype(&KVRSetCallback) setCallback;
};

// What the call-backs saw; reset by each test.
struct Seen {
  void* handle = nullptr;
  std::vector<std::string> output;
  std::vector<std::string> groups;
  std::vector<std::string> commands;
  std::string callbackResult;
  bool touchResult = true;
};
Seen seen;

using kvrtest::Record;
using kvrtest::Text;

void OnOutput(void* handle, KOVRA_STR* text) {
  seen.handle = handle;
  seen.output.push_back(Text(*text));
}
void OnGroup(void* handle, KOVRA_STR* value) {
  seen.handle = handle;
  seen.groups.push_back(Text(*value));
}
void OnCommand(void* handle, KOVRA_STR* command, KOVRA_STR* result) {
  seen.handle = handle;
  seen.commands.push_back(Text(*command));
  EXPECT_EQ(result->len, 0);
  if (!seen.touchResult) return;
  if (seen.callbackResult == "overlong") {
    result->len = 40000;  // beyond the record: the library must not read past it
    std::memset(result->str, 'r', KOVRA_STR_MAX);
    return;
  }
  result->len = static_cast<uint16_t>(seen.callbackResult.size());
  std::memcpy(result->str, seen.callbackResult.data(), seen.callbackResult.size());
}

class CInterfaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dl_ = ::dlopen(KOVRASC_LIBRARY_PATH, RTLD_LAZY);
    ASSERT_NE(dl_, nullptr) << ::dlerror();
    lib_.create = Bind<decltype(lib_.create)>("KVRCreateConnect");
    lib_.destroy = Bind<decltype(lib_.destroy)>("KVRDestroyConnect");
    lib_.open = Bind<decltype(lib_.open)>("KVRConnectOpen");
    lib_.close = Bind<decltype(lib_.close)>("KVRConnectClose");
    lib_.lastError = Bind<decltype(lib_.lastError)>("KVRGetLastError");
    lib_.read = Bind<decltype(lib_.read)>("KVRRead");
    lib_.write = Bind<decltype(lib_.write)>("KVRWrite");
    lib_.execute = Bind<decltype(lib_.execute)>("KVRExecute");
    lib_.kill = Bind<decltype(lib_.kill)>("KVRKill");
    lib_.executeOutput = Bind<decltype(lib_.executeOutput)>("KVRExecuteOutput");
    lib_.setOutput = Bind<decltype(lib_.setOutput)>("KVRSetOutput");
    lib_.setGroupRead = Bind<decltype(lib_.setGroupRead)>("KVRSetGroupRead");
    lib_.setCallback = Bind<decltype(lib_.setCallback)>("KVRSetCallback");
  }
  static void TearDownTestSuite() {
    if (dl_) ::dlclose(dl_);
  }
  template <typename F>
  static F Bind(const char* name) {
    void* symbol = ::dlsym(dl_, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<F>(symbol);
  }

  void SetUp() override {
    ASSERT_NE(dl_, nullptr);
    seen = Seen{};
  }
  void TearDown() override {
    if (handle_) lib_.destroy(handle_);
  }

  void Create(int port, const char* ns = "USER") { handle_ = lib_.create("127.0.0.1", port, ns); }

  std::string LastError() {
    auto r = std::make_unique<KOVRA_STR>();
    r->len = 999;
    lib_.lastError(handle_, r.get());
    return Text(*r);
  }

  // A port on 127.0.0.1 with nothing listening behind it.
  static int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
  }

  static inline void* dl_ = nullptr;
  static inline Library lib_{};
  void* handle_ = nullptr;
};

TEST_F(CInterfaceTest, NullHandleIsAcceptedEverywhere) {
  auto record = Record("x");
  auto error = Record("unchanged");
  lib_.destroy(nullptr);
  EXPECT_EQ(lib_.open(nullptr), 0);
  EXPECT_EQ(lib_.close(nullptr), 0);
  EXPECT_EQ(lib_.read(nullptr, record.get(), record.get()), 0);
  EXPECT_EQ(lib_.write(nullptr, record.get(), record.get()), 0);
  EXPECT_EQ(lib_.execute(nullptr, record.get()), 0);
  EXPECT_EQ(lib_.kill(nullptr, record.get()), 0);
  EXPECT_EQ(lib_.executeOutput(nullptr, record.get()), 0);
  lib_.setOutput(nullptr, OnOutput);
  lib_.setGroupRead(nullptr, OnGroup);
  lib_.setCallback(nullptr, OnCommand);
  lib_.lastError(nullptr, error.get());
  EXPECT_EQ(error->len, 0);
  EXPECT_EQ(std::string(error->str, 9), "unchanged");
  EXPECT_EQ(Text(*record), "x");
}

TEST_F(CInterfaceTest, UnopenedHandleFailsWithoutTouchingTheValue) {
  handle_ = lib_.create(nullptr, 0, nullptr);
  ASSERT_NE(handle_, nullptr);
  EXPECT_EQ(LastError(), "");
  auto expression = Record("1+1");
  auto value = Record("before");
  EXPECT_EQ(lib_.read(handle_, expression.get(), value.get()), 0);
  EXPECT_EQ(Text(*value), "before");
  EXPECT_EQ(LastError(), "Connect does not exist.");
  EXPECT_EQ(lib_.close(handle_), 1);
}

TEST_F(CInterfaceTest, FailedOpenLeavesTheReasonAsTheLastError) {
  Create(ClosedPort());
  EXPECT_EQ(lib_.open(handle_), 0);
  EXPECT_EQ(LastError(), "Connection refused");
  // The next call on the handle that never opened says so as before.
  auto expression = Record("1");
  EXPECT_EQ(lib_.read(handle_, expression.get(), expression.get()), 0);
  EXPECT_EQ(LastError(), "Connect does not exist.");
}

TEST_F(CInterfaceTest, UnknownDatabaseIsNamedInTheLastError) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|")).Expect(Z("x|11|zn \"NOSUCH\"")).Send(Z("<NAMESPACE>|"));
  peer.Start();
  Create(peer.Port(), "NOSUCH");
  EXPECT_EQ(lib_.open(handle_), 0);
  EXPECT_EQ(LastError(), "database NOSUCH does not exist");
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(CInterfaceTest, OpenSelectsTheNamespaceAndTheLastErrorSurvivesSuccesses) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("r|1|e"))
      .Send(Z("<ERR>|"))
      .Expect(Z("w|1|a1|b"))
      .Send(Z("<GO ON>:1|r<OK>|"))
      .Expect(Z("r|1|e"))
      .Send(Z("<GO ON>:5|v|a|l<OK>|"));
  peer.Start();
  Create(peer.Port());
  ASSERT_EQ(lib_.open(handle_), 1);
  auto e = Record("e");
  auto value = Record("");
  EXPECT_EQ(lib_.read(handle_, e.get(), value.get()), 0);
  const std::string failure = LastError();
  EXPECT_EQ(failure, Z("Internal server error: '<ERR>|' while executing Last SuccessFull CallBack:  "
                       "Last Executed Command: r_$C(0)_1_$C(0)_e"));
  auto a = Record("a");
  auto b = Record("b");
  EXPECT_EQ(lib_.write(handle_, a.get(), b.get()), 1);
  EXPECT_EQ(lib_.read(handle_, e.get(), value.get()), 1);
  EXPECT_EQ(Text(*value), Z("v|a|l"));
  EXPECT_EQ(LastError(), failure);
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(CInterfaceTest, CallbacksReceiveValuesOutputAndCommands) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("x|1|g"))
      .Send(Z("<GO ON>:1|A<CALLBACK>f:3|cmd<GO ON>:1|B<OK>|"))
      .Expect(Z("c|2|ok"))
      .Expect(Z("t|1|o"))
      .Send(std::string(3000, 'o') + Z("|<OK>|"));
  peer.Start();
  Create(peer.Port());
  lib_.setGroupRead(handle_, OnGroup);
  lib_.setCallback(handle_, OnCommand);
  lib_.setOutput(handle_, OnOutput);
  seen.callbackResult = "ok";
  ASSERT_EQ(lib_.open(handle_), 1);
  EXPECT_EQ(seen.groups, std::vector<std::string>{""});  // the zn line produced no value
  seen.groups.clear();
  auto g = Record("g");
  EXPECT_EQ(lib_.execute(handle_, g.get()), 1);
  EXPECT_EQ(seen.groups, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(seen.commands, std::vector<std::string>{"cmd"});
  auto o = Record("o");
  EXPECT_EQ(lib_.executeOutput(handle_, o.get()), 1);
  EXPECT_EQ(seen.output, (std::vector<std::string>{std::string(2048, 'o'), std::string(952, 'o')}));
  EXPECT_EQ(seen.groups.size(), 2u);
  EXPECT_EQ(seen.handle, handle_);
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(CInterfaceTest, CallbacksSwitchedOffProduceNoCallsAndEmptyAnswers) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("x|1|g"))
      .Send(Z("<GO ON>:1|A<CALLBACK>f:1|c<OK>|"))
      .Expect(Z("c|0|"))
      .Expect(Z("x|1|g"))
      .Send(Z("<CALLBACK>f:1|c"))
      .Expect(Z("c|0|"))
      .Send(Z("<OK>|"));
  peer.Start();
  Create(peer.Port());
  lib_.setGroupRead(handle_, OnGroup);
  lib_.setCallback(handle_, OnCommand);
  lib_.setGroupRead(handle_, nullptr);
  lib_.setCallback(handle_, nullptr);
  ASSERT_EQ(lib_.open(handle_), 1);
  auto g = Record("g");
  EXPECT_EQ(lib_.execute(handle_, g.get()), 1);
  // A handler that leaves its result record alone answers with the empty text.
  lib_.setCallback(handle_, OnCommand);
  seen.touchResult = false;
  EXPECT_EQ(lib_.execute(handle_, g.get()), 1);
  EXPECT_TRUE(seen.groups.empty());
  EXPECT_EQ(seen.commands, std::vector<std::string>{"c"});
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

// A length beyond the record is refused, as for any argument: none of the
// record's bytes go out, and the server gets the empty answer.
TEST_F(CInterfaceTest, CallbackResultLengthBeyondTheRecordIsAnsweredEmpty) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("x|1|c"))
      .Send(Z("<CALLBACK>f:1|c"))
      .Expect(Z("c|0|"))
      .Send(Z("<OK>|"));
  peer.Start();
  Create(peer.Port());
  lib_.setCallback(handle_, OnCommand);
  seen.callbackResult = "overlong";
  ASSERT_EQ(lib_.open(handle_), 1);
  auto c = Record("c");
  EXPECT_EQ(lib_.execute(handle_, c.get()), 1);
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

// A message longer than a record holds is cut, never written past the record.
TEST_F(CInterfaceTest, LongErrorTextIsCutToOneRecord) {
  ScriptedPeer peer;
  const std::string header(32700, 'E');
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("x|1|e"))
      .Send(header + '\0');
  peer.Start();
  Create(peer.Port());
  ASSERT_EQ(lib_.open(handle_), 1);
  auto e = Record("e");
  EXPECT_EQ(lib_.execute(handle_, e.get()), 0);
  const std::string error = LastError();
  EXPECT_EQ(error.size(), std::size_t{KOVRA_STR_MAX});
  EXPECT_EQ(error.substr(0, 24 + header.size()), "Internal server error: '" + header);
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(CInterfaceTest, ConnectionDroppedByThePeerNeedsANewOpen) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|")).Expect(Z("x|9|zn \"USER\"")).Send(Z("<OK>|")).Expect(Z("x|1|e")).Close();
  peer.Start();
  Create(peer.Port());
  ASSERT_EQ(lib_.open(handle_), 1);
  auto e = Record("e");
  EXPECT_EQ(lib_.execute(handle_, e.get()), 0);
  EXPECT_EQ(LastError(), "Socket is not connected.");
  EXPECT_EQ(lib_.execute(handle_, e.get()), 0);
  EXPECT_EQ(LastError(), "Connect does not exist.");
  EXPECT_EQ(peer.Finish(), "");
}

// Every connection function given a null record fails cleanly, names the
// missing argument, and sends nothing.
TEST_F(CInterfaceTest, NullRecordsFailAndNameTheMissingArgument) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|")).Expect(Z("x|9|zn \"USER\"")).Send(Z("<OK>|"));
  peer.Start();
  Create(peer.Port());
  ASSERT_EQ(lib_.open(handle_), 1);
  auto record = Record("x");
  EXPECT_EQ(lib_.read(handle_, nullptr, record.get()), 0);
  EXPECT_EQ(LastError(), "Missing argument: expression.");
  EXPECT_EQ(lib_.read(handle_, record.get(), nullptr), 0);
  EXPECT_EQ(LastError(), "Missing argument: value.");
  EXPECT_EQ(lib_.write(handle_, nullptr, record.get()), 0);
  EXPECT_EQ(LastError(), "Missing argument: name.");
  EXPECT_EQ(lib_.write(handle_, record.get(), nullptr), 0);
  EXPECT_EQ(LastError(), "Missing argument: value.");
  EXPECT_EQ(lib_.execute(handle_, nullptr), 0);
  EXPECT_EQ(LastError(), "Missing argument: code.");
  EXPECT_EQ(lib_.kill(handle_, nullptr), 0);
  EXPECT_EQ(LastError(), "Missing argument: name.");
  EXPECT_EQ(lib_.executeOutput(handle_, nullptr), 0);
  EXPECT_EQ(LastError(), "Missing argument: code.");
  lib_.lastError(handle_, nullptr);  // nothing to write into: no effect
  EXPECT_EQ(Text(*record), "x");
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

// A record whose length is more than it holds is refused like a missing one:
// the call fails, names the argument and sends nothing (the peer would see
// any request, cut or whole).
TEST_F(CInterfaceTest, RecordsWithALengthBeyondTheRecordAreRefused) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|")).Expect(Z("x|9|zn \"USER\"")).Send(Z("<OK>|"));
  peer.Start();
  Create(peer.Port());
  ASSERT_EQ(lib_.open(handle_), 1);
  auto bad = Record("w 1");
  bad->len = KOVRA_STR_MAX + 1;
  auto good = Record("x");
  const std::string refused = "Bad argument: the length of ";
  EXPECT_EQ(lib_.execute(handle_, bad.get()), 0);
  EXPECT_EQ(LastError(), refused + "code is more than a record holds.");
  EXPECT_EQ(lib_.executeOutput(handle_, bad.get()), 0);
  EXPECT_EQ(LastError(), refused + "code is more than a record holds.");
  EXPECT_EQ(lib_.read(handle_, bad.get(), good.get()), 0);
  EXPECT_EQ(LastError(), refused + "expression is more than a record holds.");
  EXPECT_EQ(lib_.write(handle_, good.get(), bad.get()), 0);
  EXPECT_EQ(LastError(), refused + "value is more than a record holds.");
  EXPECT_EQ(lib_.kill(handle_, bad.get()), 0);
  EXPECT_EQ(LastError(), refused + "name is more than a record holds.");
  EXPECT_EQ(Text(*good), "x");
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

// A server message whose identifier is not a number fails its command, and
// the rest of that command (values, messages to acknowledge, a call-back
// awaiting its answer, the end) is read before the failure is reported: the next read gets its own
// value, not the failed command's.
TEST_F(CInterfaceTest, FailedCommandLeavesNoReplyForTheNextOne) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("x|1|m"))
      .Send(Z("<ONMSGCALLBACK>hello:|<GO ON>:5|stale<ONMSGCALLBACK>7:x|<ONMSGCALLBACK>y:z|"))
      .Expect(Z("<CALLBACK>7:0|"))
      .Send(Z("<CALLBACK>f:1|c"))
      .Expect(Z("c|0|"))
      .Send(Z("<GO ON>:6|stale2<OK>|"))
      .Expect(Z("r|7|\"fresh\""))
      .Send(Z("<GO ON>:5|fresh<OK>|"));
  peer.Start();
  Create(peer.Port());
  lib_.setGroupRead(handle_, OnGroup);
  lib_.setCallback(handle_, OnCommand);
  ASSERT_EQ(lib_.open(handle_), 1);
  seen.groups.clear();
  auto m = Record("m");
  EXPECT_EQ(lib_.execute(handle_, m.get()), 0);
  EXPECT_EQ(LastError(), "'hello' is not a valid integer value");
  EXPECT_TRUE(seen.groups.empty());
  EXPECT_TRUE(seen.commands.empty());
  auto fresh = Record("\"fresh\"");
  auto value = Record("");
  EXPECT_EQ(lib_.read(handle_, fresh.get(), value.get()), 1);
  EXPECT_EQ(Text(*value), "fresh");
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");
}

class TraceTest : public CInterfaceTest {
 protected:
  void SetUp() override {
    CInterfaceTest::SetUp();
    char pattern[] = "/tmp/kovra-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/wire.trace";
  }
  void TearDown() override {
    CInterfaceTest::TearDown();
    ::unsetenv("KOVRA_TRACE");
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  std::vector<std::string> TraceLines() {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The line without its time and handle: direction and bytes.
  std::string Event(const std::string& line) {
    static const std::regex kLine(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z (0x[0-9a-f]+) ([<>!]) (.*)$)");
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) return "malformed: " + line;
    std::ostringstream handle;
    handle << handle_;
    EXPECT_EQ(m[1].str(), handle.str());
    return m[2].str() + " " + m[3].str();
  }
  std::string dir_;
  std::string path_;
};

// The trace holds every request as sent and every reply as framed, bytes
// outside the printable range escaped, the password of a %password write
// masked; the file is private to its owner.
TEST_F(TraceTest, TraceShowsTheWireWithThePasswordMasked) {
  ::setenv("KOVRA_TRACE", path_.c_str(), 1);
  ScriptedPeer peer;
  peer.Send(Z("<OK>:job|"))
      .Expect(Z("x|9|zn \"USER\""))
      .Send(Z("<OK>|"))
      .Expect(Z("w|9|%password6|secret"))
      .Send(Z("<OK>|"))
      .Expect(Z("t|3|w 1"))
      .Send(Z("1\\\x7f|<OK>|"));
  peer.Start();
  Create(peer.Port());
  ASSERT_EQ(lib_.open(handle_), 1);
  auto name = Record("%password");
  auto password = Record("secret");
  EXPECT_EQ(lib_.write(handle_, name.get(), password.get()), 1);
  auto code = Record("w 1");
  EXPECT_EQ(lib_.executeOutput(handle_, code.get()), 1);
  EXPECT_EQ(lib_.close(handle_), 1);
  EXPECT_EQ(peer.Finish(), "");

  std::vector<std::string> events;
  for (const std::string& line : TraceLines()) events.push_back(Event(line));
  const std::string open = "! open 127.0.0.1:" + std::to_string(peer.Port());
  EXPECT_EQ(events, (std::vector<std::string>{open, "< <OK>:job\\x00",
                                              "> x\\x009\\x00zn \"USER\"", "< <OK>\\x00",
                                              "> w\\x009\\x00%password6\\x00***", "< <OK>\\x00",
                                              "> t\\x003\\x00w 1", "< 1\\x5C\\x7F",
                                              "< <OK>\\x00", "! close"}));
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A trace file that cannot be opened is reported once on standard error,
// however many connections ask for it, and the connections work without it.
TEST_F(TraceTest, UnopenableTraceIsReportedOnceAndTheConnectionWorks) {
  const std::string missing = dir_ + "/no/such/folder/trace";
  ::setenv("KOVRA_TRACE", missing.c_str(), 1);
  const std::string errPath = dir_ + "/stderr";
  const int saved = ::dup(STDERR_FILENO);
  const int capture = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(capture, 0);
  ::dup2(capture, STDERR_FILENO);
  for (int i = 0; i < 2; ++i) {
    ScriptedPeer peer;
    peer.Send(Z("<OK>:job|")).Expect(Z("x|9|zn \"USER\"")).Send(Z("<OK>|"));
    peer.Start();
    Create(peer.Port());
    EXPECT_EQ(lib_.open(handle_), 1);
    EXPECT_EQ(lib_.close(handle_), 1);
    lib_.destroy(handle_);
    handle_ = nullptr;
    EXPECT_EQ(peer.Finish(), "");
  }
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(capture);
  std::ifstream in(errPath);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ::unlink(errPath.c_str());
  EXPECT_EQ(text, "kovrasc: cannot open the trace file " + missing + ": No such file or directory\n");
}

}  // namespace
