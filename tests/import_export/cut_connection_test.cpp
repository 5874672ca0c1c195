// A connection cut (the server killed, by pid) while a routine that needs
// several requests is under way: after a restart on the same --dir the
// routine is whole, the old one when the last request never reached the
// server, old or new when it did. An export cut inside a bulk reply leaves
// every file as it was.
#include "bulk_corpus.h"
#include "cutting_proxy.h"

namespace kvrtest {
namespace {

std::string Lines(const std::string& tag, int count) {
  std::string text = "MANY ; " + tag + "\n";
  for (int i = 1; i < count; ++i) text += " s x(" + std::to_string(i) + ")=\"" + tag + std::string(i % 50, '"') + "\"\n";
  return text;
}

class CutConnectionTest : public BulkTest {
 protected:
  ServerOptions serverOptions() override { return ServerOptions{data_.path(), false}; }


  void Restart() {
    server_ = std::make_unique<DevServer>(serverOptions());
    writeSettings(dir_, server_->port());
  }

  // The stored lines of MANY as a file holds them.
  std::string Many() {
    return M(R"(s n=0 f  s n=$o(^ROUTINE("MANY",n)) q:n=""  w ^ROUTINE("MANY",n),$c(10))");
  }

  TempDir data_;
};

TEST_F(CutConnectionTest, AnImportCutBeforeTheLastRequestLeavesTheOldRoutine) {
  const std::string old = Lines("old", 3000);
  dir_.write("MANY.int", old);
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", "MANY.int"}).status, 0);
  dir_.write("MANY.int", Lines("new", 4000));
  const RunResult r = RunUntilKilled("kvrdbri", {"-m", "all", "-b", "on", "MANY.int"}, "x(2000)=\"\"new", 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Socket is not connected.\n");
  Restart();
  EXPECT_TRUE(Many() == old);
  EXPECT_EQ(M(R"(w ^ROUTINE("MANY"))"), "3000," + std::to_string(old.size() - 3000));
}

TEST_F(CutConnectionTest, AnImportCutAtTheLastRequestLeavesTheOldOrTheNewRoutineWhole) {
  const std::string old = Lines("old", 3000);
  const std::string fresh = Lines("new", 4000);
  dir_.write("MANY.int", old);
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", "MANY.int"}).status, 0);
  dir_.write("MANY.int", fresh);
  const RunResult r =
      RunUntilKilled("kvrdbri", {"-m", "all", "-b", "on", "MANY.int"}, "m ^ROUTINE(\"MANY\")=rbulk", 0);
  EXPECT_EQ(r.status, 1);
  Restart();
  const std::string stored = Many();
  EXPECT_TRUE(stored == old || stored == fresh) << stored.size();
  const std::string header = M(R"(w ^ROUTINE("MANY"))");
  EXPECT_EQ(header, stored == old ? "3000," + std::to_string(old.size() - 3000)
                                  : "4000," + std::to_string(fresh.size() - 4000));
}

TEST_F(CutConnectionTest, AnImportCutInsideAPackedRequestLeavesEveryRoutineOldOrNewWhole) {
  // Sixty routines of some 2 kB: several to a request.
  auto text = [](const std::string& tag, int i) {
    std::string t = "P" + std::to_string(100 + i) + " ; " + tag + "\n";
    for (int n = 0; n < 40; ++n) t += " s x(" + std::to_string(n) + ")=\"" + tag + std::string(n, '"') + "\"\n";
    return t;
  };
  for (int i = 0; i < 60; ++i) dir_.write("P" + std::to_string(100 + i) + ".int", text("old", i));
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", "-b", "on", "P*.int"}).status, 0);
  for (int i = 0; i < 60; ++i) dir_.write("P" + std::to_string(100 + i) + ".int", text("new", i));
  const RunResult r =
      RunUntilKilled("kvrdbri", {"-m", "all", "-b", "on", "P*.int"}, "k ^ROUTINE(\"P130\")", 0);
  EXPECT_EQ(r.status, 1);
  Restart();
  int fresh = 0;
  for (int i = 0; i < 60; ++i) {
    const std::string node = "^ROUTINE(\"P" + std::to_string(100 + i) + "\"";
    const std::string stored =
        M("s n=0 f  s n=$o(" + node + ",n)) q:n=\"\"  w " + node + ",n),$c(10)");
    const bool isNew = stored == text("new", i);
    EXPECT_TRUE(isNew || stored == text("old", i)) << i << "\n" << stored;
    EXPECT_EQ(M("w " + node + ")"), "41," + std::to_string(stored.size() - 41)) << i;
    fresh += isNew;
  }
  EXPECT_LT(fresh, 60);  // the cut came before the last routines
}

TEST_F(CutConnectionTest, AnExportCutInsideABulkReplyLeavesEveryFileAsItWas) {
  for (int i = 0; i < 40; ++i) StoreRoutine("^ROUTINE", "R" + std::to_string(100 + i), {"R ; x", " q"}, "66000,1");
  dir_.write("MANY.int", Lines("x", 4000));
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", "MANY.int"}).status, 0);
  std::remove(dir_.file("MANY.int").c_str());
  for (int i = 0; i < 40; ++i) dir_.write("R" + std::to_string(100 + i) + ".int", "old\n");
  const std::map<std::string, FileState> before = FolderState(dir_.path());
  const RunResult r = RunUntilKilled("kvrdbro", {"-m", "all", "-b", "on", "*"}, "f rn=\"", 20000);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Socket is not connected.\n");
  EXPECT_TRUE(FolderState(dir_.path()) == before);
}

}  // namespace
}  // namespace kvrtest
