// Collation and the store: canonical numbers first in numeric order, then
// strings in byte order; $ORDER in both directions; $DATA; KILL pruning.
#include <thread>

#include "engine_test_support.h"
#include "number.h"
#include "tree.h"

namespace mengine::test {
namespace {

TEST(Collation, OrdersCanonicalNumbersBeforeStrings) {
  std::vector<std::string> sorted = {"-123456789012345678", "-10", "-2.5", "-1", "-.5", "0", ".25",
                                     "1", "2", "2.5", "10", "100", "99999999999999999",
                                     "123456789012345678", "1000000000000000000", " ", "-", "-0",
                                     ".", "01", "1.0", "12345678901234567890", "1E2", "A", "B",
                                     "a", "\xff"};
  Collate less;
  for (size_t i = 0; i < sorted.size(); ++i)
    for (size_t j = 0; j < sorted.size(); ++j)
      EXPECT_EQ(less(sorted[i], sorted[j]), i < j) << sorted[i] << " vs " << sorted[j];
}

TEST(Collation, RecognisesOnlyCanonicalNumbers) {
  for (const char* yes : {"0", "1", "-1", ".5", "-.5", "10.25", "123456789012345678"})
    EXPECT_TRUE(isCanonicalNumber(yes)) << yes;
  for (const char* no : {"", "-", "-0", "01", "0.5", "1.", "1.50", "+1", "1E2", " 1", "1 ", "."})
    EXPECT_FALSE(isCanonicalNumber(no)) << no;
}

TEST(Store, KillPrunesEmptyAncestorsSoOrderSkipsThem) {
  Node root;
  setValue(root, {"a", "1", "x"}, "v");
  setValue(root, {"b"}, "w");
  killNode(root, {"a", "1", "x"});
  EXPECT_EQ(dataOf(root, {"a"}), 0);
  EXPECT_EQ(orderOf(root, {""}, true), "b");
}

using StoreTest = EngineTest;

TEST_F(StoreTest, WalksRoutineLinesInNumericOrder) {
  for (int i = 0; i <= 12; ++i) job_.set("^ROUTINE(\"R\"," + std::to_string(i) + ")", "x", io_);
  job_.set("^ROUTINE(\"R\",\"name\")", "x", io_);
  io_.output.clear();
  run("s n=0 f  s n=$o(^ROUTINE(\"R\",n)) q:n=\"\"  w n,\" \"");
  EXPECT_EQ(io_.output, "1 2 3 4 5 6 7 8 9 10 11 12 name ");
  EXPECT_EQ(eval("$o(^ROUTINE(\"R\",\"\"),-1)"), "name");
  EXPECT_EQ(eval("$o(^ROUTINE(\"R\",10),-1)"), "9");
  EXPECT_EQ(eval("$o(^ROUTINE(\"R\",0),-1)"), "");
  EXPECT_EQ(eval("$o(^ROUTINE(\"R\",\"name\"))"), "");
}

TEST_F(StoreTest, ReportsDataOfValuesAndDescendants) {
  run("s a=1,a(1)=2,b(1,2)=3,^g(\"x\")=4");
  EXPECT_EQ(eval("$d(a)_\",\"_$d(a(1))_\",\"_$d(b)_\",\"_$d(b(1,2))_\",\"_$d(c)_\",\"_$d(^g)"),
            "11,1,10,1,0,10");
  run("k a(1)");
  EXPECT_EQ(eval("$d(a)"), "1");
  EXPECT_EQ(errorOf("s a(\"\")=1"), "<SUBSCRIPT> *a(\"\")");
  EXPECT_EQ(eval("$g(b(1,2))_$g(b(9),\"none\")"), "3none");
}

TEST_F(StoreTest, WalksNodesDepthFirstWithQuery) {
  run("s ^Q(1)=1,^Q(1,\"a\",2)=2,^Q(10)=3,^Q(\"z\")=4,l(2,1)=5");
  io_.output.clear();
  run("s r=\"^Q\" f  s r=$q(@r) q:r=\"\"  w r,\"=\",@r,\" \"");
  EXPECT_EQ(io_.output, "^Q(1)=1 ^Q(1,\"a\",2)=2 ^Q(10)=3 ^Q(\"z\")=4 ");
  EXPECT_EQ(eval("$q(^Q(1,\"b\"))_\" \"_$q(l)_\" \"_$q(l(2,1))_$q(nothing)"), "^Q(10) l(2,1) ");
}

TEST_F(StoreTest, KeepsNumericLookingStringsApartFromNumbers) {
  run("s a(1)=\"one\",a(\"01\")=\"zero-one\",a(1.0)=\"again\"");
  EXPECT_EQ(eval("a(1)_\"/\"_a(\"01\")"), "again/zero-one");
  EXPECT_EQ(eval("$o(a(\"\"))_\"/\"_$o(a(1))"), "1/01");
}

TEST_F(StoreTest, SharesGlobalsButNotLocalsBetweenJobs) {
  Job other(server_, 8);
  run("s ^shared=1,local=1");
  EXPECT_EQ(other.evaluate("^shared_$d(local)", io_), "10");
}

TEST_F(StoreTest, KeepsGlobalsConsistentUnderConcurrentJobs) {
  auto work = [this](int number) {
    Job job(server_, number);
    RecordingIo io;
    for (int i = 0; i < 300; ++i)
      job.execute("s ^C(" + std::to_string(number) + "," + std::to_string(i) + ")=" +
                      std::to_string(i) + ",^C(\"n\",$j,$o(^C(\"n\",$j,\"\"),-1)+1)=1",
                  io);
  };
  std::thread a(work, 1);
  std::thread b(work, 2);
  a.join();
  b.join();
  EXPECT_EQ(eval("$o(^C(1,\"\"),-1)_\",\"_$o(^C(2,\"\"),-1)"), "299,299");
  EXPECT_EQ(eval("$o(^C(\"n\",1,\"\"),-1)+$o(^C(\"n\",2,\"\"),-1)"), "600");
}

}  // namespace
}  // namespace mengine::test
