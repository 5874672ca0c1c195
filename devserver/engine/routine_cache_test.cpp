// The parsed routines shared by the jobs of a server: every way ^ROUTINE
// changes is seen by the next call, and the budget drops the routines used
// least recently.
#include <thread>

#include "engine_test_support.h"
#include "../src/server_impl.h"

namespace mengine::test {
namespace {

class RoutineCacheTest : public EngineTest {
 protected:
  // The value A^R returns, after it is parsed and cached.
  std::string callR() { return eval("$$A^R"); }
  Database& sys() { return *server_.impl().find("%SYS"); }
};

TEST_F(RoutineCacheTest, SeesEveryChangeOfTheRoutineGlobalAtTheNextCall) {
  storeRoutine("R", {"R ;", "A() q 1"});
  storeRoutine("S", {"S ;", "A() q \"s\""});
  EXPECT_EQ(callR(), "1");
  // SET of one line, by M and by the job's own write request.
  run("s ^ROUTINE(\"R\",2)=\"A() q 2\"");
  EXPECT_EQ(callR(), "2");
  job_.set("^ROUTINE(\"R\",2)", "A() q 3", io_);
  EXPECT_EQ(callR(), "3");
  EXPECT_EQ(eval("$t(A^R)"), "A() q 3");
  // $INCREMENT of a line: the label is gone.
  run("s ^ROUTINE(\"R\",2)=4 i $i(^ROUTINE(\"R\",2))");
  EXPECT_EQ(evalError("$$A^R"), "<NOLINE> *A^R");
  // MERGE over it, from another routine.
  run("k ^ROUTINE(\"R\") m ^ROUTINE(\"R\")=^ROUTINE(\"S\")");
  EXPECT_EQ(callR(), "s");
  // KILL of the routine and of the whole global.
  run("k ^ROUTINE(\"R\")");
  EXPECT_EQ(evalError("$$A^R"), "<NOROUTINE> *R");
  storeRoutine("R", {"R ;", "A() q 5"});
  EXPECT_EQ(callR(), "5");
  run("k ^ROUTINE");
  EXPECT_EQ(evalError("$$A^R"), "<NOROUTINE> *R");
}

TEST_F(RoutineCacheTest, SeesRollbackAndJournalReplay) {
  storeRoutine("R", {"R ;", "A() q 1"});
  EXPECT_EQ(callR(), "1");
  run("tstart  s ^ROUTINE(\"R\",2)=\"A() q 2\"");
  EXPECT_EQ(callR(), "2");
  run("trollback");
  EXPECT_EQ(callR(), "1");
  server_.replaySet("%SYS", "ROUTINE", {"R", "2"}, "A() q 6");
  EXPECT_EQ(callR(), "6");
  server_.replayKill("%SYS", "ROUTINE", {"R"});
  EXPECT_EQ(evalError("$$A^R"), "<NOROUTINE> *R");
  // A routine that appears after a call found none.
  server_.replaySet("%SYS", "ROUTINE", {"R", "1"}, "A() q 7");
  EXPECT_EQ(callR(), "7");
}

TEST_F(RoutineCacheTest, ParsesARoutineOnceForEveryJob) {
  storeRoutine("R", {"R ;", "A() q 1", "B() q $$A+1"});
  storeRoutine("OTHER", {"OTHER q"});
  size_t loads = sys().routines.loads();
  Job second(server_, 8);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(eval("$$B^R"), "2");
    EXPECT_EQ(second.evaluate("$$A^R+$t(+2^R)", io_), "1");
  }
  // Changes to another routine leave this one parsed.
  run("s ^ROUTINE(\"OTHER\",1)=\"OTHER q  ;\"");
  EXPECT_EQ(eval("$$B^R"), "2");
  EXPECT_EQ(sys().routines.loads(), loads + 1);
}

TEST_F(RoutineCacheTest, FindsPercentRoutinesOfTheSystemDatabase) {
  storeRoutine("%RT", {"%RT() q \"sys\""});
  run("zn \"USER\"");
  EXPECT_EQ(eval("$$^%RT"), "sys");
  // One of the user's own, stored later, hides the system's.
  storeRoutine("%RT", {"%RT() q \"user\""});
  EXPECT_EQ(eval("$$^%RT"), "user");
  run("k ^ROUTINE(\"%RT\")");
  EXPECT_EQ(eval("$$^%RT"), "sys");
}

TEST_F(RoutineCacheTest, RaisesTheErrorOfALineThatDoesNotParseWhenItRuns) {
  storeRoutine("R", {"R ;", "A() q 1", "B w 1,(2", " q"});
  EXPECT_EQ(callR(), "1");
  EXPECT_EQ(errorOf("d B^R"), "<SYNTAX>B^R");
  EXPECT_EQ(eval("$t(B^R)"), "B w 1,(2");
}

TEST_F(RoutineCacheTest, KeepsTheRoutinesUsedRecentlyWithinItsBudget) {
  for (const char* name : {"A", "B", "C", "D", "E"}) storeRoutine(name, {std::string(name) + " q 1"});
  auto sizeOf = [&](const char* name) { return sys().routines.get(sys(), name)->bytes; };
  RoutineCache cache(sizeOf("A") * 3);
  auto get = [&](const char* name) { return cache.get(sys(), name) != nullptr; };
  ASSERT_TRUE(get("A"));
  ASSERT_TRUE(get("B"));
  ASSERT_TRUE(get("C"));
  EXPECT_EQ(cache.loads(), 3u);
  // A is used again, so D pushes B out, and E pushes C out.
  ASSERT_TRUE(get("A"));
  ASSERT_TRUE(get("D"));
  ASSERT_TRUE(get("A"));
  ASSERT_TRUE(get("E"));
  EXPECT_EQ(cache.loads(), 5u);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_LE(cache.bytes(), sizeOf("A") * 3);
  ASSERT_TRUE(get("A"));
  ASSERT_TRUE(get("D"));
  EXPECT_EQ(cache.loads(), 5u);
  ASSERT_TRUE(get("B"));
  EXPECT_EQ(cache.loads(), 6u);
  // A routine larger than the whole budget runs but is not kept.
  storeRoutine("BIG", {"BIG q 1", " q 2", " q 3", " q 4"});
  ASSERT_TRUE(get("BIG"));
  ASSERT_TRUE(get("BIG"));
  EXPECT_EQ(cache.loads(), 8u);
  EXPECT_EQ(cache.size(), 3u);
}

TEST_F(RoutineCacheTest, JobsOnSeveralThreadsShareRoutinesWhileTheyChange) {
  storeRoutine("R", {"R ;", "A() q 1"});
  std::vector<std::thread> threads;
  std::vector<std::string> errors(2);
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      Job job(server_, 20 + t);
      RecordingIo io;
      for (int i = 0; i < 300; ++i) {
        std::string v = job.evaluate("$$A^R", io);
        if (v != "1" && v != "2") errors[static_cast<size_t>(t)] = v;
      }
    });
  }
  for (int i = 0; i < 100; ++i) run(i % 2 ? "s ^ROUTINE(\"R\",2)=\"A() q 1\"" : "s ^ROUTINE(\"R\",2)=\"A() q 2\"");
  for (auto& th : threads) th.join();
  EXPECT_EQ(errors, std::vector<std::string>(2));
  run("s ^ROUTINE(\"R\",2)=\"A() q 3\"");
  EXPECT_EQ(callR(), "3");
}

}  // namespace
}  // namespace mengine::test
