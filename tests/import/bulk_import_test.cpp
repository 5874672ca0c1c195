// The imports of -b on and kvrdbri's -m changed refuse and report what one
// routine to a request does: a file that is not routine text or not a
// regular file, a file list that matches nothing, and a routine whose name
// is too long to send whole, which is skipped before anything is sent while
// the routines after it are stored.
#include <sys/stat.h>
#include <unistd.h>

#include "plain_files_fixture.h"

namespace kvrtest {
namespace {


// Each importer with -b on, and kvrdbri's -m changed with and without it.
struct Way {
  const char* tool;
  const char* file;  // holds routine R
  std::vector<std::string> options;
};

const Way kWays[] = {
    {"kvrdbri", "R.int", {"-b", "on"}},
    {"kvrdbri", "R.int", {"-m", "changed"}},
    {"kvrdbri", "R.int", {"-m", "changed", "-b", "on"}},
    {"kvrdbrigtm", "R.m", {"-b", "on"}},
    {"kvrdbrirsa", "R.rsa", {"-b", "on"}},
};

class BulkImportTest : public PlainFilesTest {
 protected:
  void SetUp() override {
    PlainFilesTest::SetUp();
    StoreRoutine("^ROUTINE", "R", {"R ; kept"}, "60000,1");
  }
  RunResult Import(const Way& way, const std::string& files) {
    std::vector<std::string> args = way.options;
    args.push_back(files);
    return Run(way.tool, args);
  }
  std::string Kept() { return Value(R"(^ROUTINE("R")_"|"_^ROUTINE("R",0)_"|"_^ROUTINE("R",1))"); }
  // What -m changed adds at its end when no routine could be compared.
  static std::string NothingCompared(const Way& way) {
    return way.options[1] == "changed" ? "Compared 0 routines: 0 imported, 0 left as they were.\n" : "";
  }
  static std::string Label(const Way& way) {
    std::string label = way.tool;
    for (const std::string& option : way.options) label += " " + option;
    return label;
  }
};

TEST_F(BulkImportTest, AFileWithANulByteIsRefusedWhole) {
  for (const Way& way : kWays) {
    const std::string head = std::string(way.tool) == "kvrdbrirsa" ? std::string(kRsaHead) + "R\n" : "";
    Write(way.file, head + "R ; x\n s y=\"a" + std::string(1, '\0') + "b\"\n q\n\n", kSomeTime);
    const RunResult r = Import(way, way.file);
    EXPECT_EQ(r.err, "Skipping file " + std::string(way.file) + ": it holds a NUL byte, so it is not routine text.\n" +
                         NothingCompared(way))
        << Label(way);
    EXPECT_EQ(r.status, 1) << Label(way);
    EXPECT_EQ(Kept(), "1,8|60000,1|R ; kept") << Label(way);
  }
}

// In update mode a path without a file time goes on to the import, which
// says why it is refused: never waited on, never passed over in silence.
TEST_F(BulkImportTest, ANamedPipeIsSkippedWithAMessage) {
  for (const Way& way : kWays) {
    ASSERT_EQ(mkfifo(dir_.file(way.file).c_str(), 0644), 0) << Label(way);
    const RunResult r = Import(way, way.file);
    EXPECT_EQ(r.err, "Skipping file " + std::string(way.file) + ": not a regular file.\n" + NothingCompared(way))
        << Label(way);
    EXPECT_EQ(r.status, 1) << Label(way);
    EXPECT_EQ(Kept(), "1,8|60000,1|R ; kept") << Label(way);
    ASSERT_EQ(unlink(dir_.file(way.file).c_str()), 0);
  }
}

TEST_F(BulkImportTest, AFileListThatMatchesNoFileIsAFailure) {
  for (const Way& way : kWays) {
    const RunResult r = Import(way, "src/*.itn,nosuch.rsa");
    EXPECT_EQ(r.out, "") << Label(way);
    EXPECT_EQ(r.err, "No file matches src/*.itn,nosuch.rsa.\n") << Label(way);
    EXPECT_EQ(r.status, 1) << Label(way);
  }
}

// A routine-set header can name a routine of up to a line's length, too long
// for the lines that store it: line by line and in bulk it is skipped with
// the same message, nothing of it is stored, and the next routine is.
TEST_F(BulkImportTest, ARoutineWhoseNameCannotBeSentWholeIsSkippedInBulkToo) {
  const std::string longName = "L" + std::string(32740, 'N');
  Write("long.rsa", std::string(kRsaHead) + longName + "\n q\n\nNEXT\nNEXT q\n\n\n", kSomeTime);
  const std::string names = R"(s n="" f  s n=$o(^ROUTINE(n)) q:n=""  w $l(n),",")";
  RunResult runs[2];
  for (int way = 0; way < 2; ++way) {
    M(R"(k ^ROUTINE("NEXT"))");
    runs[way] = Run("kvrdbrirsa", way == 0 ? std::vector<std::string>{"long.rsa"}
                                           : std::vector<std::string>{"-b", "on", "long.rsa"});
    EXPECT_NE(runs[way].err.find(": its name is too long to send.\n"), std::string::npos) << way;
    EXPECT_TRUE(runs[way].err.starts_with("Skipping routine L")) << way;
    EXPECT_EQ(runs[way].status, 1) << way;
    EXPECT_EQ(M(names), "4,1,") << way;  // NEXT and R only
    EXPECT_EQ(Value(R"(^ROUTINE("NEXT")_"|"_^ROUTINE("NEXT",1))"), "1,6|NEXT q") << way;
  }
  EXPECT_EQ(runs[1].out, runs[0].out);
  EXPECT_EQ(runs[1].err, runs[0].err);
}

}  // namespace
}  // namespace kvrtest
