// kvrdblist, kvrdbrfirst and kvrdbcompile: what a mask selects and in which
// order it is shown or compiled.
#include "tool_fixture.h"

namespace kvrtest {
namespace {

class ListingTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    StoreRoutine("^ROUTINE", "a1", {"a1 ; first of a1", " q"});
    StoreRoutine("^ROUTINE", "Z1", {"Z1 ; first of Z1"});
    StoreRoutine("^ROUTINE", "10", {"x"});
    StoreRoutine("^ROUTINE", "9", {"y"});
    StoreRoutine("^ROUTINE", "both", {"both ; int"});
    StoreRoutine("^rMAC", "both", {"both ; mac"});
    StoreRoutine("^rINC", "inc1", {"inc1 ; include"});
    M("s ^ROUTINE(\"noline\")=\"0,0\"");
  }
};

TEST_F(ListingTest, DefaultMaskListsIntRoutinesInByteOrder) {
  // The server hands names back numbers first (9 before 10); the listing is
  // in plain byte order.
  const RunResult r = Run("kvrdblist", {});
  EXPECT_EQ(r.out, "10.INT\n9.INT\nZ1.INT\na1.INT\nboth.INT\nnoline.INT\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ListingTest, ExtensionsAsWrittenAndUnknownOnesMeanInt) {
  EXPECT_EQ(Run("kvrdblist", {"a*.int,inc*.Inc"}).out, "a1.int\ninc1.Inc\n");
  EXPECT_EQ(Run("kvrdblist", {"Z*.obj,a*"}).out, "Z1.INT\na1.INT\n");
}

TEST_F(ListingTest, SameRoutineInTwoTypesTwiceAndTwoMatchesOfOneTypeOnce) {
  EXPECT_EQ(Run("kvrdblist", {"b*.MAC,b*.INT"}).out, "both.INT\nboth.MAC\n");
  EXPECT_EQ(Run("kvrdblist", {"a*,a1"}).out, "a1.INT\n");
}

TEST_F(ListingTest, NormalisedMaskIsLeftInTheDatabase) {
  Run("kvrdblist", {"a*.int,x.obj"});
  EXPECT_EQ(M("w ^TRM(\"mask\")"), "a*.int,x.INT");
}

TEST_F(ListingTest, NothingMatchedListsNothing) {
  const RunResult r = Run("kvrdblist", {"nosuch*"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ListingTest, FirstLinesAfterATab) {
  const RunResult r = Run("kvrdbrfirst", {"*.int,both.mac"});
  EXPECT_EQ(r.out,
            "10.int\tx\n9.int\ty\nZ1.int\tZ1 ; first of Z1\na1.int\ta1 ; first of a1\n"
            "both.int\tboth ; int\nboth.mac\tboth ; mac\nnoline.int\t\n");
  EXPECT_EQ(r.status, 0);
  // kvrdbrfirst leaves no mask behind.
  EXPECT_EQ(M("w $d(^TRM(\"mask\"))"), "0");
}

class CompileTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    StoreRoutine("^ROUTINE", "i2", {"i2 ; int", " q"});
    StoreRoutine("^ROUTINE", "i1", {"i1 ; int", " q"});
    StoreRoutine("^rMAC", "m1", {"m1 ; mac", " q"});
    StoreRoutine("^rINC", "c1", {"c1 ; include"});
  }
};

TEST_F(CompileTest, IntRoutinesBeforeMacRoutinesAndNoIncludes) {
  const RunResult r = Run("kvrdbcompile", {"*.mac,*.inc,*"});
  EXPECT_EQ(r.out, "Compile i1.INT\nCompile i2.INT\nCompile m1.MAC\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Exists("^rOBJ(\"i1\")"), "1");
  EXPECT_EQ(Exists("^ROUTINE(\"m1\")"), "1");  // generated from the macro source
  EXPECT_EQ(Exists("^rOBJ(\"c1\")"), "0");
}

TEST_F(CompileTest, IncludeFilesAloneCompileNothing) {
  const RunResult r = Run("kvrdbcompile", {"*.INC"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(CompileTest, CompilerMessagesAreShown) {
  StoreRoutine("^ROUTINE", "bad", {"bad ; broken", " s =", " q"});
  const RunResult r = Run("kvrdbcompile", {"bad"});
  EXPECT_TRUE(r.out.starts_with("Compile bad.INT\n")) << r.out;
  EXPECT_NE(r.out.find("bad+1: <SYNTAX>"), std::string::npos) << r.out;
}

TEST_F(CompileTest, RoutineSelectedAsIntAndMacIsCompiledFromItsMacroSource) {
  StoreRoutine("^ROUTINE", "m1", {"m1 ; old int"});
  const RunResult r = Run("kvrdbcompile", {"m1.int,m1.mac"});
  EXPECT_EQ(r.out, "Compile m1.MAC\n");
  EXPECT_EQ(M("w ^ROUTINE(\"m1\",1)"), "m1 ; mac");
}

TEST_F(CompileTest, NoMaskFailsWithStatus255) {
  const RunResult r = Run("kvrdbcompile", {});
  EXPECT_EQ(r.out, "Routines for compilation does not specified.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\nCompile one or more routines in database.\n"));
  EXPECT_EQ(r.status, 255);
}

}  // namespace
}  // namespace kvrtest
