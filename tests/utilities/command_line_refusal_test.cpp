// What the command line refuses, and that it refuses it before anything is
// dialled: an unknown option, an option without its value, a value that an
// option does not take, a missing file or mask argument. And what it must
// still accept: the values of -m and -b in any letter case, and several
// lines for kvrdbexec, each run in turn.
#include <poll.h>
#include <unistd.h>

#include "loopback_socket.h"
#include "tool_fixture.h"

namespace kvrtest {
namespace {

// The settings name a port where something listens but never answers: a
// utility that dialled would be seen there (and would wait for a greeting
// that never comes).
class RefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = listenOnLoopback(port_);
    ASSERT_GE(listener_, 0);
    dir_.addLibrary();
    writeSettings(dir_, port_);
  }
  void TearDown() override {
    if (listener_ >= 0) ::close(listener_);
  }

  RunResult Run(const std::string& tool, const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = dir_.path();
    options.timeout = std::chrono::seconds(10);
    RunResult result = runTool(toolPath(tool), args, options);
    EXPECT_FALSE(result.timedOut) << tool << " waited: it must have dialled";
    return result;
  }

  // True when a connection reached the listener (it stays queued there even
  // after the utility has gone).
  bool Dialled() const {
    pollfd ready{listener_, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
  }

  // The run was refused: message (if any) on standard error before the usage
  // text, whose first two lines are given; status 255; nothing dialled.
  void ExpectRefused(const RunResult& r, const std::string& message, const std::string& usageStart) {
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_TRUE(r.err.starts_with(message + "Kovra CommandLine Tools.\n" + usageStart)) << r.err;
    EXPECT_FALSE(Dialled());
  }

  TempDir dir_;
  int listener_ = -1;
  int port_ = 0;
};

constexpr const char* kExecUsage = "Execute one or series of line[s] of MUMPS commands.\n";
constexpr const char* kExportUsage = "Export routines from the database.\n";
constexpr const char* kImportUsage = "Import routines from files with compilation.\n";

TEST_F(RefusalTest, UnknownOptionIsRefusedAndEatsNothing) {
  // Once "-x foo" took foo along and the line ran as if nothing was amiss.
  RunResult r = Run("kvrdbro", {"-x", "foo", "HELLO"});
  EXPECT_EQ(r.out, "");
  ExpectRefused(r, "Unknown option -x.\n", kExportUsage);

  ExpectRefused(Run("kvrdbexec", {"w 1", "--port", "5000"}), "Unknown option --port.\n", kExecUsage);
  ExpectRefused(Run("kvrdbri", {"-", "a.int"}), "Unknown option -.\n", kImportUsage);
  ExpectRefused(Run("kvrdbkill", {"-serv", "127.0.0.1", "r*"}), "Unknown option -serv.\n",
                "Kill routines in the database.\n");
}

TEST_F(RefusalTest, ValueThatAnOptionDoesNotTakeIsRefused) {
  const std::string modes = "takes all, update or changed, not ";
  ExpectRefused(Run("kvrdbro", {"-m", "chnaged", "r*"}), "Option -m " + modes + "'chnaged'.\n", kExportUsage);
  // kvrdbri alone also watches.
  const std::string importModes = "takes all, update, changed or watch, not ";
  ExpectRefused(Run("kvrdbri", {"a.int", "-MODE", "al"}), "Option -MODE " + importModes + "'al'.\n", kImportUsage);
  ExpectRefused(Run("kvrdbri", {"-m", "", "a.int"}), "Option -m " + importModes + "''.\n", kImportUsage);
  ExpectRefused(Run("kvrdbro", {"-b", "yes", "r*"}), "Option -b takes on or off, not 'yes'.\n", kExportUsage);
  // Every utility reads the same options, so each refuses the same values.
  ExpectRefused(Run("kvrdbexec", {"-bulk", "1", "w 1"}), "Option -bulk takes on or off, not '1'.\n", kExecUsage);
}

TEST_F(RefusalTest, OptionWithoutItsValueIsRefused) {
  ExpectRefused(Run("kvrdbexec", {"w 1", "-d"}), "Option -d needs a value.\n", kExecUsage);
  ExpectRefused(Run("kvrdbro", {"r*", "-m"}), "Option -m needs a value.\n", kExportUsage);
}

TEST_F(RefusalTest, HelpStillWinsOverAWordNotUnderstood) {
  const RunResult r = Run("kvrdbexec", {"-x", "-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.err.starts_with(std::string("Kovra CommandLine Tools.\n") + kExecUsage)) << r.err;
  EXPECT_FALSE(Dialled());
}

// Without its file or mask argument a utility says so on standard output,
// shows its usage text and fails, all before dialling.
TEST_F(RefusalTest, MissingArgumentFailsBeforeDialling) {
  struct Case {
    const char* tool;
    const char* message;
    const char* usageStart;
  };
  const Case cases[] = {
      {"kvrdbexec", "Nothing to execute.\n", kExecUsage},
      {"kvrdbri", "Routines for import does not specified.\n", kImportUsage},
      {"kvrdbrigtm", "Routines for import does not specified.\n", ""},
      {"kvrdbrirsa", "Routines for import does not specified.\n", ""},
      {"kvrdbro", "Routine mask for export need to be specified.\n", kExportUsage},
      {"kvrdbrogtm", "Routines for export does not specified.\n", ""},
      {"kvrdbrorsa", "Routines for export does not specified.\n", ""},
      {"kvrdbrostd", "Routines for export does not specified.\n", ""},
      {"kvrdbkill", "Routines for removing does not specified.\n", "Kill routines in the database.\n"},
      {"kvrdbcompile", "Routines for compilation does not specified.\n",
       "Compile one or more routines in database.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    const RunResult r = Run(c.tool, {"-m", "all"});
    EXPECT_EQ(r.out, c.message);
    ExpectRefused(r, "", c.usageStart);
  }
}

class AcceptedCommandLineTest : public ToolTest {};

// A parser that refused everything would pass the tests above: these lines
// must reach the server.
TEST_F(AcceptedCommandLineTest, ValuesOfModeAndBulkCountInAnyLetterCase) {
  const RunResult r = Run("kvrdbexec", {"-m", "CHANGED", "-B", "On", "-Mode", "update", "-b", "OFF", "-m", "All",
                                        "w 6*7"});
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);

  StoreRoutine("^ROUTINE", "r1", {"r1 ; stored"});
  const RunResult exported = Run("kvrdbro", {"-M", "Changed", "-b", "on", "r1"});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(dir_.read("r1.int"), "r1 ; stored\n");
}

TEST_F(AcceptedCommandLineTest, ExecRunsEveryLineArgumentInOrderOnOneConnection) {
  // A second line once was dropped without a word.
  RunResult r = Run("kvrdbexec", {"s a=1", "w a+1", "-d", "USER", "w \"|\",a*3"});
  EXPECT_EQ(r.out, "2|3");
  EXPECT_EQ(r.status, 0);

  dir_.write("lines.m", "w \"f\"\nw a\n");
  r = Run("kvrdbexec", {"s a=\"x\"", "@lines.m", "w \"|\""});
  EXPECT_EQ(r.out, "fx|");
  EXPECT_EQ(r.status, 0);
}

TEST_F(AcceptedCommandLineTest, FailingLineAmongSeveralIsReportedAndTheRestStillRun) {
  const RunResult r = Run("kvrdbexec", {"w 1", "w 1/0", "w 3"});
  EXPECT_EQ(r.out, "13");
  EXPECT_TRUE(r.err.starts_with("\nError while execute line\nw 1/0\n")) << r.err;
  EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace kvrtest
