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

TEST_F(NakedIndicatorTest, TheErrorCarriesTheStandardCode) {
  run("k ^N s ^N(1)=1");
  run("s $etrap=\"s ec=$ec,$ec=\"\"\"\"\" s x=$d(^N) s y=^(1)");
  EXPECT_EQ(eval("ec"), ",M1,");
}

}  // namespace
}  // namespace mengine::test
