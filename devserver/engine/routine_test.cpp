// Routines stored in ^ROUTINE: DO and $$ with parameters, QUIT values, NEW,
// dotted blocks and GOTO.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

class RoutineTest : public EngineTest {
 protected:
  void SetUp() override {
    storeRoutine("MATH", {
        "MATH ; arithmetic helpers",
        " w \"top\" q",
        "add(a,b) q a+b",
        "fact(n) q:n<2 1  q n*$$fact(n-1)",
        "swap(x,y) n t s t=x,x=y,y=t q",
        "show(v) w \"[\",$g(v,\"none\"),\"]\" q",
        "loop f i=1:1:3 d",
        " . w i",
        " . q:i=2",
        " . w \"-\"",
        " w \"|\" q",
        "jump g there",
        " w \"skipped\"",
        "there w \"landed\" q",
        "noval q",
        "local s shared=\"set by routine\" q",
        "deep(n) q $$deep(n+1)",
        "xec x \"d show(3)\" q",
    });
  }
};

TEST_F(RoutineTest, CallsLabelsWithParametersAndQuitValues) {
  EXPECT_EQ(eval("$$add^MATH(2,3)"), "5");
  EXPECT_EQ(eval("$$fact^MATH(10)"), "3628800");
  EXPECT_EQ(output("d ^MATH"), "top");
  EXPECT_EQ(output("d show^MATH(1),show^MATH()"), "[1][none]");
}

TEST_F(RoutineTest, NewsFormalsAndPassesByReference) {
  run("s a=1,b=2,t=\"keep\",x=\"outer\"");
  run("d swap^MATH(.a,.b)");
  EXPECT_EQ(eval("a_b_t_x"), "21keepouter");
  run("d local^MATH");
  EXPECT_EQ(eval("shared"), "set by routine");
}

TEST_F(RoutineTest, RunsDottedBlocksAndGoto) {
  EXPECT_EQ(output("d loop^MATH"), "1-23-|");
  EXPECT_EQ(output("d jump^MATH"), "landed");
  EXPECT_EQ(output("w 1 g there^MATH"), "1landed");
  EXPECT_EQ(output("d xec^MATH"), "[3]");
}

TEST_F(RoutineTest, ChecksCallsAndReturns) {
  EXPECT_EQ(evalError("$$noval^MATH"), "<PARAMETER>");
  EXPECT_EQ(errorOf("d add^MATH(1,2)"), "<COMMAND>add^MATH");
  EXPECT_EQ(errorOf("d add^MATH(1,2,3)"), "<PARAMETER>");
  EXPECT_EQ(errorOf("d nolabel^MATH"), "<NOLINE> *nolabel^MATH");
  EXPECT_EQ(errorOf("d ^NOROUTINE"), "<NOROUTINE> *NOROUTINE");
  EXPECT_EQ(evalError("$$deep^MATH(1)"), "<FRAMESTACK>deep^MATH");
  // The job survives a runaway recursion with its variables intact.
  run("s survivor=1");
  EXPECT_EQ(eval("survivor_$$add^MATH(1,1)"), "12");
}

TEST_F(RoutineTest, ReadsLineTextWithText) {
  EXPECT_EQ(eval("$t(+1^MATH)"), "MATH ; arithmetic helpers");
  EXPECT_EQ(eval("$t(add^MATH)_\"|\"_$t(add+1^MATH)"), "add(a,b) q a+b|fact(n) q:n<2 1  q n*$$fact(n-1)");
  EXPECT_EQ(eval("$t(+0^MATH)_\"|\"_$t(+99^MATH)_\"|\"_$t(nope^MATH)_\"|\"_$t(+1^NONE)"), "MATH|||");
  storeRoutine("SELF", {"SELF w $t(+0),\"/\",$t(+2)", " ; second"});
  EXPECT_EQ(output("d ^SELF"), "SELF/ ; second");
}

// An XECUTE argument is run like a called block: a GOTO inside it leaves for
// good, and the QUIT that ends the code gone to ends that argument only.
TEST_F(RoutineTest, XecuteArgumentsEndAtTheirQuitWhereverTheyWent) {
  EXPECT_EQ(output("x \"w 1 g there^MATH w 2\",\"w 3\" w 4"), "1landed34");
  EXPECT_EQ(output("f i=1:1:3 x \"q:i=2  w i\""), "13");
  EXPECT_EQ(output("x \"f i=1:1:5 q:i>2  w i\" w \"|\",i"), "12|3");
  EXPECT_EQ(output("x \"x \"\"g there^MATH\"\" w 5\" w 6"), "landed56");
}

// Labels may be names or digit strings (007 and 7 differ); an offset is any
// expression, taken as an integer.
TEST_F(RoutineTest, ReachesLinesByLabelAndComputedOffset) {
  storeRoutine("LBL", {"LBL q", "% w \"%\" q", "%9Z w \"%9Z\" q", "007 w \"007\" q", "7 w \"7\" q",
                       "a w \"a\"", " w \"b\"", " w \"c\" q"});
  EXPECT_EQ(output("d %^LBL,%9Z^LBL,007^LBL,7^LBL"), "%%9Z0077");
  EXPECT_EQ(output("s k=4 d a+(k/2)^LBL,a+1.9^LBL,a+\"1x\"^LBL"), "cbcbc");
  EXPECT_EQ(output("g a+0^LBL"), "abc");
  EXPECT_EQ(errorOf("d 07^LBL"), "<NOLINE> *07^LBL");
}

TEST_F(RoutineTest, RestoresTestAfterExtrinsics) {
  storeRoutine("T", {"t() i 0", " q 5"});
  run("i 1");
  EXPECT_EQ(eval("$$t^T()_$t"), "51");
}

}  // namespace
}  // namespace mengine::test
