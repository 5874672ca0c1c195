// kvrdbrorsa and kvrdbrostd: the exact bytes of both layouts, where the
// output goes, and what a failure leaves behind.

#include "format_fixture.h"
#include "pipes.h"

namespace kvrtest {
namespace {


class RoutineSetExportTest : public FormatTest {
 protected:
  void StoreSample() {
    StoreRoutine("^ROUTINE", "B", {"B ; int", "", " q"}, "66000,10");
    StoreRoutine("^ROUTINE", "%A", {"%A q"}, "66001,20");
    StoreRoutine("^ROUTINE", "M", {"M ; int of M"}, "66002,30");
    StoreRoutine("^rMAC", "M", {"M ; mac"}, "66003,40");
    StoreRoutine("^rINC", "Z", {"#define Z 1"});
  }
};

TEST_F(RoutineSetExportTest, RsaBytesSectionOrderAndStandardOutput) {
  StoreSample();
  const std::string expected = std::string(kRsaHead) +
                               "Z^INC^^^\n#define Z 1\n\n"
                               "%A^INT^^66001,20^\n%A q\n\n"
                               "B^INT^^66000,10^\nB ; int\n \n q\n\n"
                               "M^INT^^66002,30^\nM ; int of M\n\n"
                               "M^MAC^^66003,40^\nM ; mac\n\n"
                               "\n";
  RunResult r = Run("kvrdbrorsa", {"*.INT,*.mac,*.inc"});
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 0);
  r = Run("kvrdbrorsa", {"*.INT,*.mac,*.inc", "out.rsa"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir_.read("out.rsa"), expected);
  r = Run("kvrdbrorsa", {"nothing*", "none.rsa"});
  EXPECT_EQ(dir_.read("none.rsa"), std::string(kRsaHead) + "\n");
}

TEST_F(RoutineSetExportTest, AnsiBytesHoldOnlyIntRoutinesWithBareNames) {
  StoreSample();
  const std::string expected = std::string(kAnsiHead) +
                               "%A\n%A q\n\n"
                               "B\nB ; int\n \n q\n\n"
                               "M\nM ; int of M\n\n"
                               "\n";
  RunResult r = Run("kvrdbrostd", {"*.INT,*.mac,*.inc"});
  EXPECT_EQ(r.out, expected);
  r = Run("kvrdbrostd", {"*", "out.std"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir_.read("out.std"), expected);
  r = Run("kvrdbrostd", {"*.mac,*.inc", "none.std"});
  EXPECT_EQ(dir_.read("none.std"), std::string(kAnsiHead) + "\n");
}

TEST_F(RoutineSetExportTest, MissingMaskAndUncreatableFile) {
  RunResult r = Run("kvrdbrostd", {});
  EXPECT_EQ(r.out, "Routines for export does not specified.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\nExport one or more routines from database in ANSI "
                                "format.\n"));
  EXPECT_EQ(r.status, 255);
  ASSERT_EQ(mkdir(dir_.file("adir").c_str(), 0755), 0);
  for (const std::string& target : {std::string("adir"), std::string("nodir/out.rsa")}) {
    r = Run("kvrdbrorsa", {"*", target});
    EXPECT_TRUE(r.err.starts_with("Failed to open file '" + target + "' to write.\nKovra CommandLine Tools.\n"))
        << r.err;
    EXPECT_EQ(r.status, 255);
  }
}

// The development server holds strings of at most 32767 bytes, so a routine
// line of that length cannot be written out with its line feed: the line
// fails on the server, and the file must stay as it was.
TEST_F(RoutineSetExportTest, FailedLineLeavesTheExistingFileUntouched) {
  StoreRoutine("^ROUTINE", "A", {"A q"});
  M("s ^ROUTINE(\"LONG\")=\"1,32767\",^ROUTINE(\"LONG\",1)=$j(\"\",32767)");
  dir_.write("out.rsa", "previous export\n");
  dir_.write("out.std", "previous export\n");
  for (const auto& [tool, file] : {std::pair{"kvrdbrorsa", "out.rsa"}, std::pair{"kvrdbrostd", "out.std"}}) {
    const RunResult r = Run(tool, {"*", file});
    EXPECT_EQ(r.status, 1) << tool;
    EXPECT_NE(r.err, "") << tool;
  }
  EXPECT_EQ(dir_.read("out.rsa"), "previous export\n");
  EXPECT_EQ(dir_.read("out.std"), "previous export\n");
  EXPECT_EQ(Listing(), "out.rsa out.std ");  // no temporary file left
}

TEST_F(RoutineSetExportTest, NamesThatWouldBreakTheMLineAreSkipped) {
  StoreRoutine("^ROUTINE", "OK", {"OK q"});
  M("s ^ROUTINE(\"X\"\")\")=\"1,1\",^ROUTINE(\"X\"\")\",1)=\"x\"");
  const RunResult r = Run("kvrdbrostd", {"*", "out.std"});
  EXPECT_EQ(r.err, "Skipping routine X\"): not a valid routine name.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("out.std"), std::string(kAnsiHead) + "OK\nOK q\n\n\n");
}

// Standard output is a one-page pipe the test drains only after stopping the
// server, so the tool is caught in the middle of its export.
TEST_F(RoutineSetExportTest, LostConnectionWhileWritingStandardOutput) {
  for (int i = 0; i < 40; ++i)
    M("s ^ROUTINE(\"R" + std::to_string(100 + i) + "\")=\"1,20000\",^ROUTINE(\"R" + std::to_string(100 + i) +
      "\",1)=$j(\"\",20000)");
  HeldRun run(toolPath("kvrdbrorsa"), {"*"}, dir_.path(), dir_.file("err.txt"));
  ASSERT_TRUE(run.waitForOutput());
  server_->kill();
  EXPECT_EQ(run.finish(), 1);
  EXPECT_LT(run.output().size(), 40u * 20000u);
  EXPECT_NE(dir_.read("err.txt"), "");
}

}  // namespace
}  // namespace kvrtest
