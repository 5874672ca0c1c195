// kvrdbrirsa: RSA and ANSI headers, where routines and files end, and the
// header fields that must never reach the server unchecked.
#include "cutting_proxy.h"
#include "format_fixture.h"
#include "pipes.h"

namespace kvrtest {
namespace {

constexpr long long kFileEpoch = 1700000000;  // 14 Nov 2023 22:13:20 UTC

class RsaImportTest : public FormatTest {
 protected:
  // Writes name (with the two header lines in front) dated kFileEpoch.
  void WriteSet(const std::string& name, const std::string& routines, const std::string& head = kRsaHead) {
    dir_.write(name, head + routines);
    SetFileTime(name, kFileEpoch);
  }
};

TEST_F(RsaImportTest, HeadersGiveTypeGlobalAndDate) {
  WriteSet("set.rsa",
           "ABC^MAC^^66000,10^\nABC ; mac\n q\n\n"
           "abc^inc^^^\n x=1\n\n"
           "XYZ\nXYZ ; ansi\n\n");
  const RunResult r = Run("kvrdbrirsa", {"*.rsa"});
  EXPECT_EQ(r.out,
            "Processing file set.rsa\nImporting routine ABC.MAC\nImporting routine abc.INC\n"
            "Importing routine XYZ.INT\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Routine("^rMAC", "ABC"), "2,11|0=66000,10|1=ABC ; mac|2= q");
  EXPECT_EQ(Routine("^rINC", "abc"), "1,4|0=" + Timestamp(kFileEpoch) + "|1= x=1");
  EXPECT_EQ(Routine("^ROUTINE", "XYZ"), "1,10|0=" + Timestamp(kFileEpoch) + "|1=XYZ ; ansi");
}

TEST_F(RsaImportTest, DotAnywhereInTheHeaderSplitsAtDots) {
  WriteSet("set.rsa", "D1.MAC..66000,5.\n line\n\nD2^INT^^66000,1^x.y\n lost\n\nD3\n kept\n\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(Routine("^rMAC", "D1"), "1,5|0=66000,5|1= line");
  // "D2^INT^^66000,1^x" (of type "Y"): a "^" in a name is refused, so its
  // lines are consumed and nothing is stored; the routine after it is read
  // as usual.
  EXPECT_EQ(r.err, "Skipping routine D2^INT^^66000,1^x: not a valid routine name.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(M("w $d(^ROUTINE(\"D2^INT^^66000,1^x\")),$d(^ROUTINE(\"D2\"))"), "00");
  EXPECT_EQ(Routine("^ROUTINE", "D3"), "1,5|0=" + Timestamp(kFileEpoch) + "|1= kept");
}

TEST_F(RsaImportTest, EmptyLinesEndRoutinesAndASecondOneEndsTheFile) {
  WriteSet("set.rsa",
           "R1^INT^^1,1^\n \nR1 q\n\n"
           "R2^INT^^2,2^\n\n"
           "R3^INT^^3,3^\nR3 q\n\n\n"
           "R4^INT^^4,4^\nR4 q\n\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Routine("^ROUTINE", "R1"), "2,5|0=1,1|1= |2=R1 q");  // a single blank stays
  EXPECT_EQ(Routine("^ROUTINE", "R2"), "0,0|0=2,2");               // no lines
  EXPECT_EQ(Routine("^ROUTINE", "R3"), "1,4|0=3,3|1=R3 q");
  EXPECT_EQ(Exists("^ROUTINE(\"R4\")"), "0");
}

TEST_F(RsaImportTest, CrLfFileNamesRoutinesWithoutCrAndKeepsLineCrs) {
  WriteSet("set.rsa", "C1^INT^^66000,1^\r\nC1 q\r\n\r\nC2\r\nC2 q\r\n\r\n\r\nC3\r\n", "head\r\n\r\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(r.out, "Processing file set.rsa\nImporting routine C1.INT\nImporting routine C2.INT\n");
  EXPECT_EQ(Routine("^ROUTINE", "C1"), "1,5|0=66000,1|1=C1 q\r");
  EXPECT_EQ(Routine("^ROUTINE", "C2"), "1,5|0=" + Timestamp(kFileEpoch) + "|1=C2 q\r");
  EXPECT_EQ(Exists("^ROUTINE(\"C3\")"), "0");
}

TEST_F(RsaImportTest, TimestampFieldCannotInjectMCode) {
  StoreRoutine("^ROUTINE", "KEEP", {"KEEP q"});
  WriteSet("set.rsa",
           "T1^INT^^1,2\") k ^ROUTINE(\"KEEP\") s x=(\"^\n T1\n\n"
           "T2^INT^^today^\n T2\n\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Exists("^ROUTINE(\"KEEP\")"), "1");
  EXPECT_EQ(Routine("^ROUTINE", "T1"), "1,3|0=" + Timestamp(kFileEpoch) + "|1= T1");
  EXPECT_EQ(Routine("^ROUTINE", "T2"), "1,3|0=" + Timestamp(kFileEpoch) + "|1= T2");
}

TEST_F(RsaImportTest, NamesThatWouldBreakTheMLineAreSkipped) {
  StoreRoutine("^ROUTINE", "KEEP", {"KEEP q"});
  WriteSet("set.rsa", "X\"),^ROUTINE(\"KEEP^INT^^^\n bad\n\n^INT^^^\n nameless\n\nOK\n good\n\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(r.err,
            "Skipping routine X\"),: not a valid routine name.\n"
            "Skipping routine : not a valid routine name.\n");
  EXPECT_EQ(r.out, "Processing file set.rsa\nImporting routine OK.INT\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Routine("^ROUTINE", "KEEP"), "1,6|1=KEEP q");
  EXPECT_EQ(Exists("^ROUTINE(\"OK\")"), "1");
}

TEST_F(RsaImportTest, FilesThatCannotBeReadAndShortFiles) {
  ASSERT_EQ(mkdir(dir_.file("a.rsa").c_str(), 0755), 0);  // a directory matched by the pattern
  dir_.write("b.rsa", "only one header line\n");
  WriteSet("c.rsa", "C^INT^^5,5^\n C\n\n");
  RunResult r = Run("kvrdbrirsa", {"a.rsa,b.rsa,c.rsa,none*.rsa"});
  EXPECT_EQ(r.out,
            "Processing file a.rsa\nProcessing file b.rsa\nProcessing file c.rsa\nImporting routine C.INT\n");
  EXPECT_EQ(r.err, "Failed to read file a.rsa.\n");
  EXPECT_EQ(r.status, 1);  // a file that could not be read fails the run
  EXPECT_EQ(Routine("^ROUTINE", "C"), "1,2|0=5,5|1= C");

  r = Run("kvrdbrirsa", {});
  EXPECT_EQ(r.out, "Routines for import does not specified.\n");
  EXPECT_TRUE(r.err.starts_with("Kovra CommandLine Tools.\nImport one or more routines from file in RSA or ANSI "
                                "format.\nUsage: kvrdbrirsa [-s server]"));
  EXPECT_EQ(r.status, 255);
}

TEST_F(RsaImportTest, ANamedPipeIsRefusedNotReadAndNotWaitedFor) {
  // A writer stands ready: even so the pipe is not a routine file.
  FifoFeeder feeder(dir_.file("pipe.rsa"), std::string(kRsaHead) + "P\n P\n\n");
  const RunResult r = Run("kvrdbrirsa", {"pipe.rsa"});
  EXPECT_EQ(r.out, "Processing file pipe.rsa\n");
  EXPECT_EQ(r.err, "Skipping file pipe.rsa: not a regular file.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Exists("^ROUTINE(\"P\")"), "0");
}

TEST_F(RsaImportTest, LostConnectionEndsTheRunWithStatus1) {
  WriteSet("lost.rsa", "L\n L\n\n");
  // Cut as the routine's first line is stored.
  CuttingProxy proxy(server_->port(), "@rglobal@(\"L\",1)", 0, CuttingProxy::AtTrigger::kCut);
  const RunResult r = Run("kvrdbrirsa", {"-p", std::to_string(proxy.port()), "lost.rsa"});
  EXPECT_TRUE(proxy.triggered());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Processing file lost.rsa\nImporting routine L.INT\n");
  EXPECT_NE(r.err, "");
}

}  // namespace
}  // namespace kvrtest
