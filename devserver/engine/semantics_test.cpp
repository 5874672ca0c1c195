// The standard's order of evaluation and the corners of the language where
// an engine is easily wrong: the naked indicator, argument indirection,
// exclusive KILL and NEW, FOR's start value, $TEXT, $FNUMBER, $FIND,
// SET $PIECE/$EXTRACT, ]], $QUERY, by-reference indirection, pattern
// counts, and the standard's error codes.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

using SemanticsTest = EngineTest;

TEST_F(SemanticsTest, TheRightSideOfSetAndMergeIsReferencedFirst) {
  run("k ^A,^B,^C s ^A(1,2)=5 s ^B=^(2)");
  EXPECT_EQ(eval("^B"), "5");
  // The left side's subscripts come before the right side.
  run("s ^A(1,2)=5 s ^C(^A(1,2))=^(2)");
  EXPECT_EQ(eval("^C(5)"), "5");
  // A naked target continues the reference made by the right side.
  run("s ^A(1,2)=5,^B(1)=7 s ^(3)=^B(1)");
  EXPECT_EQ(eval("$d(^B(3))_$d(^A(1,3))"), "10");
  // Each target of a list sets the indicator in turn.
  run("k ^B s ^A(1,2)=5 s (^B(4),^(5))=^A(1,2)");
  EXPECT_EQ(eval("^B(4)_^B(5)"), "55");
  run("k ^B s ^B(1)=\"1\",^A(1,2)=5 s $p(^B(1),\",\",2)=^(2)");
  EXPECT_EQ(eval("^B(1)"), "1,5");
  run("k ^B s ^A(1,2)=5 m ^B(2)=^(2)");
  EXPECT_EQ(eval("^B(2)"), "5");
}

TEST_F(SemanticsTest, NameLeavesTheNakedIndicatorAlone) {
  run("k ^A,^B s ^A(1,2)=5,^B(1)=1");
  EXPECT_EQ(eval("$d(^A(1,2))_$na(^B(3))_^(2)"), "1^B(3)5");
  EXPECT_EQ(eval("$d(^A(1,2))_$na(^(9))"), "1^A(1,9)");
  // $ORDER, $QUERY and $GET do set it.
  EXPECT_EQ(eval("$d(^A(1,2))_$o(^B(3))_$d(^(1))"), "11");
  EXPECT_EQ(evalError("$g(^B(3),^(2))"), "<UNDEFINED> *^B(2)");
  run("k ^A");
  EXPECT_EQ(errorOf("s ^A(1,2)=1 k ^A(1,2) s x=^(2)"), "<UNDEFINED> *^A(1,2)");
}

TEST_F(SemanticsTest, AnIndirectArgumentMayBeAListOrAnExclusiveForm) {
  EXPECT_EQ(output("s A=\"1=1,0\" i @A w \"yes\""), "");
  EXPECT_EQ(output("s A=\"1=1,2\" i @A w \"yes\""), "yes");
  EXPECT_EQ(output("s X=\"Y,Z\",Y=\"w 1\",Z=\"w 2\" x @X"), "12");
  run("k  s B=1,D=2,E=3,F=4,A=\"(B),D,E\" k @A");
  EXPECT_EQ(eval("$d(A)_$d(B)_$d(D)_$d(E)_$d(F)"), "01000");
  run("k  s A=1,B=2");
  EXPECT_EQ(output("x \"n @\"\"(A)\"\" s A=3 w $d(B)\" w A,$d(B)"), "031");
  run("s X=\"+^L(1):0\" l @X");
  EXPECT_EQ(eval("$t"), "1");
  run("s X=\"-^L(1)\" l @X");
  EXPECT_EQ(output("s X=\"0,0\" h @X w \"after\""), "after");
  EXPECT_EQ(errorOf("s X=\"1,\" i @X"), "<SYNTAX>");
  // An argument that names itself fails instead of exhausting the stack.
  for (const char* cmd : {"s", "i", "k", "x", "l", "h", "w", "d", "j"})
    EXPECT_EQ(errorOf(std::string("s A=\"@A\" ") + cmd + " @A"), "<FRAMESTACK>") << cmd;
}

TEST_F(SemanticsTest, ExclusiveKillAndNewActArgumentByArgument) {
  run("k  s A=1,B=2,C=3 k (A,B),(A,C)");
  EXPECT_EQ(eval("$d(A)_$d(B)_$d(C)"), "100");
  run("k  s A=1,B=2 k (A),B");
  EXPECT_EQ(eval("$d(A)_$d(B)"), "10");
  // A kept out of NEW keeps what it is given inside, even when it was
  // undefined at the NEW; the others come back.
  run("k  s B=1 x \"n (A) s A=1,B=2,C=3\"");
  EXPECT_EQ(eval("$d(A)_B_$d(C)"), "110");
  run("k  s A=1 x \"n (A) k A\"");
  EXPECT_EQ(eval("$d(A)"), "0");
}

