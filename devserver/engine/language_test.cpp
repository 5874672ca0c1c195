// The language: every construct of the standard parses, Z names parse and
// fail only when run, malformed lines fail at the right column, and the
// compiler shows where.
#include "engine_test_support.h"
#include "parser.h"

namespace mengine::test {
namespace {

// Lines in the standard's own style, one or more constructs each.
const char* const kStandardLines[] = {
    "LABEL(A,B) ; formal parameters and a comment",
    " SET X=1,(Y,Z)=2,$PIECE(A,\",\",2)=3,$EXTRACT(B,1,2)=\"ab\",@N=4,@G@(1)=5",
    " S $X=10,$Y=2,$ECODE=\"\",$ETRAP=\"Q\"",
    " DO A,B^R,C+2^R,@X,@X^@Y,^@Y,A:X=1,B(1,.C,,D):Y DO:Z  Q",
    " D @(\"TAG\"_N):N>1 G RD:\"@\"'[X,A:X=\"@\"",
    " G @(\"TAG\"_N) G TAG+3^ROU:1",
    " I X W !,\"a\",?10,*7,#,$X E  W \"b\"",
    " F I=1:1:10,20,30:-1:25 W I F  Q:I>5  S I=I+1",
    " K A,(B,C),@X K  N A,(B),$ETRAP,$ESTACK N  L +^A(1):5,-^B,(^C,^D):0 L",
    " M X1=X,X2=^G(1),@Y",
    " R X:DTIME,!,\"prompt: \",Y:300,*C,Z#5:0,@R",
    " U IO U $P:(WIDTH=80:NOWRAP) O D:(newversion):5 O F:\"R\"::\"SEQ\" C D:DELETE",
    " TSTART  TS () TS (A,B):SERIAL TS *:(SERIAL:TRANSACTIONID=\"X\") TCOMMIT  TRO  TRESTART",
    " J ^JOB:(PRI=1):10 B  B 1 V \"X\":1:2 H 1 H  X \"W 1\":1,@X",
    " Q:X $$F^R(1)+$$@X^R+$&ext.fn(.A)",
    " W $T(DATA+I),$T(+N^@X),$T(@X),$T(+0),$T(^ROU),$TEXT(LABEL^ROU)",
    " W $FN(X,\"+,\",2),$QS(N,2),$QL(N),$NA(^G(1,2),1),$I(^C),$I(X,2),$N(A(-1)),$ST(1,\"PLACE\")",
    " W $D(^$ROUTINE(R)),$O(^$GLOBAL(\"\")),^|\"USER\"|X(1),^[\"USER\"]Y,$G(^|E|Z)",
    " W $P,$SY,$EC,$ES,$ET,$TL,$TR,$Q,$K,$D,$ST,$IO,$J,$H,$S,$T",
    " W X'<Y,X'>Y,X'=Y,X']Y,X]]Y,X'[Y,X'?1N,X?@P,X?1.3N1\".\"1(1A,2N).E",
    " W $S(X:1,1:0),$C(65,66),$J(1,5,2),$TR(X,\"a\",\"b\"),$RE(X),$R(10),$V(\"X\")",
    "TAG . . W \"dots\"  Q",
    "\tSet x=1\t\t; tabs separate as blanks do",
    "; a line that is only a comment",
    " Do:(flush)\t\t; argumentless with a comment",
    " Quit:done  Set keeptype=FALSE;",
    " if 0<=apm set:(12=hr)&(apm<2) hr=apm*hr",
    " do @fmtrtn@(varname,offorlen)",
};

TEST(LanguageTest, ParsesEveryConstructOfTheStandard) {
  for (const char* line : kStandardLines) {
    try {
      parseRoutineLine(line, true);
    } catch (const ParseError& e) {
      ADD_FAILURE() << line << "\n" << e.what() << " at column " << e.column();
    }
  }
}

// Implementation-specific names parse by the general syntax.
TEST(LanguageTest, ParsesZNamesByTheGeneralSyntax) {
  for (const char* line :
       {" ZSHOW \"*\":ZSH ZSYSTEM \"ls -l\" ZMESSAGE 150:\"x\" ZGOTO 1:TAG^ROU",
        " S $ZTRAP=\"\",$ZPIECE(X,\"^\",2)=1,$ZFOO(1,,3)=2 W $ZVER,$ZDATE($H,\"YEAR\",,),$ZL(X,\"a\")",
        " ZWRITE $ZVERSION,$ECODE,X ZWR ^G Q *fields", " zhalt:x 2 ZK X(1)"}) {
    try {
      parseRoutineLine(line, true);
    } catch (const ParseError& e) {
      ADD_FAILURE() << line << "\n" << e.what() << " at column " << e.column();
    }
  }
}

TEST(LanguageTest, StopsAtTheColumnOfTheError) {
  struct Case {
    const char* line;
    const char* error;
    size_t column;
  } cases[] = {
      {" S X=", "<SYNTAX>", 5},         {" W 1 bogus", "<SYNTAX>", 5},
      {" S X=(1+2", "<SYNTAX>", 9},     {" W $BOGUS(1)", "<FUNCTION>", 4},
      {" W $BOGUS", "<SVN>", 4},         {" E 1", "<SYNTAX>", 3},
      {" HALT 1", "<SYNTAX>", 6},       {" S $P(X)=1", "<SYNTAX>", 7},
      {" W \"abc", "<SYNTAX>", 7},      {" D  ,", "<SYNTAX>", 4},
      {" ZX \"a", "<SYNTAX>", 6},        {" W ^$NOPE(1)", "<SYNTAX>", 5},
      {"LABEL(A", "<SYNTAX>", 7},       {" W $D(1)", "<SYNTAX>", 6},
      {" K ($ET)", "<SYNTAX>", 4},      {" N $NOPE", "<SVN>", 4},
  };
  for (const auto& c : cases) {
    try {
      parseRoutineLine(c.line, true);
      ADD_FAILURE() << c.line << " parsed";
    } catch (const ParseError& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << c.line;
      EXPECT_EQ(e.column(), c.column) << c.line;
    }
  }
}

using CompilerTest = EngineTest;

TEST_F(CompilerTest, ShowsEachErrorWithACaretAndCountsThem) {
  storeRoutine("OK", {"OK ; fine", "\tzshow \"*\" q", " s $x=1,x=$fn(1,\"+\")"});
  EXPECT_EQ(output("d compile^%RCOMPIL(\"OK.INT\")"), "");
  EXPECT_EQ(eval("$d(^rOBJ(\"OK\"))"), "1");
  storeRoutine("ONE", {"ONE", "\tw 1,(2", " q"});
  EXPECT_EQ(output("d compile^%RCOMPIL(\"ONE.INT\")"),
            "ONE+1: <SYNTAX>\n\tw 1,(2\n\t      ^\n1 error in ONE\n");
  storeRoutine("TWO", {"TWO s x=$zz(1) w $nope(2)", " i 1 e 2", "\r"});
  EXPECT_EQ(output("d compile^%RCOMPIL(\"TWO.INT\")"),
            "TWO: <FUNCTION>\nTWO s x=$zz(1) w $nope(2)\n                  ^\n"
            "TWO+1: <SYNTAX>\n i 1 e 2\n       ^\n2 errors in TWO\n");
  EXPECT_EQ(eval("$d(^rOBJ(\"TWO\"))"), "0");
}

using RunTest = EngineTest;

TEST_F(RunTest, FailsOnlyWhenAZNameRuns) {
  EXPECT_EQ(errorOf("zshow \"*\""), "<COMMAND>");
  EXPECT_EQ(output("i 0 zshow \"*\""), "");
  EXPECT_EQ(evalError("$zdate($h)"), "<FUNCTION>");
  EXPECT_EQ(evalError("$zstatus"), "<SVN>");
  EXPECT_EQ(errorOf("s $ztrap=1"), "<SVN>");
  EXPECT_EQ(errorOf("s $zfoo(x)=1"), "<FUNCTION>");
  EXPECT_EQ(eval("$zextract(\"hello\",2,3)_$zpiece(\"a^b\",\"^\",2)_$zlength(\"abc\")"), "elb3");
  for (const char* cmd : {"VIEW", "TRESTART"}) {
    std::string line = std::string(cmd) + (std::string(cmd) == "TRESTART" ? "" : " 1");
    EXPECT_EQ(errorOf(line), std::string("<COMMAND> *") + cmd + " not available") << line;
  }
  EXPECT_EQ(evalError("$&ext.fn(1)"), "<FUNCTION> *$&ext.fn(1) not available");
}

TEST_F(RunTest, EvaluatesTheStandardsFunctions) {
  struct Case {
    const char* expression;
    const char* expected;
  } cases[] = {
      {"$fn(3.1415,\"+\")", "+3.1415"},   {"$fn(-3,\"-\")", "3"},
      {"$fn(1234567.5,\",\")", "1,234,567.5"}, {"$fn(-12,\"T\")", "12-"},
      {"$fn(12,\"T+\")", "12+"},          {"$fn(-12,\"P\")", "(12)"},
      {"$fn(12,\"P\")", " 12 "},          {"$fn(.5,\"\",2)", "0.50"},
      {"$fn(-1234.567,\",\",1)", "-1,234.6"}, {"$fn(0,\"+\")", "0"},
      {"$qs(\"^A(1,\"\"x\"\")\",0)", "^A"}, {"$qs(\"^A(1,\"\"x\"\")\",2)", "x"},
      {"$qs(\"^A(1,\"\"x\"\")\",3)", ""},   {"$ql(\"^A(1,\"\"x\"\")\")", "2"},
      {"$ql(\"X\")", "0"},                 {"$qs(\"^|\"\"USER\"\"|B(2)\",-1)", "USER"},
      {"$na(^G(1,2,3),2)", "^G(1,2)"},     {"$na(^G(1,2,3),0)", "^G"},
      {"$na(x(\"a\",1),5)", "x(\"a\",1)"}, {"3<=3_(4>=5)_(2'<1)", "101"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval(c.expression), c.expected) << c.expression;
  EXPECT_EQ(evalError("$fn(1,\"+P\")"), "<FUNCTION> *$FNUMBER codes +P");
}

TEST_F(RunTest, IncrementsAndWalksWithNext) {
  EXPECT_EQ(eval("$i(^C)_$i(^C)_$i(^C,10)_$i(x,-2)"), "1212-2");
  run("s a(1)=1,a(5)=5");
  EXPECT_EQ(eval("$n(a(-1))_\",\"_$n(a(1))_\",\"_$n(a(5))"), "1,5,-1");
}

TEST_F(RunTest, MergesAnyArgumentsAndSetsTheCursor) {
  run("s x(1)=1,x(1,2)=2,^G(3)=3,arg=\"z=x\"");
  run("m y=x,^H(\"a\")=x,w=^G,@arg");
  EXPECT_EQ(eval("y(1,2)_^H(\"a\",1)_w(3)_z(1)"), "2131");
  EXPECT_EQ(output("s $x=5 w $x,\"|\" s $y=3 w $y"), "5|3");
  EXPECT_EQ(errorOf("s $x=-1"), "<ILLEGAL VALUE>");
  EXPECT_EQ(errorOf("s $h=1"), "<SVN> *$H cannot be set");
}

TEST_F(RunTest, ReadsGlobalsOfOtherDatabasesAndTheStructuredVariables) {
  run("zn \"USER\" s ^X(1)=\"user\" zn \"%SYS\" s ^X(1)=\"sys\"");
  EXPECT_EQ(eval("^|\"USER\"|X(1)_^[\"user\"]X(1)_^X(1)"), "userusersys");
  run("s ^|\"USER\"|Y=2");
  EXPECT_EQ(eval("$d(^Y)_$g(^|\"USER\"|Y)"), "02");
  EXPECT_EQ(evalError("^|\"NOPE\"|X"), "<NAMESPACE> *NOPE");
  storeRoutine("RA", {"RA q"});
  storeRoutine("RB", {"RB q"});
  EXPECT_EQ(eval("$d(^$ROUTINE(\"RA\"))_$d(^$R(\"NONE\"))_$o(^$ROUTINE(\"RA\"))"), "10RB");
  EXPECT_EQ(eval("$o(^$GLOBAL(\"\"))_\",\"_$o(^$G(\"^ROUTINE\"))_\",\"_$d(^$G(\"^X\"))"),
            "^ROUTINE,^X,1");
  EXPECT_EQ(errorOf("k ^$ROUTINE(\"RA\")"), "<SVN> *^$ROUTINE(\"RA\") cannot be killed");
  EXPECT_EQ(evalError("^$JOB(1)"), "<SVN> *^$JOB(1)");
}

TEST_F(RunTest, ReadsLineTextByEveryFormOfEntryReference) {
  storeRoutine("TX", {"TX ; top", "DATA ;;one", " ;;two", "END q"});
  run("s i=2,x=\"TX\",e=\"DATA+1^TX\"");
  EXPECT_EQ(eval("$t(DATA+i^TX)_\"|\"_$t(+2^@x)_\"|\"_$t(@e)_\"|\"_$t(+0^TX)"),
            "END q|DATA ;;one| ;;two|TX");
  EXPECT_EQ(output("d ^TX w $t(+1^TX)"), "TX ; top");
  storeRoutine("GO", {"GO s n=2 g @(\"T\"_n)", "T1 w 1 q", "T2 w 2 d @x^@r q"});
  run("s x=\"T1\",r=\"GO\"");
  EXPECT_EQ(output("d ^GO"), "21");
  EXPECT_EQ(output("s x=\"@\" g:0 T1^GO d T2^GO:\"@\"'[x,T1^GO:x=\"@\""), "1");
}

}  // namespace
}  // namespace mengine::test
