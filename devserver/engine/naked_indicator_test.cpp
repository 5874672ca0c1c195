// The naked indicator after a global reference without subscripts: such a
// reference leaves it undefined, so a naked reference that follows is an
// error (M1) instead of silently reaching a node of that global.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

using NakedIndicatorTest = EngineTest;

TEST_F(NakedIndicatorTest, AnUnsubscriptedReferenceLeavesItUndefined) {
  run("k ^N s ^N(2)=2,^N(2,2)=22");
  // As the target of SET, in $DATA, $GET, KILL and as a value.
  EXPECT_EQ(errorOf("s ^N=0 s b=^(2)"), "<NAKED>");
  EXPECT_EQ(errorOf("s a=$d(^N),b=$d(^(2))"), "<NAKED>");
  EXPECT_EQ(errorOf("s a=$g(^N),b=^(2,2)"), "<NAKED>");
  EXPECT_EQ(errorOf("s a=^N(2) k ^N s b=^(2)"), "<NAKED>");
  run("s ^N(2)=2,^N(2,2)=22,^N=0");
  EXPECT_EQ(errorOf("s a=^N w $o(^(2,2))"), "<NAKED>");
}

TEST_F(NakedIndicatorTest, ASubscriptedReferenceStillSetsIt) {
  run("k ^N s ^N=0,^N(2)=2,^N(2,2)=22");
  EXPECT_EQ(eval("^N(2)_^(2)"), "22");
  // The unsubscripted reference in between undoes it; the next subscripted
  // one sets it again.
  EXPECT_EQ(evalError("^N(2)_^N_^(2)"), "<NAKED>");
  EXPECT_EQ(eval("^N_^N(2,2)_^(2)"), "02222");
}

TEST_F(NakedIndicatorTest, LockNamesLeaveItAlone) {
  run("k ^A,^B s ^A(1)=1,^A(2)=\"a\",^B(2)=\"b\"");
  // The lock name ^B(...) is no reference; the subscript ^A(1) is.
  run("l ^B(^A(1)) s ^(2)=10 l");
  EXPECT_EQ(eval("^A(2)_\"/\"_^B(2)"), "10/b");
  run("s x=^A(1) l +^B(7),-^B(7) s y=^(2)");
  EXPECT_EQ(eval("y"), "10");
  EXPECT_EQ(eval("$d(^B(7))"), "0");
}

TEST_F(NakedIndicatorTest, ASetPartThatSelectsNothingLeavesItAlone) {
  run("k ^P s ^P(3)=\"x\",^P(3,4)=\"y\"");
  // Ranges that select nothing: the target is not referenced, so the naked
  // reference after it still continues ^P(3).
  run("s a=^P(3),$p(^(3,4),\",\",5,2)=\"z\",b=^(3)");
  run("s c=^P(3),$e(^(3,4),0)=\"z\",d=^(3)");
  run("s e=^P(3),$p(^(3,4),\",\",-2)=\"z\",f=^(3)");
  EXPECT_EQ(eval("b_d_f_\"/\"_^P(3,4)"), "xxx/y");
  // Nor is an unset naked indicator an error then.
  run("k ^P s g=$d(^P)");
  EXPECT_EQ(eval("$d(^P)"), "0");
  run("s $p(^(9),\"^\",2,1)=1");
  EXPECT_EQ(evalError("^(9)"), "<NAKED>");
  // A range that selects something references the target as before.
  run("s ^P(5)=1,$p(^(6,7),\"^\",2)=2,h=^(7)");
  EXPECT_EQ(eval("h_\"/\"_$d(^P(6))"), "^2/10");
}

TEST_F(NakedIndicatorTest, TheErrorCarriesTheStandardCode) {
  run("k ^N s ^N(1)=1");
  run("s $etrap=\"s ec=$ec,$ec=\"\"\"\"\" s x=$d(^N) s y=^(1)");
  EXPECT_EQ(eval("ec"), ",M1,");
}

}  // namespace
}  // namespace mengine::test
