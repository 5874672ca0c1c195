// Error processing: $ETRAP runs at the level of the error, $ECODE holds the
// standard's codes, an error left in $ECODE goes on to the caller; and the
// levels $STACK and $ESTACK describe.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

class TrapTest : public EngineTest {
 protected:
  void SetUp() override {
    storeRoutine("ET", {
        "ET ; error trapping",
        "main n $etrap s $etrap=\"g handler\" w \"a\" s x=1/0 w \"not here\" q",
        "handler w \"trapped:\",$ec s $ec=\"\" q",
        "outer n $etrap s $etrap=\"w \"\"[outer]\"\" s $ec=\"\"\"\" q\" d inner w \"after\" q",
        "inner n $etrap s $etrap=\"w \"\"[inner \"\",$ec,\"\"]\"\" q\" w 1/0 q",
        "user n $etrap s $etrap=\"w $ec s $ec=\"\"\"\" q\" s $ec=\",U42,\" w \"not here\" q",
        "undef n $etrap s $etrap=\"w $ec s $ec=\"\"\"\" q\" w nope q",
        "undefv() q nope",
        "glob n $etrap s $etrap=\"w $ec s $ec=\"\"\"\" q\" w ^nope q",
        "value() n $etrap s $etrap=\"s $ec=\"\"\"\" q 7\" q 1/0",
    });
    storeRoutine("ST", {
        "ST ; stack",
        "a w $st,\":\",$st(1),\":\",$st(1,\"PLACE\"),\":\",$es d b q",
        "b n $es w \"|\",$st,\":\",$es,\":\",$st(-1),\":\",$st(2,\"MCODE\") q",
        "x() q $st_$st(1)_$q",
    });
  }
};

TEST_F(TrapTest, RunsTheTrapWhereTheErrorHappened) {
  EXPECT_EQ(output("d main^ET w \"|\",$ec"), "atrapped:,M9,|");
  EXPECT_EQ(eval("$$value^ET()"), "7");
  // An error that reaches the client from an evaluation leaves nothing behind.
  EXPECT_EQ(evalError("$$undefv^ET()"), "<UNDEFINED>undefv^ET *nope");
  EXPECT_EQ(eval("$ec"), "");
}

TEST_F(TrapTest, PassesAnUnclearedErrorToTheCaller) {
  EXPECT_EQ(output("d outer^ET"), "[inner ,M9,][outer]");
  EXPECT_EQ(eval("$ec"), "");
  // With no trap at the top the error reaches the client unchanged, and
  // the next request starts without it.
  EXPECT_EQ(errorOf("d inner^ET"), "<DIVIDE>inner^ET");
  EXPECT_EQ(io_.output.substr(io_.output.size() - 12), "[inner ,M9,]");
  EXPECT_EQ(eval("$ec"), "");
}

TEST_F(TrapTest, NamesErrorsWithTheStandardsCodes) {
  EXPECT_EQ(output("d user^ET"), ",U42,");
  EXPECT_EQ(output("d undef^ET"), ",M6,");
  EXPECT_EQ(output("d glob^ET"), ",M7,");
  EXPECT_EQ(output("s $etrap=\"w $ec s $ec=\"\"\"\"\" w $zzz(1)"), ",ZFUNCTION,");
  // The trap set at the top stays until it is changed.
  EXPECT_EQ(output("w 1/0"), ",M9,");
  EXPECT_EQ(errorOf("s $etrap=\"\",$ec=\"M6\""), "<ECODE>");
  EXPECT_EQ(errorOf("s $etrap=\"\",$ec=\",U1,\""), "<ECODE> *,U1,");
}

TEST_F(TrapTest, DescribesTheLevels) {
  EXPECT_EQ(output("d a^ST"),
            "1:DO:a^ST:1|2:0:2:b n $es w \"|\",$st,\":\",$es,\":\",$st(-1),\":\",$st(2,\"MCODE\") q");
  EXPECT_EQ(eval("$$x^ST()"), "1$$1");
  EXPECT_EQ(eval("$st_$st(0)_$st(5)_$q"), "00");
  EXPECT_EQ(output("x \"w $st,$st(1)\""), "1XECUTE");
}

}  // namespace
}  // namespace mengine::test