TEST_F(SemanticsTest, ForAssignsTheStartValueEvenWhenTheBodyNeverRuns) {
  EXPECT_EQ(output("s I=0 x \"f I=5:10:2 s X=1\" w I"), "5");
  EXPECT_EQ(output("f I=1:1:3 s X=1"), "");
  EXPECT_EQ(eval("I"), "3");
  EXPECT_EQ(output("f I=3:-1:1 w I"), "321");
}

TEST_F(SemanticsTest, TextGivesTheLineStartAsOneSpace) {
  storeRoutine("TX", {"TX ; first", "A\t\ts X=1", " w 2", "B(X,Y)\t; c", "C"});
  EXPECT_EQ(eval("$t(A^TX)"), "A s X=1");
  EXPECT_EQ(eval("$p($t(A^TX),\" \",2)"), "s");
  EXPECT_EQ(eval("$t(B^TX)"), "B(X,Y) ; c");
  EXPECT_EQ(eval("$t(C^TX)"), "C");
  EXPECT_EQ(eval("$t(A+-1^TX)_\"|\"_$t(B+-2^TX)_\"|\"_$t(A+-2^TX)_\"|\""), "TX ; first|A s X=1||");
  EXPECT_EQ(eval("$t(+-1^TX)"), "");
  run("s X=\"+2^TX\",Y=\"B^TX\"");
  EXPECT_EQ(eval("$t(@X)_\"|\"_$t(@Y)"), "A s X=1|B(X,Y) ; c");
}

TEST_F(SemanticsTest, CornersOfTheStringFunctions) {
  EXPECT_EQ(eval("$fn(1,\"T\")_\"|\"_$fn(-1,\"T\")_\"|\"_$fn(0,\"T\")_\"|\""), "1 |1-|0 |");
  EXPECT_EQ(eval("$f(\"ABC\",\"\",8)_$f(\"ABC\",\"\",2)_$f(\"ABC\",\"\")"), "821");
  EXPECT_EQ(eval("0]]\"\"_(1]]\"\")_(\"\"]]0)_(\"\"]]\"\")"), "1100");
  EXPECT_EQ(eval("\"ABC\"?000003U_(\"ABC\"?000000.00003U)_(\"ABCD\"?000000.00003U)"), "110");
}

TEST_F(SemanticsTest, SetPieceAndExtractOnlyTouchWhatTheySelect) {
  run("k X s $p(X,\"^\",0,-1)=\"A\",$p(X,\"^\",3,2)=\"A\",$e(X,3,2)=\"A\",$e(X,-1)=\"A\"");
  EXPECT_EQ(eval("$d(X)"), "0");
  run("k A s $p(A,\"\")=\"D\"");
  EXPECT_EQ(eval("A"), "D");
  run("s A=\"xyz\" s $p(A,\"\")=\"D\"");
  EXPECT_EQ(eval("A"), "D");
  // With no delimiter to separate them, a later piece follows the whole
  // value directly, however far along it is asked for.
  run("s A=\"xyz\",B=A,C=A,D=A s $p(A,\"\",2)=\"D\",$p(B,\"\",4,9)=\"E\",$p(C,\"\",1,3)=\"F\"");
  run("s $p(D,\"\",1E9)=\"G\" k U s $p(U,\"\",3)=\"H\"");
  EXPECT_EQ(eval("A_\"/\"_B_\"/\"_C_\"/\"_D_\"/\"_U"), "xyzD/xyzE/F/xyzG/H");
  run("s A=\"abc\" s $e(A,3,2)=\"D\",$e(A,0)=\"Z\"");
  EXPECT_EQ(eval("A"), "abc");
}

TEST_F(SemanticsTest, QueryFromAnEmptySubscriptStartsAtTheFirst) {
  run("k A s A(1)=1,A(\"a\")=2,A(2,3)=4");
  EXPECT_EQ(eval("$q(A(\"\"))"), "A(1)");
  EXPECT_EQ(eval("$q(A(2,\"\"))"), "A(2,3)");
  run("k ^Q s ^Q(5)=1,^Q(\"z\")=2");
  EXPECT_EQ(eval("$q(^Q(\"\"))"), "^Q(5)");
}

TEST_F(SemanticsTest, ByReferenceIndirectionPassesTheWholeArray) {
  storeRoutine("BR", {"BR ;", "Z(V) s V(2)=V(1)+1,V=\"top\" q"});
  run("k ARR s IX=\"ARR\",ARR(1)=5 d Z^BR(.@IX)");
  EXPECT_EQ(eval("ARR(2)_ARR"), "6top");
  EXPECT_EQ(errorOf("s IX=\"ARR(1)\" d Z^BR(.@IX)"), "<SYNTAX>");
}

