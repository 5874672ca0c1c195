// Commands on a job: SET, WRITE, KILL, $ORDER and friends, wo^%srv, ZN.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

using CommandTest = EngineTest;

TEST_F(CommandTest, SetWriteAndKill) {
  EXPECT_EQ(output("s a=1,b=\"x\" w a,b,!,\"c\""), "1x\r\nc");
  run("s ^G(1)=2,(x,y)=5");
  EXPECT_EQ(eval("^G(1)_x_y"), "255");
  run("k ^G(1),x");
  EXPECT_EQ(eval("$d(^G(1))_$d(x)_$d(y)"), "001");
  EXPECT_EQ(output("w !,\"ab\",?5,\"c\",#"), "\r\nab   c\f");
}

TEST_F(CommandTest, HandsValuesBackThroughWo) {
  EXPECT_EQ(values("d wo^%srv(1),wo^%srv(\"two\")"), (std::vector<std::string>{"1", "two"}));
}

TEST_F(CommandTest, SwitchesDatabases) {
  EXPECT_EQ(job_.database(), "%SYS");
  run("s ^X=1 zn \"USER\"");
  EXPECT_EQ(job_.database(), "USER");
  EXPECT_EQ(eval("$d(^X)"), "0");
  EXPECT_EQ(errorOf("zn \"NOPE\""), "<NAMESPACE>");
  EXPECT_EQ(job_.database(), "USER");
}


TEST_F(CommandTest, RunsEveryFormOfFor) {
  EXPECT_EQ(output("f i=1:1:5 w i"), "12345");
  EXPECT_EQ(output("f i=5:-2:1 w i"), "531");
  EXPECT_EQ(output("f i=1:1:0 w i"), "");
  EXPECT_EQ(output("f i=.5:.25:1 w i,\" \""), ".5 .75 1 ");
  EXPECT_EQ(output("f i=1:2 q:i>7  w i"), "1357");
  EXPECT_EQ(output("f i=\"a\",\"b\",3:1:4 w i"), "ab34");
  EXPECT_EQ(output("s i=0 f  s i=i+1 q:i>3  w i"), "123");
  // The limit is read once; changing the variable inside the body counts.
  EXPECT_EQ(output("s n=3 f i=1:1:n s n=10 w i"), "123");
  EXPECT_EQ(output("f i=1:1:10 s i=i+2 w i"), "36912");
}

TEST_F(CommandTest, QuitEndsOnlyTheInnermostFor) {
  EXPECT_EQ(output("f i=1:1:3 f j=1:1:3 q:j>i  w i,j,\" \""), "11 21 22 31 32 33 ");
  EXPECT_EQ(output("f i=1:1:3 w i q:i=2  w \"-\""), "1-2");
  EXPECT_EQ(output("f i=1:1:3 w i i i=2 w \"!\""), "12!3");
  EXPECT_EQ(output("w 1 q  w 2"), "1");
  EXPECT_EQ(errorOf("f i=1:1:3 q 5"), "<COMMAND>");
}

// A numeric FOR steps the variable itself, not a private counter: once the
// body kills or hides it, the next step finds it undefined and stops there.
TEST_F(CommandTest, ForStepsTheVariableItSets) {
  const auto stopsAfter = [this](std::string_view line, const std::string& written,
                                 const std::string& error) {
    io_.output.clear();
    EXPECT_EQ(errorOf(line), error) << line;
    EXPECT_EQ(io_.output, written) << line;
  };
  stopsAfter("k  f n=2:2:9 w n k:n=4 n", "24", "<UNDEFINED> *n");
  stopsAfter("k  f n=7:-1 w n k:n=5 n", "765", "<UNDEFINED> *n");
  stopsAfter("k  f n=0:0 w n k n", "0", "<UNDEFINED> *n");
  stopsAfter("k  f v(\"c\",2)=1:1:4 w v(\"c\",2) k:v(\"c\",2)=3 v", "123",
             "<UNDEFINED> *v(\"c\",2)");
  stopsAfter("k  s t=\"w(1)\" f @t=1:1:4 w @t k w", "1", "<UNDEFINED> *w(1)");
  stopsAfter("k  f n=1:1:4 w n k (z)", "1", "<UNDEFINED> *n");
  stopsAfter("k  f n=1:1:4 w n n n", "1", "<UNDEFINED> *n");
  stopsAfter("k  f n=1:1:4 x \"w n k:n=2 n\"", "12", "<UNDEFINED> *n");
  // Later parameters of the same FOR are never reached.
  stopsAfter("k  f n=1:1:2,9 w n k:n=2 n", "12", "<UNDEFINED> *n");
  // A value set after the KILL is stepped from: 20 is past the limit.
  EXPECT_EQ(output("k  f n=1:1:4 w n k n s n=20"), "1");
  // A list value is assigned afresh, so killing it in the body is harmless.
  EXPECT_EQ(output("k  f n=5,6 w n k n"), "56");
}

