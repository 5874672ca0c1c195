// What -b on is for: the requests (round trips) a run makes. Counted by a
// relay on a corpus of 100 routines of 50 lines; line by line takes one
// request per routine line, in bulk a few per run.
#include <cstdio>

#include "bulk_corpus.h"
#include "counting_relay.h"

namespace kvrtest {
namespace {

constexpr int kCountedRoutines = 100;
constexpr int kCountedLines = 50;

class RequestCountTest : public BulkTest {
 protected:
  void SetUp() override {
    BulkTest::SetUp();
    for (int i = 0; i < kCountedRoutines; ++i) {
      const std::string name = "BR" + std::to_string(1000 + i);
      std::string text = name + " ; routine\n";
      for (int n = 1; n < kCountedLines; ++n) text += " s x(" + std::to_string(n) + ")=\"line " + std::to_string(n) + "\"\n";
      dir_.write(name + ".int", text);
    }
  }

  // The requests of one run, which must succeed.
  std::size_t Requests(const std::string& tool, std::vector<std::string> args) {
    CountingRelay relay(server_->port());
    args.insert(args.begin(), {"-p", std::to_string(relay.port())});
    const RunResult r = Run(tool, args);
    EXPECT_EQ(r.status, 0) << tool << r.err;
    return relay.finish();
  }

  std::size_t InBulk(const std::string& tool, std::vector<std::string> args) {
    args.insert(args.begin(), {"-b", "on"});
    return Requests(tool, args);
  }
};

TEST_F(RequestCountTest, ImportTakesAFewRequestsARunInsteadOfOneALine) {
  const std::size_t lineByLine = Requests("kvrdbri", {"-m", "all", "*.int"});
  const std::size_t bulk = InBulk("kvrdbri", {"-m", "all", "*.int"});
  EXPECT_GE(lineByLine, static_cast<std::size_t>(kCountedRoutines * (kCountedLines + 4)));
  // The routines, some 1.2 kB each, with their compilations fill about six
  // call records; and the start-up and the file list.
  EXPECT_LE(bulk, 14u);
  // The same without compilations, and the routine-set file with its
  // headers taken apart here.
  for (int i = 0; i < kCountedRoutines; ++i) {
    const std::string name = "BR" + std::to_string(1000 + i);
    std::rename(dir_.file(name + ".int").c_str(), dir_.file(name + ".m").c_str());
  }
  EXPECT_LE(InBulk("kvrdbrigtm", {"*.m"}), 12u);
  ASSERT_EQ(Run("kvrdbrorsa", {"-b", "on", "BR*", "all.rsa"}).status, 0);
  EXPECT_GE(Requests("kvrdbrirsa", {"all.rsa"}), static_cast<std::size_t>(kCountedRoutines * (kCountedLines + 8)));
  EXPECT_LE(InBulk("kvrdbrirsa", {"all.rsa"}), 12u);
  for (int i = 0; i < kCountedRoutines; ++i) {
    const std::string name = "BR" + std::to_string(1000 + i);
    std::rename(dir_.file(name + ".m").c_str(), dir_.file(name + ".int").c_str());
  }
  // Update mode, nothing newer: the dates in one request.
  EXPECT_GE(Requests("kvrdbri", {"*.int"}), static_cast<std::size_t>(4 * kCountedRoutines));
  EXPECT_LE(InBulk("kvrdbri", {"*.int"}), 6u);
  // Nothing changed: the stored texts one routine a request, or a few in all.
  EXPECT_GE(Requests("kvrdbri", {"-m", "changed", "*.int"}), static_cast<std::size_t>(kCountedRoutines));
  EXPECT_LE(InBulk("kvrdbri", {"-m", "changed", "*.int"}), 6u);
}

TEST_F(RequestCountTest, ExportsTakeAFewRequestsARun) {
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", "-b", "on", "*.int"}).status, 0);
  // Selection (5), the texts and dates, and nothing per routine.
  EXPECT_GE(Requests("kvrdbro", {"-m", "all", "BR*"}), static_cast<std::size_t>(3 * kCountedRoutines));
  EXPECT_LE(InBulk("kvrdbro", {"-m", "all", "BR*"}), 10u);
  EXPECT_LE(InBulk("kvrdbro", {"BR*"}), 10u);  // update mode, every file current
  EXPECT_LE(InBulk("kvrdbro", {"-m", "changed", "BR*"}), 10u);
  EXPECT_LE(InBulk("kvrdbrogtm", {"BR*"}), 10u);
  EXPECT_LE(InBulk("kvrdbrorsa", {"BR*", "all.rsa"}), 10u);
  EXPECT_LE(InBulk("kvrdbrostd", {"BR*", "all.std"}), 10u);
}

}  // namespace
}  // namespace kvrtest