// $ECODE of an error raised inside an XECUTE at direct mode, read by a trap.
class StandardCodeTest : public EngineTest {
 protected:
  std::string codeOf(const std::string& line) {
    run("k ec s $etrap=\"s ec=$ec,$ec=\"\"\"\"\"");
    run("x \"" + line + "\"");
    run("s $etrap=\"\"");
    return eval("$g(ec)");
  }
};

TEST_F(StandardCodeTest, StandardErrorsCarryTheirCodes) {
  EXPECT_EQ(codeOf("w $ql(\"\"A(B)\"\")"), ",M90,");
  EXPECT_EQ(codeOf("w $qs(\"\"A(01)\"\",1)"), ",M90,");
  EXPECT_EQ(codeOf("k A s A=1 m A(1)=A"), ",M19,");
  EXPECT_EQ(codeOf("k ^N s ^N(1)=1 w ^N(2)"), ",M7,");
  // KILL ^N has no subscripts: it leaves the naked indicator undefined.
  EXPECT_EQ(codeOf("k ^N w ^(1)"), ",M1,");
  EXPECT_EQ(codeOf("w $fn(1,\"\"P+\"\")"), ",M2,");
  EXPECT_EQ(codeOf("w $zyx"), ",M8,");
  EXPECT_EQ(codeOf("w -8**.5"), ",M95,");
  EXPECT_EQ(codeOf("q 5"), ",M16,");
  EXPECT_EQ(eval("$qs(\"A(1,\"\"x\"\",-2)\",3)_$ql(\"^|\"\"USER\"\"|G(1)\")"), "-21");
}

TEST_F(StandardCodeTest, UnknownSpecialVariablesAreM8WhenReached) {
  EXPECT_EQ(codeOf("w $foo"), ",M8,");
  EXPECT_EQ(codeOf("s $PRINCIPLE=1"), ",M8,");
  EXPECT_EQ(codeOf("n $BOGUS"), ",M8,");
  EXPECT_EQ(errorOf("w $FOO"), "<SVN>");
  EXPECT_EQ(errorOf("w 1+$QQ"), "<SVN>");
  // The line runs up to it, and not at all past an IF that skips it.
  EXPECT_EQ(output("w 1 i 0 w $FOO"), "1");
  io_.output.clear();
  EXPECT_EQ(errorOf("w 2 w $FOO w 3"), "<SVN>");
  EXPECT_EQ(io_.output, "2");
  EXPECT_EQ(errorOf("k X x \"s X=1 w $NOPE\""), "<SVN>");
  EXPECT_EQ(eval("X"), "1");
}

TEST_F(StandardCodeTest, ExtrinsicsAndLabelsWithoutFormalLists) {
  storeRoutine("TF", {
      "TF ;",
      "A q 5",
      "E() q",
      "C() n $et s $et=\"q\" q 1/0",
      "T() n $et s $et=\"s EC=$ec,$ec=\"\"\"\" q 0\" s X=$$C q EC",
  });
  EXPECT_EQ(codeOf("w $$A^TF"), ",M20,");
  EXPECT_EQ(codeOf("d A^TF(1)"), ",M20,");
  EXPECT_EQ(codeOf("w $$E^TF()"), ",M17,");
  // The trap's QUIT ends the extrinsic without a value; only the original
  // error goes on.
  EXPECT_EQ(eval("$$T^TF()_EC"), "0,M9,");
}

TEST_F(StandardCodeTest, NakedReferenceWithoutIndicator) {
  Server fresh{ServerOptions{}};
  Job job(fresh, 1);
  RecordingIo io;
  job.execute("s $etrap=\"s ec=$ec,$ec=\"\"\"\"\" s x=^(1)", io);
  EXPECT_EQ(job.evaluate("ec", io), ",M1,");
}

}  // namespace
}  // namespace mengine::test

namespace mengine::test {
namespace {

using RuntimeSyntaxTest = EngineTest;

TEST_F(RuntimeSyntaxTest, ALineRunsUpToItsSyntaxError) {
  EXPECT_EQ(output("w 1 i 0 s X=$PRINCIPLE"), "1");
  io_.output.clear();
  EXPECT_EQ(errorOf("w 2 s X=(1"), "<SYNTAX>");
  EXPECT_EQ(io_.output, "2");
  io_.output.clear();
  EXPECT_EQ(errorOf("x \"w 3 w $nofunction(1)\""), "<FUNCTION>");
  EXPECT_EQ(io_.output, "3");
  // A branch in another dialect that never runs is no obstacle.
  storeRoutine("RS", {"RS ;", "A w \"a\" q:1  s x=(1", " q", "B i 0 zz ,("});
  EXPECT_EQ(output("d A^RS,B^RS"), "a");
  // The compiler still reports both lines.
  std::string report = output("d compile^%RCOMPIL(\"RS.INT\")");
  EXPECT_NE(report.find("2 errors in RS"), std::string::npos) << report;
}

}  // namespace
}  // namespace mengine::test
