// JOB starts a routine as a job of its own inside the server; BREAK does
// nothing.
#include <fstream>
#include <sstream>

#include "engine_test_support.h"
#include "server_impl.h"

namespace mengine::test {
namespace {

class JobCommandTest : public EngineTest {
 protected:
  JobCommandTest() : EngineTest(withDirectory(dir_, nullptr)) {}

  void SetUp() override {
    storeRoutine("BG", {
        "BG ;",
        "RUN(n,v) s ^BG(n)=$j_\",\"_$d(x)_\",\"_v_\",\"_$p q",
        "LOCK l +^BGL(1) s ^BG(\"locked\")=1 q",
        "WAIT l +^GO:0 s ^BG(\"got\")=$t q",
        "OUT w \"from the job\",! h",
        "BAD s ^BG(\"bad\")=1 w 1/0 s ^BG(\"after\")=1 q",
        "LOOP f  h 1",
    });
  }
  void waitForJobs() { server_.impl().background.waitUntilIdle(); }

  static inline TempDir dir_;
};

TEST_F(JobCommandTest, RunsTheRoutineAsANewJob) {
  run("k ^BG s x=1 j RUN^BG(1,\"v\")");
  waitForJobs();
  std::string result = eval("^BG(1)");
  // Its own $JOB and locals; a principal device of its own.
  EXPECT_NE(eval("$p(^BG(1),\",\")"), "7") << result;
  EXPECT_EQ(eval("$p(^BG(1),\",\",2,3)"), "0,v") << result;
  EXPECT_EQ(eval("$p(^BG(1),\",\",4)"), "|TCP|" + eval("$p(^BG(1),\",\")")) << result;
  // The timeout form sets $TEST.
  run("i 0");
  run("j RUN^BG(2,\"w\")::5");
  EXPECT_EQ(eval("$t"), "1");
  run("s r=\"RUN^BG(3,4)\" j @r");
  waitForJobs();
  EXPECT_EQ(eval("$p(^BG(2),\",\",3)_$p(^BG(3),\",\",3)"), "w4");
}

TEST_F(JobCommandTest, HasItsOwnLocksAndDatabase) {
  run("k ^BG j LOCK^BG");
  waitForJobs();
  EXPECT_EQ(eval("^BG(\"locked\")"), "1");
  // The job's locks end with it.
  run("l +^BGL(1):0");
  EXPECT_EQ(eval("$t"), "1");
  run("l  l +^GO j WAIT^BG");
  waitForJobs();
  EXPECT_EQ(eval("^BG(\"got\")"), "0");
  run("l ");
  // It starts in the database of the job that started it.
  run("zn \"USER\"");
  storeRoutine("DBR", {"DBR s ^BG(\"db\")=1 q"});
  run("k ^BG j ^DBR");
  waitForJobs();
  EXPECT_EQ(eval("$g(^BG(\"db\"))"), "1");
  run("zn \"%SYS\"");
  EXPECT_EQ(eval("$d(^BG(\"db\"))"), "0");
}

TEST_F(JobCommandTest, WritesToAFileInTheServerDirectory) {
  run("j OUT^BG:(OUTPUT=\"job.out\")");
  waitForJobs();
  std::ifstream in(dir_.path() + "/job.out");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "from the job\r\n");
  EXPECT_EQ(errorOf("j OUT^BG:(OUTPUT=\"../x\")"), "<DEVICE> *../x cannot be opened");
}

TEST_F(JobCommandTest, RefusesWhatTheJobCouldNotRun) {
  EXPECT_EQ(errorOf("j NOPE^BG"), "<NOLINE> *NOPE^BG");
  EXPECT_EQ(errorOf("j ^NOROUTINE"), "<NOROUTINE> *NOROUTINE");
  EXPECT_EQ(errorOf("s a=1 j RUN^BG(.a)"), "<PARAMETER>");
  // An error ends the job; the server goes on.
  run("k ^BG j BAD^BG");
  waitForJobs();
  EXPECT_EQ(eval("$d(^BG(\"bad\"))_$d(^BG(\"after\"))"), "10");
}

TEST(JobCommandStopTest, TheServerStopsItsJobs) {
  auto server = std::make_unique<Server>(ServerOptions{});
  {
    Job job(*server, 1);
    RecordingIo io;
    job.set("^ROUTINE(\"L\",1)", "L f  h 1", io);
    job.set("^ROUTINE(\"L\")", "1,0", io);
    job.execute("j L^L::1", io);
    EXPECT_EQ(job.evaluate("$t", io), "1");
  }
  // Destroying the server ends the endless job instead of waiting forever.
  server.reset();
}

TEST_F(JobCommandTest, BreakDoesNothing) {
  EXPECT_EQ(output("w 1 b  w 2 b 1,\"x\" w 3"), "123");
}

}  // namespace
}  // namespace mengine::test
