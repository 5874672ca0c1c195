// kvrdbcompile against kvrdevserver: what the compiler reports for lines
// that do not parse, and that a clean routine adds nothing to the listing.
#include "tool_fixture.h"

namespace kvrtest {
namespace {

using CompileReportTest = ToolTest;

TEST_F(CompileReportTest, ShowsEachBadLineWithACaretAndACount) {
  StoreRoutine("^ROUTINE", "bad", {"bad ; broken", "\tw 1,(2", " s x=$nope(1) q", " q"});
  const RunResult r = Run("kvrdbcompile", {"bad"});
  EXPECT_EQ(r.out,
            "Compile bad.INT\n"
            "bad+1: <SYNTAX>\n\tw 1,(2\n\t      ^\n"
            "bad+2: <FUNCTION>\n s x=$nope(1) q\n      ^\n"
            "2 errors in bad\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Exists("^rOBJ(\"bad\")"), "0");
}

TEST_F(CompileReportTest, CleanRoutinesWithZNamesPrintOnlyTheirName) {
  StoreRoutine("^ROUTINE", "zed", {"zed ; implementation names", "\tzshow \"*\" w $zdate($h)",
                                   " s $ztrap=\"\" q"});
  const RunResult r = Run("kvrdbcompile", {"zed"});
  EXPECT_EQ(r.out, "Compile zed.INT\n");
  EXPECT_EQ(Exists("^rOBJ(\"zed\")"), "1");
}

}  // namespace
}  // namespace kvrtest
