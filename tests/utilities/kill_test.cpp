// kvrdbkill: what is deleted for each type, asking at a terminal, and names
// that must never reach an M line.
#include "tool_fixture.h"

namespace kvrtest {
namespace {

class KillTest : public ToolTest {
 protected:
  void StoreInt(const std::string& name) {
    StoreRoutine("^ROUTINE", name, {name + " ; int"});
    M("s ^rOBJ(\"" + name + "\")=1");
  }
  // Which of the four globals hold the routine, e.g. "1100".
  std::string Where(const std::string& name) {
    std::string where;
    for (const char* g : {"^rMAC", "^ROUTINE", "^rOBJ", "^rINC"})
      where += Exists(std::string(g) + "(\"" + name + "\")");
    return where;
  }
};

TEST_F(KillTest, WithoutTerminalEveryMatchIsDeletedWithItsMessages) {
  StoreInt("i1");
  StoreRoutine("^rMAC", "m1", {"m1 ; mac"});
  StoreInt("m1");
  StoreRoutine("^rINC", "k1", {"k1 ; inc"});
  StoreInt("k1");
  const RunResult r = Run("kvrdbkill", {"i*,m*.mac,k*.inc"});
  EXPECT_EQ(r.out,
            "Routine i1.INT removed.\nRoutine i1.obj removed.\n"
            "Routine k1.inc removed.\n"
            "Routine m1.mac removed.\nRoutine m1.int removed.\nRoutine m1.obj removed.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Where("i1"), "0000");
  EXPECT_EQ(Where("m1"), "0000");
  EXPECT_EQ(Where("k1"), "0110");  // only the include file went
}

TEST_F(KillTest, NoMaskAndNoMatch) {
  RunResult r = Run("kvrdbkill", {});
  EXPECT_EQ(r.out, "Routines for removing does not specified.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\nKill routines in the database.\n"));
  EXPECT_EQ(r.status, 255);
  r = Run("kvrdbkill", {"nosuch*"});
  EXPECT_EQ(r.out, "No routines matched mask was found.\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(KillTest, NamesThatWouldBreakOutOfTheMLineAreSkipped) {
  StoreInt("keep");
  StoreInt("x1");
  M("s ^ROUTINE(\"x\"\"),^ROUTINE(\"\"keep\")=1,^ROUTINE(\"x/..\")=1");
  const RunResult r = Run("kvrdbkill", {"x*"});
  EXPECT_EQ(r.err,
            "Skipping routine x\"),^ROUTINE(\"keep.INT: not a valid routine name.\n"
            "Skipping routine x/...INT: not a valid routine name.\n");
  EXPECT_EQ(r.out, "Routine x1.INT removed.\nRoutine x1.obj removed.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Where("keep"), "0110");
  EXPECT_EQ(Exists("^ROUTINE(\"x/..\")"), "1");
}

class KillAtTerminalTest : public KillTest {
 protected:
  void SetUp() override {
    KillTest::SetUp();
    for (const char* name : {"r1", "r2", "r3", "r4"}) StoreInt(name);
  }
  std::string Remaining() {
    std::string left;
    for (const char* name : {"r1", "r2", "r3", "r4"}) left += Exists(std::string("^ROUTINE(\"") + name + "\")");
    return left;
  }
};

TEST_F(KillAtTerminalTest, AnswersNoYesAllTypedAhead) {
  auto session = StartAtTerminal("kvrdbkill", {"r*"});
  ASSERT_TRUE(session->waitFor("Kill routine r1.INT? [ Yes | No | All | Stop ] : "));
  session->send("nya\n");
  EXPECT_EQ(session->finish(), 0);
  const std::string& out = session->output();
  EXPECT_NE(out.find("Kill routine r2.INT?"), std::string::npos);
  EXPECT_NE(out.find("Kill routine r3.INT?"), std::string::npos);
  EXPECT_EQ(out.find("Kill routine r4.INT?"), std::string::npos) << out;  // All: no more asking
  EXPECT_NE(out.find("Routine r4.obj removed."), std::string::npos) << out;
  EXPECT_EQ(Remaining(), "1000");
}

// A wrong letter asks again, once: the Enter after it brings no prompt.
TEST_F(KillAtTerminalTest, OtherCharactersAskAgainOnce) {
  auto session = StartAtTerminal("kvrdbkill", {"r1"});
  const std::string prompt = "Kill routine r1.INT? [ Yes | No | All | Stop ] : ";
  ASSERT_TRUE(session->waitFor(prompt));
  session->send("x\n");
  ASSERT_TRUE(session->waitFor(prompt + "x\r\n" + prompt));
  session->send("Y\n");
  EXPECT_EQ(session->finish(), 0);
  EXPECT_EQ(session->output(),
            prompt + "x\r\n" + prompt + "Y\r\nRoutine r1.INT removed.\r\nRoutine r1.obj removed.\r\n");
  EXPECT_EQ(Remaining(), "0111");
}

// Answered one at a time with Enter, as a person types: every question is
// asked exactly once.
TEST_F(KillAtTerminalTest, EachQuestionIsAskedOnceWhenAnswersEndWithEnter) {
  auto session = StartAtTerminal("kvrdbkill", {"r*"});
  const auto prompt = [](const char* name) {
    return std::string("Kill routine ") + name + ".INT? [ Yes | No | All | Stop ] : ";
  };
  ASSERT_TRUE(session->waitFor(prompt("r1")));
  session->send("n\n");
  ASSERT_TRUE(session->waitFor(prompt("r2")));
  session->send("y\n");
  ASSERT_TRUE(session->waitFor(prompt("r3")));
  session->send("N\n");
  ASSERT_TRUE(session->waitFor(prompt("r4")));
  session->send("s\n");
  EXPECT_EQ(session->finish(), 0);
  EXPECT_EQ(session->output(), prompt("r1") + "n\r\n" + prompt("r2") +
                                   "y\r\nRoutine r2.INT removed.\r\nRoutine r2.obj removed.\r\n" + prompt("r3") +
                                   "N\r\n" + prompt("r4") + "s\r\n");
  EXPECT_EQ(Remaining(), "1011");
}

TEST_F(KillAtTerminalTest, StopDeletesNothingMore) {
  auto session = StartAtTerminal("kvrdbkill", {"r*"});
  ASSERT_TRUE(session->waitFor("Kill routine r1.INT?"));
  session->send("ys\n");
  EXPECT_EQ(session->finish(), 0);
  EXPECT_EQ(Remaining(), "0111");
}

TEST_F(KillAtTerminalTest, EndOfInputAtThePromptStops) {
  auto session = StartAtTerminal("kvrdbkill", {"r*"});
  ASSERT_TRUE(session->waitFor("Kill routine r1.INT?"));
  session->sendEndOfFile();
  EXPECT_EQ(session->finish(), 0);
  EXPECT_EQ(Remaining(), "1111");
}

TEST_F(KillAtTerminalTest, LostConnectionIsReportedWithStatus1) {
  auto session = StartAtTerminal("kvrdbkill", {"r*"});
  ASSERT_TRUE(session->waitFor("Kill routine r1.INT?"));
  server_->kill();
  session->send("y\n");
  EXPECT_EQ(session->finish(), 1);
  const std::string& out = session->output();
  EXPECT_NE(out.find("Socket is not connected.\r\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Routine r1.INT removed."), std::string::npos) << out;
}

}  // namespace
}  // namespace kvrtest
