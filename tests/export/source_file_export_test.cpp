// kvrdbro: files, order and dates; update mode per type; names and failures
// that must leave the folder as it was.
#include <sys/stat.h>

#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

class PlainExportTest : public PlainFilesTest {};

TEST_F(PlainExportTest, WritesEachTypeInOrderDatedAsItsRoutine) {
  StoreRoutine("^rINC", "both", {" ; inc"}, "66000,100");
  StoreRoutine("^rMAC", "both", {"both ; mac", " q"}, "66000,200");
  StoreRoutine("^rINC", "k1", {" ; k1"}, "66000,300");
  StoreRoutine("^ROUTINE", "%P", {"%P ; percent"}, "66001,0");
  StoreRoutine("^ROUTINE", "a1", {"a1 ; gap follows", "", " q"}, "66001,5");
  StoreRoutine("^ROUTINE", "Z1", {"Z1 ; \"quoted\""}, "66001,86399");
  const RunResult r = Run("kvrdbro", {"*,*.mac,*.inc"});
  EXPECT_EQ(r.out,
            "Exporting routine both.inc\nExporting routine k1.inc\nExporting routine both.mac\n"
            "Exporting routine _P.int\nExporting routine Z1.int\nExporting routine a1.int\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read("both.inc"), " ; inc\n");
  EXPECT_EQ(dir_.read("both.mac"), "both ; mac\n q\n");
  EXPECT_EQ(dir_.read("_P.int"), "%P ; percent\n");
  EXPECT_EQ(dir_.read("a1.int"), "a1 ; gap follows\n \n q\n");  // an empty line as one blank
  EXPECT_EQ(dir_.read("Z1.int"), "Z1 ; \"quoted\"\n");
  EXPECT_EQ(ModifiedTime("both.inc"), FileTimeOf(66000, 100));
  EXPECT_EQ(ModifiedTime("both.mac"), FileTimeOf(66000, 200));
  EXPECT_EQ(ModifiedTime("Z1.int"), FileTimeOf(66001, 86399));
  EXPECT_EQ(Files(), (std::set<std::string>{"both.inc", "both.mac", "k1.inc", "_P.int", "Z1.int", "a1.int"}));
}

TEST_F(PlainExportTest, UpdateModeSkipsCurrentIntFilesButRewritesIncAndMacOfEqualDate) {
  for (const char* global : {"^rINC", "^rMAC", "^ROUTINE"}) StoreRoutine(global, "r", {"r ; stored"}, "66000,100");
  EXPECT_EQ(Run("kvrdbro", {"r,r.inc,r.mac"}).out,
            "Exporting routine r.inc\nExporting routine r.mac\nExporting routine r.int\n");
  EXPECT_EQ(Run("kvrdbro", {"r,r.inc,r.mac", "-m", "update"}).out,
            "Exporting routine r.inc\nExporting routine r.mac\n");

  // A file edited after its routine was exported is newer: left alone.
  Write("r.inc", "local edit\n", FileTimeOf(66000, 101));
  Write("r.int", "local edit\n", FileTimeOf(66000, 101));
  StoreRoutine("^rMAC", "r", {"r ; changed"}, "66000,101");
  EXPECT_EQ(Run("kvrdbro", {"-m", "UPDATE", "r,r.inc,r.mac"}).out, "Exporting routine r.mac\n");
  EXPECT_EQ(dir_.read("r.mac"), "r ; changed\n");
  EXPECT_EQ(dir_.read("r.inc"), "local edit\n");
  EXPECT_EQ(dir_.read("r.int"), "local edit\n");

  StoreRoutine("^ROUTINE", "r", {"r ; newer"}, "66000,102");
  EXPECT_EQ(Run("kvrdbro", {"r"}).out, "Exporting routine r.int\n");
  EXPECT_EQ(dir_.read("r.int"), "r ; newer\n");

  EXPECT_EQ(Run("kvrdbro", {"-M", "ALL", "r.inc"}).out, "Exporting routine r.inc\n");
  EXPECT_EQ(dir_.read("r.inc"), "r ; stored\n");
  EXPECT_EQ(ModifiedTime("r.inc"), FileTimeOf(66000, 100));
}

TEST_F(PlainExportTest, WithoutMaskItSaysSoBeforeConnecting) {
  const RunResult r = Run("kvrdbro", {"-s", "127.0.0.1", "-p", "1", "-m", "all"});  // nothing listens there
  EXPECT_EQ(r.out, "Routine mask for export need to be specified.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\nExport routines from the database.\n"));
  EXPECT_EQ(r.status, 255);
}

TEST_F(PlainExportTest, NamesThatWouldLeaveTheFolderOrTheMLineAreSkipped) {
  // The export runs in sub/, so a name that escaped would land in the test
  // folder itself.
  const std::string sub = Folder("sub");
  StoreRoutine("^ROUTINE", "ok", {"ok ; x"}, "66000,1");
  M(R"(s ^ROUTINE("../escaped",1)="x",^ROUTINE("x""),^ROUTINE(""keep",1)="x")");

  const RunResult r = RunIn(sub, "kvrdbro", {"*"});
  EXPECT_EQ(r.err,
            "Skipping routine ../escaped: not a valid routine name.\n"
            "Skipping routine x\"),^ROUTINE(\"keep: not a valid routine name.\n");
  EXPECT_EQ(r.out, "Exporting routine ok.int\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Files(), std::set<std::string>{"sub"});
  EXPECT_EQ(FilesIn(sub), std::set<std::string>{"ok.int"});
}

TEST_F(PlainExportTest, AFailedRoutineTextCallLeavesTheExistingFile) {
  // The server cannot write a line of the longest length followed by its
  // line feed, so the call fails after part of the text has arrived.
  StoreRoutine("^ROUTINE", "a", {"a ; x"}, "66000,1");
  M(R"(s ^ROUTINE("long",1)="long ; x",^ROUTINE("long",2)=$tr($j("",32767)," ","x"))");
  StoreRoutine("^ROUTINE", "z", {"z ; x"}, "66000,1");
  Write("long.int", "long ; as it was\n");
  const RunResult r = Run("kvrdbro", {"-m", "all", "*"});
  EXPECT_EQ(r.out, "Exporting routine a.int\nExporting routine long.int\nExporting routine z.int\n");
  EXPECT_TRUE(r.err.starts_with("Internal server error: '<MAXSTRING>")) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("long.int"), "long ; as it was\n");
  EXPECT_EQ(ModifiedTime("long.int"), kSomeTime);
  EXPECT_EQ(dir_.read("z.int"), "z ; x\n");
  EXPECT_EQ(Files(), (std::set<std::string>{"a.int", "long.int", "z.int"}));
}

TEST_F(PlainExportTest, AFileThatCannotBeReplacedEndsTheRun) {
  StoreRoutine("^rINC", "a", {" ; a"}, "66000,1");
  StoreRoutine("^ROUTINE", "x", {"x ; x"}, "66000,1");
  StoreRoutine("^ROUTINE", "y", {"y ; y"}, "66000,1");
  ASSERT_EQ(mkdir(dir_.file("x.int").c_str(), 0755), 0);
  const RunResult r = Run("kvrdbro", {"-m", "all", "*,*.inc"});
  EXPECT_EQ(r.out, "Exporting routine a.inc\nExporting routine x.int\n");
  EXPECT_TRUE(r.err.starts_with("Failed to open file 'x.int' to write.\nKovra CommandLine Tools.\n")) << r.err;
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(Files(), (std::set<std::string>{"a.inc", "x.int"}));
}

}  // namespace
}  // namespace kvrtest
