// Numbers: exact decimal arithmetic cut to 18 significant digits, the range
// and its error, the syntax of numeric literals and of numbers in strings,
// and $JUSTIFY/$FNUMBER on values no binary fraction holds.
#include "engine_test_support.h"
#include "number.h"

namespace mengine::test {
namespace {

std::string text(std::string_view number) { return Number::parse(number).text(); }

TEST(Number, KeepsDecimalFractionsExactly) {
  Number tenth = Number::parse(".1");
  Number sum;
  for (int i = 0; i < 10; ++i) sum = sum + tenth;
  EXPECT_EQ(sum, Number(1));
  EXPECT_EQ((Number::parse("100.1") - Number(100)).text(), ".1");
  EXPECT_EQ((Number::parse("1.10") * Number::parse("3")).text(), "3.3");
  EXPECT_EQ((Number::parse("-.345") + Number::parse(".344")).text(), "-.001");
  EXPECT_EQ((Number::parse("123456789.123456789") - Number::parse("123456789")).text(), ".123456789");
}

TEST(Number, HoldsEachValueOneWay) {
  // Equal values compare equal whatever text they were read from.
  EXPECT_EQ(Number::parse("1E2"), Number(100));
  EXPECT_EQ(Number::parse("100.000"), Number(100));
  EXPECT_EQ(Number::parse("1E20") / Number(100), Number::parse("1000000000000000000"));
  EXPECT_EQ(Number::parse("2.50") * Number(2), Number(5));
  EXPECT_EQ(Number::parse("-0.0"), Number(0));
  EXPECT_EQ(Number::parse(".5") + Number::parse(".5"), Number(1));
}

TEST(Number, OrdersAcrossScales) {
  std::vector<Number> ascending = {Number::parse("-1E30"), Number(-1000), Number::parse("-.001"),
                                   Number(0), Number::parse("1E-40"), Number::parse(".3"),
                                   Number::parse(".30000000000000001"), Number(1),
                                   Number::parse("999999999999999999"), Number::parse("1E18"),
                                   Number::parse("1.5E18"), Number::parse("1E46")};
  for (size_t i = 0; i < ascending.size(); ++i)
    for (size_t j = 0; j < ascending.size(); ++j)
      EXPECT_EQ(ascending[i] < ascending[j], i < j) << ascending[i].text() << " " << ascending[j].text();
}

TEST(Number, CutsToEighteenSignificantDigits) {
  EXPECT_EQ(text("1234567890123456789"), "1234567890123456780");
  EXPECT_EQ(text("-.12345678901234567891"), "-.123456789012345678");
  EXPECT_EQ(text("123456789.987654321987"), "123456789.987654321");
  EXPECT_EQ((Number::parse("999999999999999999") + Number(1)).text(), "1000000000000000000");
  EXPECT_EQ((Number::parse("999999999999999999") + Number(2)).text(), "1000000000000000000");
  EXPECT_EQ((Number::parse("123456789012345678") * Number(9)).text(), "1111111101111111100");
  EXPECT_EQ((Number(2) / Number(3)).text(), ".666666666666666666");
  EXPECT_EQ((Number(-10) / Number(7)).text(), "-1.42857142857142857");
  // A small operand far below a large one: cut, not ignored.
  EXPECT_EQ((Number(1) - Number::parse("1E-30")).text(), ".999999999999999999");
  EXPECT_EQ((Number(1) + Number::parse("1E-30")).text(), "1");
  EXPECT_EQ((Number::parse("1E30") - Number(1)).text(), "999999999999999999000000000000");
  EXPECT_EQ((Number::parse("-1E18") + Number(538)).text(), "-999999999999999462");
}

TEST(Number, RaisesMaxnumberFrom1E47AndDropsBelow1E43) {
  EXPECT_EQ(text("99999999999999999999E27"), "99999999999999999900000000000000000000000000000");
  EXPECT_THROW(Number::parse("1E47"), MError);
  EXPECT_THROW(Number::parse("1E46") * Number(10), MError);
  EXPECT_THROW(Number::parse("1E30") * Number::parse("1E30"), MError);
  EXPECT_THROW(Number::parse("1E10") / Number::parse("1E-43"), MError);
  EXPECT_EQ(text("1.5E-43"), ".00000000000000000000000000000000000000000015");
  EXPECT_EQ(text("9.9E-44"), "0");
  EXPECT_EQ((Number::parse("1E-43") / Number(10)).text(), "0");
  EXPECT_EQ((Number::parse("1E-30") * Number::parse("1E-30")).text(), "0");
}

TEST(Number, RoundsToDecimalPlacesHalfAwayFromZero) {
  EXPECT_EQ(Number::parse("1.005").roundedTo(2).text(), "1.01");
  EXPECT_EQ(Number::parse("-1.005").roundedTo(2).text(), "-1.01");
  EXPECT_EQ(Number::parse("1.0049999999").roundedTo(2).text(), "1");
  EXPECT_EQ(Number::parse("-.5").roundedTo(0).text(), "-1");
  EXPECT_EQ(Number::parse(".000000000000000000000000005").roundedTo(3).text(), "0");
  EXPECT_EQ(Number::parse("999.9999").roundedTo(2).text(), "1000");
}

class NumberLanguageTest : public EngineTest {
 protected:
  void check(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [expression, expected] : cases) EXPECT_EQ(eval(expression), expected) << expression;
  }
};

TEST_F(NumberLanguageTest, StepsThroughDecimalsWithoutLosingTheLast) {
  EXPECT_EQ(output("F i=.3:.3:.9 W i,\",\""), ".3,.6,.9,");
  EXPECT_EQ(output("F i=1:-.1:.5 W i,\",\""), "1,.9,.8,.7,.6,.5,");
  EXPECT_EQ(output("S t=0 F i=1:1:10 S t=t+.1"), "");
  EXPECT_EQ(eval("t=1"), "1");
}

TEST_F(NumberLanguageTest, AddsSubtractsAndComparesExactly) {
  check({{"-.345+.344", "-.001"}, {"100.1-100", ".1"}, {".1+.2=.3", "1"}, {"1.1*1.1", "1.21"},
         {"0.3-.1-.1-.1", "0"}, {"1.0000000000000001>1", "1"}, {"-.1<-.09999999999999999", "1"},
         {"\"1E-43\">0", "1"}, {"1E20>99999999999999999999", "1"}});
}

TEST_F(NumberLanguageTest, TakesModuloAndIntegerDivisionOfDecimals) {
  check({{"4.1#.01", "0"}, {"1.1#-.1", "0"}, {"3.3#1.1", "0"}, {"-7.5#2", ".5"}, {"7.5#-2", "-.5"},
         {"1E30#7", "1"}, {"-1E30#7", "6"}, {"7E-30#3E-31", ".0000000000000000000000000000001"},
         {"-1#1E30", "999999999999999999000000000000"}, {"1E-40#3", ".0000000000000000000000000000000000000001"},
         {"-128\\(2.25/-99)", "5632"}, {"5.5\\1", "5"}, {"-5.5\\1", "-5"}, {"1E20\\7", "14285714285714285700"},
         {"7\\.3", "23"}, {".9\\.3", "3"}});
}

TEST_F(NumberLanguageTest, TakesModuloAndIntegerDivisionOfIntegersWithEitherSign) {
  check({{"-7#3", "2"}, {"7#-3", "-2"}, {"-7#-3", "-1"}, {"6#-3", "0"}, {"-6#3", "0"}, {"-7\\2", "-3"},
         {"7\\-2", "-3"}, {"-999999999999999998#7", "1"}, {"999999999999999999\\-2", "-499999999999999999"},
         {"5\\0.5", "10"}});
  EXPECT_EQ(evalError("7#0"), "<DIVIDE>");
  EXPECT_EQ(evalError("7\\0"), "<DIVIDE>");
}

TEST_F(NumberLanguageTest, KeepsEighteenDigitsAcrossAVariable) {
  run("S x=6591595220247727905 S x=x+1");
  EXPECT_EQ(eval("x-6591595220247727905"), "0");
  EXPECT_EQ(eval("x"), "6591595220247727900");
}

TEST_F(NumberLanguageTest, RaisesPowersExactly) {
  check({{"2**64", "18446744073709551600"}, {"3**-2", ".111111111111111111"}, {"2**-1", ".5"},
         {"-2**3", "-8"}, {"1.1**10", "2.5937424601"}, {"10**46", "1" + std::string(46, '0')},
         {".1**45", "0"}, {".1**-45", "1" + std::string(45, '0')}, {"10**-50", "0"},
         {"4**.5", "2"}, {"27**(1/3)", "3"}, {"2**.5", "1.41421356237309505"}, {"0**0", "1"}});
  EXPECT_EQ(evalError("10**47"), "<MAXNUMBER>");
  EXPECT_EQ(evalError("0**-1"), "<DIVIDE>");
  EXPECT_EQ(evalError("1/0"), "<DIVIDE>");
}

// The reciprocal of a power cut to 18 digits can be several units of the
// last digit off; a negative power stays within the last digit.
TEST_F(NumberLanguageTest, KeepsNegativePowersWithinTheLastDigit) {
  // Exact: .000000000000000000000000597121849819155632152...; from the
  // square cut to 18 digits it would end in 635.
  check({{"1294102029910.79327**-2", ".000000000000000000000000597121849819155632"},
         {"-3**-3", "-.037037037037037037"}, {"-2**-2", ".25"}, {"7**-1", ".142857142857142857"},
         {"1E-23**-2", "1" + std::string(46, '0')}, {"1E30**-2", "0"}, {"2**-999999999999", "0"},
         {"-1**-999999999999", "-1"}, {".9**-3", "1.37174211248285322"}});
  EXPECT_EQ(evalError("1E-24**-2"), "<MAXNUMBER>");
  EXPECT_EQ(evalError(".5**-200"), "<MAXNUMBER>");
  EXPECT_EQ(evalError(".1**-999999999999"), "<MAXNUMBER>");
}

TEST_F(NumberLanguageTest, ReportsMaxnumberAsM92) {
  storeRoutine("OVF", {"OVF ; overflow", " n $etrap s $etrap=\"w $ec s $ec=\"\"\"\" q\" w 1E46*10 q"});
  EXPECT_EQ(output("d ^OVF"), ",M92,");
  EXPECT_EQ(evalError("+\"1E50\""), "<MAXNUMBER>");
  EXPECT_EQ(eval("+\"1E-50\""), "0");
}

TEST_F(NumberLanguageTest, ReadsOnlyCapitalEAsAnExponent) {
  check({{"+\"1234e2\"", "1234"}, {"+\"1234E2\"", "123400"}, {"23.E3", "23000"},
         {"+\"23.E3\"", "23000"}, {"0987654.E-003", "987.654"}, {"1E0000003", "1000"},
         {"+\"76540E0000002 999\"", "7654000"}, {"+\"1E-0000003\"", ".001"}, {"+\"0E99999\"", "0"},
         {"+\"1E\"", "1"}, {"+\"1E+\"", "1"}, {"+\".E3\"", "0"},
         {"+\"1E2E3\"", "100"}, {"+\"--5\"", "5"}, {"+\"+-+5\"", "-5"}, {"+\"1.5.5\"", "1.5"}, {"1.", "1"}});
  EXPECT_EQ(evalError("3e9"), "<SYNTAX>");
  EXPECT_EQ(errorOf("W 3e9"), "<SYNTAX>");
  EXPECT_EQ(evalError("+\"1E99999999999999999999\""), "<MAXNUMBER>");
}

TEST_F(NumberLanguageTest, JustifiesAndFormatsDecimalsWithoutBinaryNoise) {
  check({{"$J(0987654.E-003,12)", "     987.654"}, {"$J(1.005,1,2)", "1.01"}, {"$J(-.001,1,2)", "0.00"},
         {"$J(.125,1,2)", "0.13"}, {"$J(-.5,1,0)", "-1"}, {"$J(123456789012345678,1,3)", "123456789012345678.000"},
         {"$J(1E-43,1,44)", "0.00000000000000000000000000000000000000000010"},
         {"$FN(1245E20,\",\",4)", "124,500,000,000,000,000,000,000.0000"},
         {"$FN(-1234567.891,\",\",2)", "-1,234,567.89"}, {"$FN(.0001,\"+\",2)", "0.00"}});
  EXPECT_EQ(eval("$L($J(1,1,200))"), "202");
}

TEST_F(NumberLanguageTest, CollatesOnlyWhatStaysTheSameAsANumber) {
  // Nineteen digits are not kept, so that subscript is a string, after 2.
  run("S A(\"1234567890123456789\")=1,A(2)=1,A(\"123456789012345678\")=1");
  EXPECT_EQ(eval("$O(A(\"\"))"), "2");
  EXPECT_EQ(eval("$O(A(2))"), "123456789012345678");
  EXPECT_EQ(eval("$O(A(123456789012345678))"), "1234567890123456789");
  EXPECT_TRUE(isCanonicalNumber("1" + std::string(46, '0')));
  EXPECT_FALSE(isCanonicalNumber("1" + std::string(47, '0')));
  EXPECT_TRUE(isCanonicalNumber("." + std::string(42, '0') + "1"));
  EXPECT_FALSE(isCanonicalNumber("." + std::string(43, '0') + "1"));
  EXPECT_TRUE(isCanonicalNumber("12345678.9012345678"));
  EXPECT_FALSE(isCanonicalNumber("12345678.90123456789"));
}

TEST_F(NumberLanguageTest, DrawsRandomNumbersOverTheWholeRange) {
  EXPECT_EQ(eval("$R(1.9)"), "0");
  EXPECT_EQ(evalError("$R(.5)"), "<FUNCTION>");
  // Four draws below 1E15 all under 1E9 would mean the range was clipped.
  EXPECT_EQ(eval("$R(1E15)<1E15"), "1");
  EXPECT_EQ(eval("$S($R(1E15)'<1E9:1,$R(1E15)'<1E9:1,$R(1E15)'<1E9:1,$R(1E15)'<1E9:1,1:0)"), "1");
}

TEST_F(NumberLanguageTest, IncrementsGlobalsAndLocalsByDecimals) {
  run("S ^N=.1,L=.1");
  EXPECT_EQ(eval("$I(^N,.2)_\",\"_$I(L,.2)"), ".3,.3");
  EXPECT_EQ(eval("$I(^N,-.3)_\",\"_$I(L,-.3)"), "0,0");
}

}  // namespace
}  // namespace mengine::test
