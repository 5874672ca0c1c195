// kvrdbri: the stored layout, the type order, update mode, and files or file
// names that must not be imported.
#include <sys/stat.h>
#include <unistd.h>

#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

class PlainImportTest : public PlainFilesTest {};

TEST_F(PlainImportTest, StoresLinesHeaderAndTheFileDate) {
  Write("abc.int", "abc\nde\n");
  Write("_PCT.int", "PCT ; underscore stands for percent\n q\n", kSomeTime + 7);
  const RunResult r = Run("kvrdbri", {"*.int"});
  EXPECT_EQ(r.out, "Importing %PCT.int\nCompiling %PCT.int\nImporting abc.int\nCompiling abc.int\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Value(R"(^ROUTINE("abc"))"), "2,5");
  EXPECT_EQ(Value(R"(^ROUTINE("abc",0))"), Horolog(kSomeTime));
  EXPECT_EQ(Value(R"(^ROUTINE("abc",1)_"|"_^ROUTINE("abc",2))"), "abc|de");
  EXPECT_EQ(Value(R"(^ROUTINE("%PCT"))"), "2,37");
  EXPECT_EQ(Value(R"(^ROUTINE("%PCT",0))"), Horolog(kSomeTime + 7));
  EXPECT_EQ(Exists(R"(^ROUTINE("_PCT"))"), "0");
}

TEST_F(PlainImportTest, EmptyLinesInsideAFileStayRoutineLines) {
  Write("gaps.int", "gaps ; first\n\n third\n\n");
  ASSERT_EQ(Run("kvrdbri", {"gaps.int"}).status, 0);
  EXPECT_EQ(Value(R"(^ROUTINE("gaps"))"), "4,18");
  EXPECT_EQ(Value(R"($l(^ROUTINE("gaps",2))_"|"_^ROUTINE("gaps",3)_"|"_$d(^ROUTINE("gaps",4)))"), "0| third|1");
}

TEST_F(PlainImportTest, CarriageReturnsOfCrLfFilesStayInTheLinesAndExportBack) {
  Write("crlf.inc", "abc\r\nde\r\n");
  ASSERT_EQ(Run("kvrdbri", {"crlf.inc"}).status, 0);
  EXPECT_EQ(Value(R"(^rINC("crlf"))"), "2,7");
  EXPECT_EQ(Value(R"($l(^rINC("crlf",1))_"/"_$a(^rINC("crlf",1),4)_"/"_$a(^rINC("crlf",2),3))"), "4/13/13");
  const std::string exported = Folder("exported");
  ASSERT_EQ(RunIn(exported, "kvrdbro", {"crlf.inc"}).status, 0);
  EXPECT_EQ(dir_.read("exported/crlf.inc"), "abc\r\nde\r\n");
}

TEST_F(PlainImportTest, IncludesFirstThenIntThenMacEachCompiledWithItsOutputShown) {
  Write("x.int", "x ; int\n s a=(\n q\n");
  Write("y.mac", "y ; mac\n q\n");
  Write("z.inc", " ; include\n");
  const RunResult r = Run("kvrdbri", {"x.int,y.mac,z.inc"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string expectedStart = "Importing z.inc\nImporting x.int\nCompiling x.int\nx+1: ";
  const std::string expectedEnd = "\nImporting y.mac\nCompiling y.mac\n";
  EXPECT_TRUE(r.out.starts_with(expectedStart) && r.out.ends_with(expectedEnd)) << r.out;
  EXPECT_EQ(Exists(R"(^rOBJ("x"))"), "0");  // it did not compile
  EXPECT_EQ(Exists(R"(^rOBJ("y"))"), "1");
  EXPECT_EQ(Value(R"(^rINC("z",1))"), " ; include");
}

TEST_F(PlainImportTest, NamesInByteOrderAndExtensionsInAnyCase) {
  for (const char* name : {"b.inc", "Z.inc", "a1.INC", "notes.txt", "noext"}) Write(name, " ; x\n");
  const RunResult r = Run("kvrdbri", {"*"});
  EXPECT_EQ(r.out, "Importing Z.inc\nImporting a1.inc\nImporting b.inc\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Value(R"($d(^rINC("a1"))_$d(^rINC("notes"))_$d(^rINC("noext")))"), "1100");
}

TEST_F(PlainImportTest, AFileFoundInAnotherFolderIsReadFromThere) {
  ASSERT_EQ(mkdir(dir_.file("lib").c_str(), 0755), 0);
  Write("lib/_LIB.int", "LIB ; from lib\n");
  Write("dup.int", "dup ; from here\n");
  Write("lib/dup.int", "dup ; from lib\n");
  const RunResult r = Run("kvrdbri", {"dup.int,lib/*.int"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Importing %LIB.int\nCompiling %LIB.int\nImporting dup.int\nCompiling dup.int\n");
  EXPECT_EQ(Value(R"(^ROUTINE("%LIB",1))"), "LIB ; from lib");
  EXPECT_EQ(Value(R"(^ROUTINE("dup",1))"), "dup ; from lib");  // the last path in order wins
}

TEST_F(PlainImportTest, UpdateModeImportsOnlyWhatIsNewerThanTheDatabase) {
  for (const char* name : {"same", "newer", "older"}) StoreRoutine("^ROUTINE", name, {" ; stored"}, Horolog(kSomeTime));
  Write("same.int", " ; file\n", kSomeTime);
  Write("newer.int", " ; file\n", kSomeTime + 1);
  Write("older.int", " ; file\n", kSomeTime - 1);
  Write("fresh.int", " ; file\n", kSomeTime - 100);
  RunResult r = Run("kvrdbri", {"*.int", "-m", "Update"});
  EXPECT_EQ(r.out, "Importing fresh.int\nCompiling fresh.int\nImporting newer.int\nCompiling newer.int\n");
  EXPECT_EQ(Value(R"(^ROUTINE("same",1)_"|"_^ROUTINE("newer",1))"), " ; stored| ; file");
  EXPECT_EQ(Run("kvrdbri", {"*.int", "-m", "update"}).out, "");
  EXPECT_EQ(Run("kvrdbri", {"*.int"}).out, "");
  r = Run("kvrdbri", {"-m", "ALL", "*.int"});
  EXPECT_EQ(r.out,
            "Importing fresh.int\nCompiling fresh.int\nImporting newer.int\nCompiling newer.int\n"
            "Importing older.int\nCompiling older.int\nImporting same.int\nCompiling same.int\n");
  EXPECT_EQ(Value(R"(^ROUTINE("older",1)_"|"_^ROUTINE("older",0))"), " ; file|" + Horolog(kSomeTime - 1));
}

TEST_F(PlainImportTest, WithoutFileListItSaysSoAndFails) {
  RunResult r = Run("kvrdbri", {"-m", "all"});
  EXPECT_EQ(r.out, "Routines for import does not specified.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\nImport routines from files with compilation.\n"));
  EXPECT_EQ(r.status, 255);
  r = Run("kvrdbri", {"-s", "127.0.0.1", "-p", "1", "*.int"});  // nothing listens there
  EXPECT_EQ(r.out, "Failed to connect to Kovra Server at 127.0.0.1:1, database USER.\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(PlainImportTest, AFileThatCannotBeOpenedIsReportedAndSkipped) {
  ASSERT_EQ(symlink("nowhere/gone.int", dir_.file("gone.int").c_str()), 0);
  Write("good.int", "good ; x\n");
  const RunResult r = Run("kvrdbri", {"-m", "all", "*.int"});
  EXPECT_EQ(r.err, "Failed to open file gone.int to read.\n");
  EXPECT_EQ(r.out, "Importing good.int\nCompiling good.int\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Exists(R"(^ROUTINE("gone"))"), "0");
}

TEST_F(PlainImportTest, AFileThatFailsWhileReadLeavesTheStoredRoutine) {
  StoreRoutine("^ROUTINE", "d", {"d ; kept"});
  ASSERT_EQ(mkdir(dir_.file("d.int").c_str(), 0755), 0);  // opens, but cannot be read
  const RunResult r = Run("kvrdbri", {"-m", "all", "d.int"});
  EXPECT_EQ(r.err, "Failed to read file d.int.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Value(R"(^ROUTINE("d")_"|"_^ROUTINE("d",1))"), "1,8|d ; kept");
}

TEST_F(PlainImportTest, FileNamesThatWouldBreakOutOfTheMLineAreSkipped) {
  StoreRoutine("^ROUTINE", "keep", {"keep ; must stay"});
  Write("x\"),^ROUTINE(\"keep.int", " ; x\n");
  Write("tab\tname.int", " ; x\n");
  Write("ok.int", "ok ; x\n");
  const RunResult r = Run("kvrdbri", {"-m", "all", "*.int"});
  EXPECT_EQ(r.err,
            "Skipping routine tab_$C(9)_name: not a valid routine name.\n"
            "Skipping routine x\"),^ROUTINE(\"keep: not a valid routine name.\n");
  EXPECT_EQ(r.out, "Importing ok.int\nCompiling ok.int\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Value(R"(^ROUTINE("keep",1))"), "keep ; must stay");
}

}  // namespace
}  // namespace kvrtest