TEST_F(CommandTest, BranchesWithIfElseAndPostconditions) {
  EXPECT_EQ(output("i 1 w \"a\""), "a");
  EXPECT_EQ(output("i 0 w \"a\""), "");
  EXPECT_EQ(output("e  w \"b\""), "b");
  EXPECT_EQ(output("i 1,0 w \"a\"") + eval("$t"), "0");
  EXPECT_EQ(output("s x=2 w:x=2 \"y\" w:x=3 \"n\""), "y");
  EXPECT_EQ(output("d:0 wo^%srv(1) w \"after\""), "after");
  EXPECT_TRUE(io_.values.empty());
}

TEST_F(CommandTest, AssignsPiecesAndExtracts) {
  run("s v=\"a,b,c\" s $p(v,\",\",2)=\"X\"");
  EXPECT_EQ(eval("v"), "a,X,c");
  run("s $p(v,\",\",5)=\"e\"");
  EXPECT_EQ(eval("v"), "a,X,c,,e");
  run("k w s $p(w,\"^\",3)=1");
  EXPECT_EQ(eval("w"), "^^1");
  run("s v=\"a,b,c,d\" s $p(v,\",\",2,3)=\"Z\"");
  EXPECT_EQ(eval("v"), "a,Z,d");
  run("s v=\"abc\" s $e(v,2)=\"XY\",$e(v,6)=\"z\"");
  EXPECT_EQ(eval("v"), "aXYc z");
  run("s ^M(1)=\"x.y\" s $p(^M(1),\".\",1)=\"q\"");
  EXPECT_EQ(eval("^M(1)"), "q.y");
}

// A valid extension makes the IF false, which skips the rest of that FOR
// iteration: only missing or unknown extensions are rewritten (to INT).
TEST_F(CommandTest, NormalisesARoutineMaskInPlace) {
  job_.set("mask", "abc.mac,x*,y.foo,z.inc", io_);
  run("f n=1:1:$l(mask,\",\") s m=$p(mask,\",\",n) s e=$zupper($p(m,\".\",2)) "
      "i (e'=\"INT\")&(e'=\"MAC\")&(e'=\"INC\") s e=\"INT\" s $p(mask,\",\",n)=$p(m,\".\")_\".\"_e");
  EXPECT_EQ(eval("mask"), "abc.mac,x*.INT,y.INT,z.inc");
}

TEST_F(CommandTest, ResolvesNameAndSubscriptIndirection) {
  run("s g=\"^ROUTINE\",x=\"abc\",@x=5,@g@(\"A\",1)=\"l1\"");
  EXPECT_EQ(eval("abc_^ROUTINE(\"A\",1)"), "5l1");
  run("s g=\"^ROUTINE(\"\"A\"\")\"");
  EXPECT_EQ(eval("@g@(1)"), "l1");
  run("s rglobal=\"^ROUTINE\" s @rglobal@(\"B\",0)=\"66000,5\"");
  EXPECT_EQ(eval("$g(^ROUTINE(\"B\",0))"), "66000,5");
  run("s e=\"1+2\"");
  EXPECT_EQ(eval("@e*2"), "6");
  run("s a=\"x=7\" s @a");
  EXPECT_EQ(eval("x"), "7");
  run("s r=\"abc,x\" k @r");
  EXPECT_EQ(eval("$d(abc)+$d(x)"), "0");
  job_.set("@rglobal@(\"C\",3)", "via write", io_);
  EXPECT_EQ(eval("^ROUTINE(\"C\",3)"), "via write");
  job_.kill("@rglobal@(\"C\")", io_);
  EXPECT_EQ(eval("$d(^ROUTINE(\"C\"))"), "0");
  EXPECT_EQ(errorOf("s g=\"\" s x=$o(@g@(1))"), "<SYNTAX>");
  run("s self=\"@self\"");
  EXPECT_EQ(evalError("@self"), "<FRAMESTACK>");
}

TEST_F(CommandTest, ContinuesTheLastGlobalReferenceWithNakedReferences) {
  EXPECT_EQ(errorOf("w ^(1)"), "<NAKED>");
  run("s ^N(1,2)=\"a\",^(3)=\"b\"");
  EXPECT_EQ(eval("^N(1,3)_$g(^(2))"), "ba");
  // A reference without subscripts leaves the indicator undefined.
  EXPECT_EQ(errorOf("s ^N=0,^(5)=1"), "<NAKED>");
  EXPECT_EQ(eval("$d(^N(5))"), "0");
}

TEST_F(CommandTest, XecutesAndNews) {
  EXPECT_EQ(output("x \"w 1 q  w 2\" w 3"), "13");
  run("s a=1 x \"n a s a=2\"");
  EXPECT_EQ(eval("a"), "1");
  EXPECT_EQ(output("x \"w 4\":0,\"w 5\":1"), "5");
}

TEST_F(CommandTest, WritesCharactersAndTracksTheColumn) {
  EXPECT_EQ(output("w !,*65,*66,?4,$x"), "\r\nAB  4");
  EXPECT_EQ(output("w !,\"abcdef\",?3,\"x\""), "\r\nabcdefx");
}

