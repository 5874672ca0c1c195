// Expressions: numbers, strict left-to-right evaluation, operators and
// functions.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

struct Case {
  const char* expression;
  const char* expected;
};

class ExpressionTest : public EngineTest {
 protected:
  void check(const std::vector<Case>& cases) {
    for (const auto& c : cases) EXPECT_EQ(eval(c.expression), c.expected) << c.expression;
  }
};

TEST_F(ExpressionTest, EvaluatesStrictlyLeftToRightWithoutPrecedence) {
  check({{"2+3*4", "20"}, {"2*3+4", "10"}, {"10-2-3", "5"}, {"1+2=3", "1"}, {"3=1+2", "2"},
         {"-2*-3", "6"}, {"2+3*4-1/2", "9.5"}, {"\"a\"_1+1", "1"}, {"1_2+1", "13"},
         {"(1+2)*(3+4)", "21"}, {"'1+1", "1"}, {"''5", "1"}});
}

TEST_F(ExpressionTest, ProducesCanonicalNumbers) {
  check({{"0.5", ".5"}, {"-0.50", "-.5"}, {"+\"007\"", "7"}, {"1.10*1", "1.1"}, {"1/4", ".25"},
         {"10/4", "2.5"}, {"2/3", ".666666666666666666"}, {"1E3", "1000"}, {"+\"1E-2x\"", ".01"},
         {"+\"--3\"", "3"}, {"+\"abc\"", "0"}, {"+\"\"", "0"}, {"-\"-0\"", "0"},
         {"999999999999999999+0", "999999999999999999"},
         {"123456789012345678*1", "123456789012345678"}, {"0.1+0.2", ".3"},
         {"7\\2", "3"}, {"-7\\2", "-3"}, {"7#3", "1"}, {"-7#3", "2"}, {"7#-3", "-2"},
         {"2**10", "1024"}});
}

TEST_F(ExpressionTest, ComputesTheRoutineDateDifferenceExactly) {
  job_.set("d1", "66000,86399", io_);
  job_.set("d2", "65999,1", io_);
  EXPECT_EQ(eval("($p(d1,\",\",1)*100000+$p(d1,\",\",2))-($p(d2,\",\",1)*100000+$p(d2,\",\",2))"),
            "186398");
  job_.set("d2", "66000,86399", io_);
  EXPECT_EQ(eval("($p(d1,\",\",1)*100000+$p(d1,\",\",2))-($p(d2,\",\",1)*100000+$p(d2,\",\",2))"),
            "0");
}

TEST_F(ExpressionTest, ComparesAndCombines) {
  check({{"\"abc\"=\"abc\"", "1"}, {"\"abc\"'=\"abc\"", "0"}, {"2<10", "1"}, {"\"2\"]\"10\"", "1"},
         {"2]]10", "0"}, {"10]]2", "1"}, {"\"a\"]]10", "1"}, {"\"abc\"[\"b\"", "1"},
         {"\"abc\"'[\"x\"", "1"}, {"1&0", "0"}, {"1!0", "1"}, {"0'&0", "1"}, {"3>2>0", "1"},
         {"01=1", "1"}, {"\"01\"=1", "0"}});
}

TEST_F(ExpressionTest, RaisesDivideAndUndefined) {
  EXPECT_EQ(evalError("1/0"), "<DIVIDE>");
  EXPECT_EQ(evalError("1\\0"), "<DIVIDE>");
  EXPECT_EQ(evalError("1#0"), "<DIVIDE>");
  EXPECT_EQ(evalError("abc"), "<UNDEFINED> *abc");
  EXPECT_EQ(evalError("^nope(1,\"x\")"), "<UNDEFINED> *^nope(1,\"x\")");
  EXPECT_EQ(evalError("1+"), "<SYNTAX>");
  EXPECT_EQ(evalError("$zzz(1)"), "<FUNCTION>");
  EXPECT_EQ(evalError("\"abc"), "<SYNTAX>");
  EXPECT_EQ(evalError("(1+2"), "<SYNTAX>");
}

}  // namespace
}  // namespace mengine::test
