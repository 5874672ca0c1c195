// kvrdbexec: one line, lines of a file, failing lines, a lost connection.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_fixture.h"

namespace kvrtest {
namespace {

class ExecTest : public ToolTest {};

TEST_F(ExecTest, OneLineShowsTheServersOutputUnchanged) {
  const RunResult r = Run("kvrdbexec", {"w 1+1,!,\"x\""});
  EXPECT_EQ(r.out, "2\r\nx");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ExecTest, FailingLineIsReportedAndEndsWithStatus1) {
  const RunResult r = Run("kvrdbexec", {"w nosuch"});
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("\nError while execute line\nw nosuch\nInternal server error:")) << r.err;
  EXPECT_TRUE(r.err.ends_with("\n"));
  EXPECT_EQ(r.status, 1);
}

TEST_F(ExecTest, FileLinesRunInOrderTrimmedWhateverTheLineEnds) {
  dir_.write("crlf.m", "s a=1\r\n\t  w a\r\n  s a=a+1 \r\nw \",\",a\r\n");
  dir_.write("lf.m", "s a=1\n\t  w a\n  s a=a+1 \nw \",\",a");  // no final line feed
  for (const char* file : {"crlf.m", "lf.m"}) {
    const RunResult r = Run("kvrdbexec", {std::string("@") + file});
    EXPECT_EQ(r.out, "1,2") << file;
    EXPECT_EQ(r.err, "") << file;
    EXPECT_EQ(r.status, 0) << file;
  }
}

TEST_F(ExecTest, FailingFileLineDoesNotStopTheRest) {
  dir_.write("lines.m", "w 1\nw nosuch\n\nw 2\n");
  const RunResult r = Run("kvrdbexec", {"@lines.m"});
  EXPECT_EQ(r.out, "12");
  EXPECT_TRUE(r.err.starts_with("\nError while execute line\nw nosuch\n")) << r.err;
  EXPECT_EQ(r.status, 1);
}

TEST_F(ExecTest, EmptyFileRunsNothing) {
  dir_.write("empty.m", "");
  const RunResult r = Run("kvrdbexec", {"@empty.m"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ExecTest, MissingFileIsReportedWithTheTrimmedName) {
  const RunResult r = Run("kvrdbexec", {"@  nofile.m "});
  EXPECT_TRUE(r.err.starts_with("Error while opening file nofile.m.\nKovra CommandLine Tools.\n")) << r.err;
  EXPECT_EQ(r.status, 1);
  // Blanks around the name still find an existing file.
  dir_.write("f.m", "w 5\n");
  EXPECT_EQ(Run("kvrdbexec", {"@ f.m  "}).out, "5");
}

TEST_F(ExecTest, OverlongFileLineIsNeverRunInPieces) {
  // Split, the rest "w 2" would run as a command of its own.
  const std::string first = "w 1 ;" + std::string(32767 - 5, 'x');
  dir_.write("long.m", first + "w 2\nw 3\n");
  const RunResult r = Run("kvrdbexec", {"@long.m"});
  EXPECT_EQ(r.out, "3");
  EXPECT_TRUE(r.err.ends_with("\nNot sent: a text of 32770 bytes does not fit in one call (at most 32768 bytes).\n"))
      << r.err.substr(r.err.size() > 200 ? r.err.size() - 200 : 0);
  EXPECT_EQ(r.status, 1);
}

TEST_F(ExecTest, NoArgumentSaysNothingToExecuteAndFails) {
  const RunResult r = Run("kvrdbexec", {"-d", "USER"});
  EXPECT_EQ(r.out, "Nothing to execute.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\n"));
  EXPECT_EQ(r.status, 255);
}

TEST_F(ExecTest, LostConnectionIsReportedAndStopsTheRun) {
  // The lines come through a pipe, so the server can be ended between them.
  const std::string fifo = dir_.file("lines.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // never blocks, keeps the pipe open
  ASSERT_GE(writer, 0);
  auto session = StartAtTerminal("kvrdbexec", {"@lines.fifo"});
  const std::string first = "w \"first done\"\n";
  ASSERT_EQ(write(writer, first.data(), first.size()), static_cast<ssize_t>(first.size()));
  ASSERT_TRUE(session->waitFor("first done"));
  server_->kill();
  const std::string rest = "w \"second\"\nw \"third\"\n";
  ASSERT_EQ(write(writer, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  close(writer);
  EXPECT_EQ(session->finish(), 1);
  const std::string& out = session->output();
  EXPECT_NE(out.find("Error while execute line\r\nw \"second\"\r\nSocket is not connected.\r\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("third"), std::string::npos) << out;
}

}  // namespace
}  // namespace kvrtest