TEST_F(CommandTest, ReportsErrorsAndStaysUsable) {
  struct Case {
    const char* line;
    const char* error;
  } cases[] = {
      {"w nope", "<UNDEFINED> *nope"}, {"s x=", "<SYNTAX>"},         {"bogus 1", "<SYNTAX>"},
      {"w 1/0", "<DIVIDE>"},           {"d ^NOSUCH", "<NOROUTINE> *NOSUCH"},
      {"d x^%srv", "<NOLINE> *x^%srv"}, {"w $s(0:1)", "<SELECT>"},   {"s x(\"\")=1", "<SUBSCRIPT> *x(\"\")"},
      {"w $v(\"x\",1)", "<FUNCTION>"},  {"s  x=1", "<SYNTAX>"},       {"w \"a\" \"b\"", "<SYNTAX>"},
      {"s x=$j(1,40000)", "<MAXSTRING>"}, {"o 1", "<COMMAND>"},     {"j x", "<NOLINE> *x"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.line), c.error) << c.line;
  run("s big=$j(\"\",32767)");
  EXPECT_EQ(errorOf("s big=big_\"x\""), "<MAXSTRING>");
  EXPECT_EQ(errorOf("d ^NOSUCH"), "<NOROUTINE> *NOSUCH");
  EXPECT_EQ(output("w \"still fine\""), "still fine");
}

TEST_F(CommandTest, ListsVariablesWithArgumentlessWriteAndZwrite) {
  run("s b(1,\"x\")=\"q\"\"\",a=12");
  EXPECT_EQ(output("w"), "a=12\r\nb(1,\"x\")=\"q\"\"\"\r\n");
  run("s ^Z(2)=\"two\",^Z(10,\"a\")=1,^Z=0");
  EXPECT_EQ(output("zw ^Z,b(1)"),
            "^Z=0\r\n^Z(2)=\"two\"\r\n^Z(10,\"a\")=1\r\nb(1,\"x\")=\"q\"\"\"\r\n");
}

TEST_F(CommandTest, PassesConnectionFailuresThrough) {
  struct FailingIo : RecordingIo {
    void write(std::string_view) override { throw std::runtime_error("connection lost"); }
  } failing;
  EXPECT_THROW(job_.execute("w 1", failing), std::runtime_error);
  EXPECT_EQ(output("w 2"), "2");
}

TEST_F(CommandTest, HaltEndsTheJob) {
  EXPECT_EQ(output("w 1 h  w 2"), "1");
  EXPECT_TRUE(job_.halted());
}

// H with an argument is HANG; HALT spelled out takes none, and HANG needs one.
TEST_F(CommandTest, TellsHaltFromHang) {
  for (const char* line : {"halt 1", "HALT 0", "hang", "s x=1 hang  w x"})
    EXPECT_EQ(errorOf(line), "<SYNTAX>") << line;
  EXPECT_FALSE(job_.halted());
  EXPECT_EQ(output("h 0 w 1 hang 0 w 2"), "12");
  EXPECT_FALSE(job_.halted());
  EXPECT_EQ(output("w 3 halt  w 4"), "3");
  EXPECT_TRUE(job_.halted());
}

TEST_F(CommandTest, EvaluatesFunctions) {
  struct Case {
    const char* expression;
    const char* expected;
  } cases[] = {
      {"$a(\"AB\")", "65"},            {"$a(\"AB\",2)", "66"},        {"$a(\"\")", "-1"},
      {"$c(72,105,-1,256)", "Hi"},     {"$e(\"hello\",2,4)", "ell"},  {"$e(\"hello\")", "h"},
      {"$e(\"hello\",9)", ""},         {"$f(\"abcabc\",\"c\")", "4"}, {"$f(\"abcabc\",\"c\",4)", "7"},
      {"$f(\"abc\",\"z\")", "0"},      {"$j(5,3)", "  5"},            {"$j(3.14159,7,2)", "   3.14"},
      {"$j(.5,1,2)", "0.50"},          {"$j(\"long\",2)", "long"},    {"$l(\"abc\")", "3"},
      {"$l(\"a,b,c\",\",\")", "3"},    {"$l(\"\",\",\")", "1"},       {"$p(\"a^b^c\",\"^\",2)", "b"},
      {"$p(\"a^b^c\",\"^\",2,3)", "b^c"}, {"$p(\"a^b\",\"^\",5)", ""}, {"$p(\"a::b\",\"::\",2)", "b"},
      {"$s(0:\"a\",1:\"b\")", "b"},    {"$tr(\"abc\",\"ab\",\"A\")", "Ac"},
      {"$zupper(\"aBc1\")", "ABC1"},   {"$zu(\"x\")", "X"},           {"$re(\"abc\")", "cba"},
      {"$l($h,\",\")", "2"},           {"$j", "7"},                   {"$v(\"proc\",6)", ""},
      {"$na(^G(1,\"a\"))", "^G(1,\"a\")"}, {"$r(1)", "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval(c.expression), c.expected) << c.expression;
}

}  // namespace
}  // namespace mengine::test
