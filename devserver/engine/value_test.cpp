// Values between operations: numbers kept as numbers must read as their
// canonical text, and a variable read in place must keep the value it had
// when it was read, whatever the rest of the expression does to it.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

class ValueTest : public EngineTest {
 protected:
  void SetUp() override {
    storeRoutine("VALT", {"VALT ; changes x and a(1) behind the expression's back",
                          "SETX(v) s x=v q v", "SETA(v) s a(1)=v q v", "KILLX() k x q \"k\"",
                          "INCX() s x=x+1 q x"});
  }
};

TEST_F(ValueTest, AnOperandReadInPlaceKeepsItsValueWhenTheRestChangesIt) {
  run("s x=\"ab\"");
  EXPECT_EQ(eval("x_$$SETX^VALT(\"cd\")_x"), "abcdcd");
  run("s x=5");
  EXPECT_EQ(eval("x+$$SETX^VALT(7)+x"), "19");
  run("s x=5");
  EXPECT_EQ(eval("x=$$SETX^VALT(6)"), "0");
  run("s x=\"abc\"");
  EXPECT_EQ(eval("x_$$KILLX^VALT()"), "abck");
  run("s x=1");
  EXPECT_EQ(eval("x_@\"$$INCX^VALT()\"_x"), "122");
  run("s a(1)=\"old\"");
  EXPECT_EQ(eval("a(1)_$$SETA^VALT(\"new\")_a(1)"), "oldnewnew");
  run("s x=\"abc\"");
  EXPECT_EQ(eval("x?@$$SETX^VALT(\"3L\")"), "1");
}

TEST_F(ValueTest, FunctionArgumentsReadInPlaceKeepTheirValues) {
  run("s x=\"a,b,c\"");
  EXPECT_EQ(eval("$p(x,\",\",$$SETX^VALT(2))"), "b");
  run("s x=\"hello\"");
  EXPECT_EQ(eval("$e(x,$$SETX^VALT(2),4)"), "ell");
  run("s x=\"a;b;c\"");
  EXPECT_EQ(eval("$l(x,$$KILLX^VALT()_\";\")"), "1");
  EXPECT_EQ(eval("$d(x)"), "0");
  run("s x=\"abc\"");
  EXPECT_EQ(eval("$s(x=\"abc\":x_$$SETX^VALT(1),1:0)_x"), "abc11");
}

TEST_F(ValueTest, SetCopiesTheValueBeforeAnyTargetChanges) {
  run("s x=\"a,b\" s ($p(x,\",\",2),y)=x");
  EXPECT_EQ(eval("x_\"|\"_y"), "a,a,b|a,b");
  run("s x=\"q\",x=x_x,y=x");
  EXPECT_EQ(eval("y"), "qq");
  EXPECT_EQ(errorOf("k z s z=z"), "<UNDEFINED> *z");
}

TEST_F(ValueTest, NumbersKeptAsNumbersReadAsCanonicalText) {
  EXPECT_EQ(eval("\"1.5\"=(3/2)"), "1");
  EXPECT_EQ(eval("\"01\"=1"), "0");
  EXPECT_EQ(eval("1.0=1"), "1");
  EXPECT_EQ(eval("(2-2)=\"0\""), "1");
  EXPECT_EQ(eval("(\"-0\"+0)_(.50*2)_(1E3)"), "011000");
  run("s x=\"007\"");
  EXPECT_EQ(eval("x_(x+0)_(x=7)_(+x=7)_(-x)"), "007701-7");
  EXPECT_EQ(eval("$l(1/3)_\" \"_$e(10/4,2,9)_\" \"_$p(2.5*4,0)"), "19 .5 1");
  EXPECT_EQ(eval("(1=1)_('0)_(3>2)_(\"a\"[\"\")"), "1111");
  run("s x=0 f i=1:1:10 s x=x+i-7#1000\\3");
  EXPECT_EQ(eval("x_\",\"_i"), "1,10");
  EXPECT_EQ(eval("\"12abc\"+1_\"x\""), "13x");
  EXPECT_EQ(evalError("1E46*10"), "<MAXNUMBER>");
}

TEST_F(ValueTest, AVariableReadAgainFollowsNewKillAndParameters) {
  storeRoutine("VALC", {"VALC ; rebinds x under the caller's loop", "NEWX() n x s x=\"in\" q x",
                        "BYREF(x) s x=x_\"!\" q", "ALL() n  s x=\"all\" q x",
                        "EXCL() n (r) s x=\"ex\" q x", "INX() n x s x=\"in\" q $$GETX()",
                        "GETX() q x"});
  run("s x=\"out\",r=\"\" f i=1:1:2 s r=r_x_$$NEWX^VALC()_x_$$ALL^VALC()_x_$$EXCL^VALC()_x_\";\"");
  EXPECT_EQ(eval("r"), "outinoutalloutexout;outinoutalloutexout;");
  run("s x=\"v\",r=\"\" f i=1:1:3 s r=r_x d BYREF^VALC(.x)");
  EXPECT_EQ(eval("r_\"|\"_x"), "vv!v!!|v!!!");
  run("s r=\"\" f i=1:1:3 s x=i,r=r_x k x s r=r_$d(x)");
  EXPECT_EQ(eval("r"), "102030");
  run("s x=1 x \"n x s x=2 s r=x\" s r=r_x");
  EXPECT_EQ(eval("r"), "21");
  // x made by the callee's NEW and gone when it returns.
  run("k x s r=\"\" f i=1:1:2 s r=r_$$NEWX^VALC()_$g(x)_$$ALL^VALC()_$g(x)_\";\"");
  EXPECT_EQ(eval("r"), "inall;inall;");
  // The same reference reads x while a frame holds it and after it is gone.
  EXPECT_EQ(errorOf("k x s r=\"\" s r=$$INX^VALC() s r=r_$$GETX^VALC()"), "<UNDEFINED>GETX^VALC *x");
}

TEST_F(ValueTest, LocalNamesKeepByteOrder) {
  run("k  s b=1,a=2,B=3,aa=4,%=5,a1=6");
  EXPECT_EQ(output("w"), "%=5\r\nB=3\r\na=2\r\na1=6\r\naa=4\r\nb=1\r\n");
}

}  // namespace
}  // namespace mengine::test
