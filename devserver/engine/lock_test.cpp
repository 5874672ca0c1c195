// LOCK between jobs: a node covers its descendants, counts nest, a plain
// LOCK replaces what a job holds, and a job's locks end with it.
#include <thread>

#include "engine_test_support.h"

namespace mengine::test {
namespace {

class LockTest : public EngineTest {
 protected:
  // Whether the other job gets the lock at once ($TEST after a zero timeout).
  std::string otherGets(const std::string& name) {
    other_.execute("l +" + name + ":0", otherIo_);
    std::string got = other_.evaluate("$t", otherIo_);
    if (got == "1") other_.execute("l -" + name, otherIo_);
    return got;
  }

  Job other_{server_, 8};
  RecordingIo otherIo_;
};

TEST_F(LockTest, CoversDescendantsAndAncestors) {
  run("l +^X(1)");
  EXPECT_EQ(otherGets("^X(1)"), "0");
  EXPECT_EQ(otherGets("^X(1,5)"), "0");
  EXPECT_EQ(otherGets("^X"), "0");
  EXPECT_EQ(otherGets("^X(2)"), "1");
  EXPECT_EQ(otherGets("^X(\"1\",2)"), "0");
  EXPECT_EQ(otherGets("X(1)"), "1");
  run("zn \"USER\" l +^X(1)");
  EXPECT_EQ(otherGets("^X(1)"), "0");
  run("l -^X(1) zn \"%SYS\" l -^X(1)");
  EXPECT_EQ(otherGets("^X(1)"), "1");
}

TEST_F(LockTest, CountsNestedLocksAndReplacesOnPlainLock) {
  run("l +^Y l +^Y:1 l -^Y");
  EXPECT_EQ(eval("$t"), "1");
  EXPECT_EQ(otherGets("^Y"), "0");
  run("l -^Y");
  EXPECT_EQ(otherGets("^Y"), "1");
  run("l +(^A,^B) l ^C");
  EXPECT_EQ(otherGets("^A") + otherGets("^B") + otherGets("^C"), "110");
  run("l");
  EXPECT_EQ(otherGets("^C"), "1");
}

TEST_F(LockTest, ReleasesWhenTheJobEnds) {
  {
    Job shortLived(server_, 9);
    shortLived.execute("l +^J", io_);
    EXPECT_EQ(otherGets("^J"), "0");
  }
  EXPECT_EQ(otherGets("^J"), "1");
}

TEST_F(LockTest, WakesAWaitingJobOnRelease) {
  run("l +^W");
  std::string got;
  std::thread waiter([&] {
    other_.execute("l +^W:600", otherIo_);
    got = other_.evaluate("$t", otherIo_);
  });
  run("l -^W");
  waiter.join();
  EXPECT_EQ(got, "1");
}

}  // namespace
}  // namespace mengine::test
