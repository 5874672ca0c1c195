// Transactions: changes are seen at once, journaled together when the
// outermost TCOMMIT runs, and undone by TROLLBACK, HALT or a job that ends
// with its transaction open.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

ServerOptions journaled(RecordingSink& sink) {
  ServerOptions o;
  o.journal = &sink;
  return o;
}

class TransactionTest : public EngineTest {
 protected:
  TransactionTest() : EngineTest(journaled(sink_)) {}
  RecordingSink sink_;
};

TEST_F(TransactionTest, JournalsACommittedTransactionWhole) {
  run("s ^T(0)=\"before\"");
  run("ts  s ^T(1)=1,^T(2)=2 k ^T(1) s x=$i(^T(3))");
  EXPECT_EQ(eval("$tl_$g(^T(2))_$d(^T(1))"), "120");
  EXPECT_EQ(sink_.records, (std::vector<std::string>{"S %SYS T|0=before"}));
  run("ts  zn \"USER\" s ^U=1 zn \"%SYS\" tc");
  EXPECT_EQ(sink_.records.size(), 1u);  // the inner commit journals nothing yet
  run("tc");
  EXPECT_EQ(sink_.records,
            (std::vector<std::string>{"S %SYS T|0=before", "S %SYS T|1=1", "S %SYS T|2=2",
                                      "K %SYS T|1", "S %SYS T|3=1", "S USER U=1"}));
  EXPECT_EQ(eval("$tl"), "0");
  EXPECT_EQ(errorOf("tc"), "<TRANSACTION> *none started");
}

TEST_F(TransactionTest, RollsBackEveryChange) {
  run("s ^R(1)=\"old\",^R(1,5)=\"kept\",^K(1)=1,^K(1,2)=2");
  size_t journaled = sink_.records.size();
  run("ts  s ^R(1)=\"new\",^R(2)=2,^R(1,6)=6 k ^K s ^K(9)=9 tro");
  EXPECT_EQ(eval("^R(1)_$d(^R(2))_$d(^R(1,6))_^R(1,5)_^K(1)_^K(1,2)_$d(^K(9))_$tl"),
            "old00kept1200");
  EXPECT_EQ(sink_.records.size(), journaled);
  // TROLLBACK to a level keeps what the outer levels did.
  run("ts  s ^P(1)=1 ts  s ^P(2)=2 tro 1");
  EXPECT_EQ(eval("$tl_$g(^P(1))_$d(^P(2))"), "110");
  run("tc");
  EXPECT_EQ(sink_.records.back(), "S %SYS P|1=1");
  EXPECT_EQ(errorOf("ts  tro 3"), "<TRANSACTION> *no level 3");
  run("tro");
}

TEST_F(TransactionTest, RollsBackWhatAnEndingJobLeftOpen) {
  {
    Job other(server_, 8);
    other.execute("ts  s ^J=1", io_);
    EXPECT_EQ(eval("$g(^J)"), "1");
  }
  EXPECT_EQ(eval("$d(^J)"), "0");
  run("ts  s ^H=1 h");
  EXPECT_TRUE(job_.halted());
  EXPECT_EQ(eval("$d(^H)_$tl"), "00");
  EXPECT_TRUE(sink_.records.empty());
}

}  // namespace
}  // namespace mengine::test
