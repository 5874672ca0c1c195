// The importers read files as bytes and refuse a file whole when it is not
// routine text (a NUL byte, a line longer than a routine line), not a regular
// file, or cannot be read; a file list that matches nothing is a failure. In
// every such case the routine on the server stays as it was and the run ends
// with status 1.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "plain_files_fixture.h"

namespace kvrtest {
namespace {


// One routine file in the format of each importer.
struct Importer {
  const char* tool;
  const char* file;     // holds routine R
  std::string head;     // what comes before R's lines
  std::string tail;     // what comes after them
};

const Importer kImporters[] = {
    {"kvrdbri", "R.int", "", ""},
    {"kvrdbrigtm", "R.m", "", ""},
    {"kvrdbrirsa", "R.rsa", std::string(kRsaHead) + "R\n", "\n"},
};

class ImportFilesTest : public PlainFilesTest {
 protected:
  void SetUp() override {
    PlainFilesTest::SetUp();
    StoreRoutine("^ROUTINE", "R", {"R ; kept"}, "60000,1");
  }
  RunResult Import(const Importer& importer) { return Run(importer.tool, {"-m", "all", importer.file}); }
  void WriteRoutine(const Importer& importer, const std::string& lines) {
    Write(importer.file, importer.head + lines + importer.tail);
  }
  std::string Kept() { return Value(R"(^ROUTINE("R")_"|"_^ROUTINE("R",0)_"|"_^ROUTINE("R",1))"); }
  static std::string Processing(const Importer& importer) {
    return std::string(importer.tool) == "kvrdbri" ? "" : "Processing file " + std::string(importer.file) + "\n";
  }
};

TEST_F(ImportFilesTest, AFileWithANulByteIsRefusedWhole) {
  // "R ; x" in UTF-16: every second byte a NUL.
  std::string utf16;
  for (char c : std::string("R ; x\n q\n")) utf16 += std::string(1, c) + '\0';
  for (const Importer& importer : kImporters) {
    WriteRoutine(importer, utf16);
    const RunResult r = Import(importer);
    EXPECT_EQ(r.err, "Skipping file " + std::string(importer.file) + ": it holds a NUL byte, so it is not routine text.\n")
        << importer.tool;
    EXPECT_EQ(r.out, Processing(importer)) << importer.tool;
    EXPECT_EQ(r.status, 1) << importer.tool;
    EXPECT_EQ(Kept(), "1,8|60000,1|R ; kept") << importer.tool;
  }
}

TEST_F(ImportFilesTest, ALineLongerThanARoutineLineIsRefusedWhole) {
  for (const Importer& importer : kImporters) {
    WriteRoutine(importer, "R ; x\n s x=\"" + std::string(32761, 'y') + "\"\n q\n");  // 32768 bytes
    const RunResult r = Import(importer);
    // The line of the file, counted from its first line.
    const auto line = std::to_string(2 + std::count(importer.head.begin(), importer.head.end(), '\n'));
    EXPECT_EQ(r.err, "Skipping file " + std::string(importer.file) + ": line " + line +
                         " is longer than a routine line can be (32767 bytes).\n")
        << importer.tool;
    EXPECT_EQ(r.status, 1) << importer.tool;
    EXPECT_EQ(Kept(), "1,8|60000,1|R ; kept") << importer.tool;
  }
}

TEST_F(ImportFilesTest, CrLfLinesKeepExactlyOneCarriageReturnUpToTheLongestLine) {
  const std::string longest(32766, 'z');  // with its CR, the longest routine line
  for (const Importer& importer : kImporters) {
    // In a routine-set file the next routine must still be read as one.
    const std::string rest = std::string(importer.tool) == "kvrdbrirsa" ? "\r\nNEXT\r\n q\r\n" : "";
    Write(importer.file, importer.head + longest + "\r\n q\r\n" + rest);
    const RunResult r = Import(importer);
    EXPECT_EQ(r.status, 0) << importer.tool << r.err;
    EXPECT_EQ(Value(R"(^ROUTINE("R")_"|"_$l(^ROUTINE("R",1))_"|"_$a(^ROUTINE("R",1),32767)_"|"_^ROUTINE("R",2))"),
              "2,32770|32767|13| q\r")
        << importer.tool;
    EXPECT_EQ(Exists(R"(^ROUTINE("R",3))"), "0") << importer.tool;
  }
  EXPECT_EQ(Value(R"(^ROUTINE("NEXT")_"|"_$d(^ROUTINE(" q")))"), "1,3|0");
}

TEST_F(ImportFilesTest, ACrLfLineOneByteTooLongIsRefusedNotSplitIntoARoutine) {
  // 32767 bytes and CR LF: a lone CR line used to end the routine here and
  // turn NEXT's line into a routine of its own.
  Write("set.rsa", std::string(kRsaHead) + "R\r\n" + std::string(32767, 'z') + "\r\nNEXT q\r\n\r\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(r.err, "Skipping file set.rsa: line 4 is longer than a routine line can be (32767 bytes).\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Kept(), "1,8|60000,1|R ; kept");
  EXPECT_EQ(Value(R"($d(^ROUTINE("NEXT q"))_$d(^ROUTINE("NEXT")))"), "00");
}

TEST_F(ImportFilesTest, ANamedPipeIsSkippedWithoutWaitingForAWriter) {
  for (const Importer& importer : kImporters) {
    ASSERT_EQ(mkfifo(dir_.file(importer.file).c_str(), 0644), 0);
    const RunResult r = Run(importer.tool, {importer.file});  // update mode for kvrdbri
    EXPECT_EQ(r.err, "Skipping file " + std::string(importer.file) + ": not a regular file.\n") << importer.tool;
    EXPECT_EQ(r.status, 1) << importer.tool;
    EXPECT_EQ(Kept(), "1,8|60000,1|R ; kept") << importer.tool;
  }
}

TEST_F(ImportFilesTest, AFileThatCannotBeOpenedOrIsAFolderFailsTheRunInEveryImporter) {
  ASSERT_EQ(symlink("nowhere/gone", dir_.file("gone.rsa").c_str()), 0);
  ASSERT_EQ(symlink("nowhere/gone", dir_.file("gone.m").c_str()), 0);
  ASSERT_EQ(mkdir(dir_.file("folder.m").c_str(), 0755), 0);
  RunResult r = Run("kvrdbrirsa", {"gone.rsa"});
  EXPECT_EQ(r.err, "Failed to open file gone.rsa to read.\n");
  EXPECT_EQ(r.status, 1);
  r = Run("kvrdbrigtm", {"gone.m,folder.m"});
  EXPECT_EQ(r.err, "Failed to read file folder.m.\nFailed to open file gone.m to read.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Value(R"($d(^ROUTINE("gone"))_$d(^ROUTINE("folder")))"), "00");
}

TEST_F(ImportFilesTest, AFileListThatMatchesNoFileIsAFailure) {
  for (const char* tool : {"kvrdbri", "kvrdbrigtm", "kvrdbrirsa"}) {
    const RunResult r = Run(tool, {"src/*.itn,nosuch.rsa"});
    EXPECT_EQ(r.out, "") << tool;
    EXPECT_EQ(r.err, "No file matches src/*.itn,nosuch.rsa.\n") << tool;
    EXPECT_EQ(r.status, 1) << tool;
  }
}

TEST_F(ImportFilesTest, UpdateModeWithEveryFileCurrentStaysSilentAndSucceeds) {
  StoreRoutine("^ROUTINE", "cur", {"cur ; x"}, Horolog(kSomeTime));
  Write("cur.int", "cur ; x\n", kSomeTime);
  const RunResult r = Run("kvrdbri", {"cur.int"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace kvrtest
