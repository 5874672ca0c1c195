// The pattern-match operator: codes, counts, literals, alternation and
// pattern indirection.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

class PatternTest : public EngineTest {
 protected:
  bool matches(const std::string& subject, const std::string& pattern) {
    job_.set("s", subject, io_);
    return eval("s?" + pattern) == "1";
  }
};

TEST_F(PatternTest, MatchesCodesAndCounts) {
  struct Case {
    const char* subject;
    const char* pattern;
    bool expected;
  } cases[] = {
      {"ABC", "3U", true},       {"ABC", "2U", false},      {"AbC", "3U", false},
      {"abc", ".L", true},       {"", ".L", true},          {"", "1.L", false},
      {"12", "1.3N", true},      {"1234", "1.3N", false},   {"a1", "1A1N", true},
      {"a.b", "1L1P1L", true},   {"x\ty", "1A1C1A", true},  {"X", "1AN", true},
      {"any thing", ".E", true}, {"12-34", "2N1\"-\"2N", true}, {"12-34", "2N1\"+\"2N", false},
      {"aaa", "2.A", true},      {"a", "2.A", false},       {"abcd", ".2A2A", true},
      {"abcde", ".2A2A", false}, {"ab", "1\"a\".E", true},  {"ba", "1\"a\".E", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matches(c.subject, c.pattern), c.expected) << c.subject << "?" << c.pattern;
}

TEST_F(PatternTest, MatchesAlternations) {
  EXPECT_TRUE(matches("ab", "1(1\"ab\",1\"cd\")"));
  EXPECT_TRUE(matches("cd", "1(1\"ab\",1\"cd\")"));
  EXPECT_FALSE(matches("ac", "1(1\"ab\",1\"cd\")"));
  EXPECT_TRUE(matches("abcdab", ".(1\"ab\",1\"cd\")"));
  EXPECT_TRUE(matches("12ab", "1.N1(2L,3N)"));
  EXPECT_TRUE(matches("123", "1(1N,2N)1(1N,2N)"));
  EXPECT_FALSE(matches("123456", "1(1N,2N)1(1N,2N)"));
  for (auto [subject, expected] : {std::pair{"a", false}, {"aa", true}, {"aaaaaa", true},
                                   {"aaaaaaa", false}, {"aab", false}})
    EXPECT_EQ(matches(subject, "2.3(1\"a\",1\"aa\")"), expected) << subject;
}

TEST_F(PatternTest, NegatesAndStaysFastOnLongSubjects) {
  job_.set("s", std::string(30000, 'a') + "b", io_);
  EXPECT_EQ(eval("s?.E1\"a\".E1\"b\""), "1");
  EXPECT_EQ(eval("s'?.A1N"), "1");
  EXPECT_EQ(eval("s?.(1\"a\",1\"aa\")1\"b\""), "1");
}

TEST_F(PatternTest, AppliesPatternsThroughIndirection) {
  run("s p=$$pat^%RSEL(\"AB*\")");
  EXPECT_EQ(eval("p"), "1\"AB\".E");
  EXPECT_EQ(eval("\"ABC\"?@p_\"ZZ\"?@p"), "0");  // left to right: ("ABC"?@p)_"ZZ" = "1ZZ"
  EXPECT_EQ(eval("\"ABC\"?@p"), "1");
  EXPECT_EQ(eval("\"XAB\"?@p"), "0");
  run("s p=$$pat^%RSEL(\"?X*Y\")");
  EXPECT_EQ(eval("p"), "1E1\"X\".E1\"Y\"");
  EXPECT_EQ(eval("\"aXbbY\"?@p_(\"XY\"?@p)"), "10");
  run("s p=\"3N\"");
  EXPECT_EQ(eval("123?@p"), "1");
  run("s p=\"3Q\"");
  EXPECT_EQ(evalError("123?@p"), "<SYNTAX>");
}

TEST_F(PatternTest, RejectsMalformedPatterns) {
  for (const char* bad : {"1?", "1?3", "1?2.1N", "1?1(1N", "1?1\"a", "1?1Z"})
    EXPECT_EQ(evalError(bad), "<SYNTAX>") << bad;
}

}  // namespace
}  // namespace mengine::test
