// kvrdbrigtm and kvrdbrogtm: names from file names, empty lines, file times
// both ways, and what a failure leaves behind.
#include "format_fixture.h"
#include "pipes.h"

namespace kvrtest {
namespace {

constexpr long long kFileEpoch = 1700000000;

class GtmTest : public FormatTest {};

TEST_F(GtmTest, ImportTakesNamesFromFileNamesAndKeepsEmptyLines) {
  dir_.write("_ZU.m", "ZU ; percent\n\n q\n\n");
  ASSERT_EQ(mkdir(dir_.file("lib").c_str(), 0755), 0);
  dir_.write("lib/ABC.m", "ABC ; lib\n");
  dir_.write("lib/_X.m", "X ; lib\n");
  dir_.write("E.m", "");
  for (const char* name : {"_ZU.m", "lib/ABC.m", "lib/_X.m", "E.m"}) SetFileTime(name, kFileEpoch);
  const std::string date = Timestamp(kFileEpoch);
  const RunResult r = Run("kvrdbrigtm", {"*.m,lib/*.m"});
  EXPECT_EQ(r.out,
            "Processing file E.m\nImporting routine E.INT\n"
            "Processing file _ZU.m\nImporting routine %ZU.INT\n"
            "Processing file lib/ABC.m\nImporting routine ABC.INT\n"
            "Processing file lib/_X.m\nImporting routine %X.INT\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Routine("^ROUTINE", "%ZU"), "4,14|0=" + date + "|1=ZU ; percent|2=|3= q|4=");
  EXPECT_EQ(Routine("^ROUTINE", "ABC"), "1,9|0=" + date + "|1=ABC ; lib");
  EXPECT_EQ(Routine("^ROUTINE", "%X"), "1,7|0=" + date + "|1=X ; lib");
  EXPECT_EQ(Routine("^ROUTINE", "E"), "0,0|0=" + date);
}

TEST_F(GtmTest, ImportOfOneNameFromTwoFilesKeepsTheLastInPathOrder) {
  dir_.write("ABC.m", "ABC ; from ABC.m\n");
  dir_.write("ABC.x.txt", "ABC ; from ABC.x.txt\n");
  const RunResult r = Run("kvrdbrigtm", {"ABC*"});
  EXPECT_EQ(r.out,
            "Processing file ABC.m\nImporting routine ABC.INT\n"
            "Processing file ABC.x.txt\nImporting routine ABC.INT\n");
  EXPECT_EQ(M("w ^ROUTINE(\"ABC\",1)"), "ABC ; from ABC.x.txt");
}

TEST_F(GtmTest, ImportSkipsBadNamesAndUnreadablePaths) {
  StoreRoutine("^ROUTINE", "KEEP", {"KEEP q"});
  dir_.write("K\"),^ROUTINE(\"KEEP.m", "bad\n");
  ASSERT_EQ(mkdir(dir_.file("D.m").c_str(), 0755), 0);
  dir_.write("OK.m", "OK q\n");
  const RunResult r = Run("kvrdbrigtm", {"*.m"});
  EXPECT_EQ(r.err,
            "Failed to read file D.m.\n"
            "Skipping routine K\"),^ROUTINE(\"KEEP: not a valid routine name.\n");
  EXPECT_EQ(r.out,
            "Processing file D.m\nProcessing file K\"),^ROUTINE(\"KEEP.m\n"
            "Processing file OK.m\nImporting routine OK.INT\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Exists("^ROUTINE(\"KEEP\")"), "1");
  EXPECT_EQ(Exists("^ROUTINE(\"D\")"), "0");
}

TEST_F(GtmTest, ANamedPipeIsRefusedNotReadAndNotWaitedFor) {
  FifoFeeder feeder(dir_.file("P.m"), "P q\n");
  const RunResult r = Run("kvrdbrigtm", {"P.m"});
  EXPECT_EQ(r.out, "Processing file P.m\n");
  EXPECT_EQ(r.err, "Skipping file P.m: not a regular file.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Exists("^ROUTINE(\"P\")"), "0");
}

TEST_F(GtmTest, ExportWritesLinesAndDatesFilesByNodeZero) {
  StoreRoutine("^ROUTINE", "%ZU", {"ZU ; x", "", " q"}, Timestamp(kLateEpoch));
  StoreRoutine("^ROUTINE", "N", {"N q"});  // no node 0
  StoreRoutine("^rMAC", "MAC", {"MAC q"}, "66000,1");
  const RunResult r = Run("kvrdbrogtm", {"*,*.mac"});
  EXPECT_EQ(r.out, "Exporting routine %ZU\nExporting routine N\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir_.read("_ZU.m"), "ZU ; x\n\n q\n");
  EXPECT_EQ(FileTime("_ZU.m"), kLateEpoch);
  EXPECT_EQ(dir_.read("N.m"), "N q\n");
  EXPECT_FALSE(dir_.exists("MAC.m"));
  // A second run writes the same bytes and the same times.
  SetFileTime("_ZU.m", kFileEpoch);
  EXPECT_EQ(Run("kvrdbrogtm", {"%ZU"}).status, 0);
  EXPECT_EQ(dir_.read("_ZU.m"), "ZU ; x\n\n q\n");
  EXPECT_EQ(FileTime("_ZU.m"), kLateEpoch);
}

TEST_F(GtmTest, ExportReportsAFileItCannotCreateOnStandardOutputGoesOnAndEndsWithOne) {
  StoreRoutine("^ROUTINE", "A", {"A q"});
  StoreRoutine("^ROUTINE", "B", {"B q"});
  ASSERT_EQ(mkdir(dir_.file("A.m").c_str(), 0755), 0);
  RunResult r = Run("kvrdbrogtm", {"*"});
  EXPECT_EQ(r.out, "Exporting routine A\nFailed to open file A.m to write.\nExporting routine B\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("B.m"), "B q\n");
  r = Run("kvrdbrogtm", {});
  EXPECT_EQ(r.out, "Routines for export does not specified.\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(GtmTest, ExportSkipsBadNamesAndKeepsFilesWhenALineFails) {
  M("s ^ROUTINE(\"../E\")=\"1,1\",^ROUTINE(\"../E\",1)=\"x\"");
  M("s ^ROUTINE(\"LONG\")=\"1,32767\",^ROUTINE(\"LONG\",1)=$j(\"\",32767)");  // fails on the server
  StoreRoutine("^ROUTINE", "OK", {"OK q"});
  dir_.write("LONG.m", "previous\n");
  const RunResult r = Run("kvrdbrogtm", {"*"});
  EXPECT_TRUE(r.err.starts_with("Skipping routine ../E: not a valid routine name.\n")) << r.err;
  EXPECT_GT(r.err.size(), std::string("Skipping routine ../E: not a valid routine name.\n").size());
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir_.exists("../E.m"));
  EXPECT_EQ(dir_.read("LONG.m"), "previous\n");
  EXPECT_EQ(dir_.read("OK.m"), "OK q\n");
}

// Standard output is a one-page pipe; the test stops the server while the
// tool waits to announce a routine, then lets it go on. Every file is then
// either its old content or the whole new one, never cut short.
TEST_F(GtmTest, LostConnectionLeavesExistingFilesIntactAndNoTemporaryFile) {
  std::string line = "s ^X=1";
  for (int i = 0; i < 600; ++i) {
    const std::string name = "R" + std::to_string(1000 + i);
    line += ",^ROUTINE(\"" + name + "\")=\"1,3\",^ROUTINE(\"" + name + "\",1)=\"new\"";
    dir_.write(name + ".m", "old\n");
    if (line.size() > 20000 || i == 599) {
      M(line);
      line = "s ^X=1";
    }
  }
  HeldRun run(toolPath("kvrdbrogtm"), {"R*"}, dir_.path(), dir_.file("err.txt"));
  ASSERT_TRUE(run.waitForOutput());
  server_->kill();
  EXPECT_EQ(run.finish(), 1);
  EXPECT_NE(dir_.read("err.txt"), "");
  int written = 0;
  for (int i = 0; i < 600; ++i) {
    const std::string content = dir_.read("R" + std::to_string(1000 + i) + ".m");
    EXPECT_TRUE(content == "old\n" || content == "new\n") << i << ": " << content;
    written += content == "new\n";
  }
  EXPECT_LT(written, 600);
  EXPECT_EQ(Listing().find("kvrtmp"), std::string::npos);
}

}  // namespace
}  // namespace kvrtest
