// The engine must answer every input with a value or an M error: parsing is
// total, nesting and recursion are bounded, and errors leave the job usable.
#include <random>

#include "engine_test_support.h"
#include "parse_cache.h"
#include "parser.h"

namespace mengine::test {
namespace {

// Lines the parsers take as they are; the mutations below start from them.
const char* const kSeeds[] = {
    "f n=1:1:$l(mask,\",\") s m=$p(mask,\",\",n) s p=$$pat^%RSEL($p(m,\".\")) s "
    "g=$$gloname^%RSEL(m) s rn=\"\" f  s rn=$o(@g@(rn)) q:rn=\"\"  i rn?@p s rtn(g,rn)=\"\"",
    "s n=0 f  s n=$o(^ROUTINE(rn,n)) q:n=\"\"  s l=$g(^ROUTINE(rn,n)) w $s(l=\"\":\" \",1:l)_$c(10)",
    "lab(a,b) n x s x=a_b,$p(v,\"^\",2)=1 q:x?1(1N,2A).E x d ^R,t+1^R(.a,,3) x \"w 1\" g e",
    "i '$d(rtn(\"^rMAC\",rn)) w !,#,?10,*65,\"Compile \"_rn_\".INT\"_$c(10) e  k (a,b) n @x",
};

// The third seed has a label: it is a routine line, the others are lines of
// direct-mode commands.
bool isRoutineLine(int seed) { return seed == 2; }

// Parses the line; an M error is a proper answer, and one from the parser
// names a column inside the line. Any other exception fails the test.
bool parses(const std::string& line, bool routineLine) {
  try {
    if (routineLine) {
      parseRoutineLine(line);
    } else {
      parseCommandLine(line);
    }
    return true;
  } catch (const ParseError& e) {
    EXPECT_LE(e.column(), line.size()) << line;
    EXPECT_TRUE(std::string_view(e.what()).starts_with("<")) << line << ": " << e.what();
  } catch (const MError& e) {
    EXPECT_TRUE(std::string_view(e.what()).starts_with("<")) << line << ": " << e.what();
  }
  return false;
}

TEST(ParserTotality, AnswersEveryMutatedLineWithAParseOrAnMError) {
  for (int seed = 0; seed < 4; ++seed) ASSERT_TRUE(parses(kSeeds[seed], isRoutineLine(seed))) << seed;
  std::mt19937 rng(12345);
  const std::string alphabet = "\"()@$^,:;.? !_'=<>[]#*+-/\\&aZ19 %";
  int parsed = 0;
  int refused = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string line = kSeeds[round % 4];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < edits && !line.empty(); ++k) {
      size_t at = rng() % line.size();
      switch (rng() % 3) {
        case 0: line[at] = alphabet[rng() % alphabet.size()]; break;
        case 1: line.erase(at, 1 + rng() % 3); break;
        default: line.resize(at); break;
      }
    }
    ++(parses(line, isRoutineLine(round % 4)) ? parsed : refused);
    // The other parsers take any text too, with a value or an M error.
    for (int which = 0; which < 2; ++which) {
      try {
        if (which == 0) {
          parseExpression(line);
        } else {
          parsePattern(line);
        }
      } catch (const MError&) {
        // An M error is a proper answer.
      }
    }
  }
  // Both answers occur: a parser that refused every line, or took every
  // line, would not be telling lines apart.
  EXPECT_GT(parsed, 100);
  EXPECT_GT(refused, 100);
}

using LimitsTest = EngineTest;

TEST_F(LimitsTest, BoundsNestingAndRecursion) {
  EXPECT_EQ(evalError(std::string(5000, '(') + "1" + std::string(5000, ')')), "<SYNTAX>");
  EXPECT_EQ(evalError(std::string(5000, '-') + "1"), "<SYNTAX>");
  EXPECT_EQ(errorOf("s x=\"x x\" x x"), "<FRAMESTACK>");
  EXPECT_EQ(eval("$d(x)"), "1");
  EXPECT_EQ(errorOf("s a=\"@a\" s @a=1"), "<FRAMESTACK>");
  std::string fors;
  for (int i = 0; i < 5000; ++i) fors += "f  ";
  EXPECT_EQ(errorOf(fors + "q"), "<FRAMESTACK>");
  std::string subs = "s x(1";
  for (int i = 0; i < 5000; ++i) subs += ",1";
  EXPECT_EQ(errorOf(subs + ")=1").substr(0, 11), "<SUBSCRIPT>");
}

TEST_F(LimitsTest, LimitsStringsTo32767Bytes) {
  EXPECT_THROW(job_.set("v", std::string(32768, 'x'), io_), MError);
  job_.set("v", std::string(32767, 'x'), io_);
  EXPECT_EQ(eval("$l(v)"), "32767");
  EXPECT_EQ(errorOf("s $p(v,\",\",2)=1"), "<MAXSTRING>");
  EXPECT_EQ(errorOf("s $e(w,40000)=1"), "<MAXSTRING>");
  EXPECT_EQ(errorOf("s $p(w,\",\",1000000000)=1"), "<MAXSTRING>");
  EXPECT_EQ(errorOf("w ?99999"), "");
}

// A request field may be a megabyte long: a chain of that many operators
// once overflowed the stack, both when it was evaluated and when it was freed.
TEST_F(LimitsTest, EvaluatesOperatorChainsOfAnyLength) {
  std::string sum = "0";
  for (int i = 0; i < 300000; ++i) sum += "+1";
  EXPECT_EQ(eval(sum), "300000");
  std::string joined = "\"\"";
  for (int i = 0; i < 300000; ++i) joined += i < 20000 ? "_$C(65)" : "_\"\"";
  EXPECT_EQ(eval("$l(" + joined + ")"), "20000");
  EXPECT_EQ(evalError(joined + "_$J(1,20000)"), "<MAXSTRING>");
}

TEST_F(LimitsTest, CharTakesAStringLengthOfCodes) {
  std::string codes = "$C(1";
  for (int i = 1; i < 32767; ++i) codes += i % 2 ? ",9" : ",1";
  EXPECT_EQ(eval("$l(" + codes + "))"), "32767");
  EXPECT_EQ(evalError(codes + ",1)"), "<SYNTAX>");
}

// Found by quote_fuzz: with a count limit alone, a job kept thousands of
// large parsed texts and grew without bound.
TEST(ParseCacheTest, BoundsTheTextItHolds) {
  ParseCache<std::size_t> cache;
  std::size_t made = 0;
  const std::string big(8192, 'x');
  for (int i = 0; i < 200; ++i) {
    const std::string key = std::to_string(i) + big;
    const std::size_t got = cache.get(key, [&] { return ++made; });
    EXPECT_EQ(got, made);
    EXPECT_LE(cache.textBytes(), ParseCache<std::size_t>::kTextLimit);
  }
  EXPECT_LT(cache.size(), 40u);
  const std::size_t before = made;
  EXPECT_EQ(cache.get("199" + big, [&] { return ++made; }), before);
  EXPECT_THROW(cache.get("new", []() -> std::size_t { throw MError("<SYNTAX>"); }), MError);
  EXPECT_EQ(cache.get("new", [&] { return ++made; }), before + 1);
}

TEST_F(LimitsTest, RejectsMalformedReferencesOfTheWriteRequest) {
  for (const char* bad : {"", "1", "^", "a(", "a(1", "a b", "@", "^(1)", "$x"}) {
    EXPECT_THROW(job_.set(bad, "v", io_), MError) << bad;
    EXPECT_THROW(job_.kill(bad, io_), MError) << bad;
  }
}

}  // namespace
}  // namespace mengine::test
