// A connection lost in the middle of the work: the utility says so, ends with
// status 1, and no file is left half written. A proxy between the utility
// and its server breaks the connection at an exact point of the exchange.
#include <csignal>

#include "cutting_proxy.h"
#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

// The request that streams the text of an INT routine.
constexpr const char* kIntTextRequest = "$o(^ROUTINE(rn,n))";

class PlainBrokenConnectionTest : public PlainFilesTest {
 protected:
  // An INT routine far longer than the part of its text the proxy lets through.
  void StoreBigRoutine(const std::string& name) {
    M("s ^ROUTINE(\"" + name + "\",0)=\"66000,1\" f i=1:1:2000 s ^ROUTINE(\"" + name +
      "\",i)=\" ; line \"_i_\" \"_$tr($j(\"\",100),\" \",\"x\")");
  }
  bool HasTemporaryFile() {
    for (const std::string& name : Files())
      if (name.starts_with(".")) return true;
    return false;
  }
};

TEST_F(PlainBrokenConnectionTest, ServerKilledWhileARoutineStreamsLeavesEveryExistingFile) {
  StoreRoutine("^rINC", "inc1", {" ; new include"}, "66000,1");
  StoreBigRoutine("big");
  StoreRoutine("^ROUTINE", "later", {"later ; new"}, "66000,1");
  Write("inc1.inc", "old include\n");
  Write("big.int", "old big\n");
  Write("later.int", "old later\n");
  CuttingProxy proxy(server_->port(), kIntTextRequest, 4096, CuttingProxy::AtTrigger::kCut,
                     [this] { server_->kill(); });
  const RunResult r = Run("kvrdbro", {"-m", "all", "-p", std::to_string(proxy.port()), "*,*.inc"});
  EXPECT_TRUE(proxy.triggered());
  EXPECT_EQ(r.out, "Exporting routine inc1.inc\nExporting routine big.int\n");
  EXPECT_EQ(r.err, "Socket is not connected.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("inc1.inc"), " ; new include\n");  // finished before the loss
  EXPECT_EQ(dir_.read("big.int"), "old big\n");
  EXPECT_EQ(dir_.read("later.int"), "old later\n");
  EXPECT_EQ(ModifiedTime("big.int"), kSomeTime);
  EXPECT_EQ(Files(), (std::set<std::string>{"inc1.inc", "big.int", "later.int"}));
}

TEST_F(PlainBrokenConnectionTest, InterruptedExportRemovesItsTemporaryFile) {
  StoreBigRoutine("big");
  Write("big.int", "old big\n");
  CuttingProxy proxy(server_->port(), kIntTextRequest, 4096, CuttingProxy::AtTrigger::kStall);
  auto session = StartAtTerminal("kvrdbro", {"-m", "all", "-p", std::to_string(proxy.port()), "big"});
  ASSERT_TRUE(proxy.waitUntilTriggered());
  EXPECT_TRUE(HasTemporaryFile());  // the export is under way
  session->interrupt();
  EXPECT_EQ(session->finish(), -SIGINT);
  EXPECT_EQ(Files(), std::set<std::string>{"big.int"});
  EXPECT_EQ(dir_.read("big.int"), "old big\n");
}

TEST_F(PlainBrokenConnectionTest, ImportStopsWithStatus1AtALostConnection) {
  Write("a.int", "a ; x\n");
  Write("b.int", "b ; x\n");
  Write("c.int", "c ; x\n");
  CuttingProxy proxy(server_->port(), "compile^%RCOMPIL(\"b.INT\")", 0, CuttingProxy::AtTrigger::kCut);
  const RunResult r = Run("kvrdbri", {"-p", std::to_string(proxy.port()), "*.int"});
  EXPECT_TRUE(proxy.triggered());
  EXPECT_EQ(r.out, "Importing a.int\nCompiling a.int\nImporting b.int\nCompiling b.int\n");
  EXPECT_EQ(r.err, "Socket is not connected.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Value(R"($d(^ROUTINE("a"))_$d(^ROUTINE("b"))_$d(^ROUTINE("c")))"), "11110");
}

}  // namespace
}  // namespace kvrtest
