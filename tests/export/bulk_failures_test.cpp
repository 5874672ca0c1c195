// The exports of -b on and kvrdbro's -m changed fail exactly as one routine
// to a request does: a symbolic link under a file's name is refused and the
// run goes on, a file that cannot be written to its end is reported with its
// reason, a mask that selects nothing is a failure, and a GT.M file keeps its
// empty lines. Each case runs both ways and must print, write and end alike.
#include <unistd.h>

#include <functional>

#include "export_fixture.h"
#include "full_disk.h"

namespace kvrtest {
namespace {

class BulkFailuresTest : public ExportTest {
 protected:
  // Runs tool with args, then with extra options in front, each in a fresh
  // folder that prepare sets up; both runs must print the same, end with the
  // same status and leave the same names. The first run is handed back.
  RunResult ExpectAlike(const std::string& tool, const std::vector<std::string>& args,
                        const std::vector<std::string>& extra,
                        const std::function<std::string(const std::string& label)>& prepare) {
    const std::string label = tool + std::to_string(++runs_);
    const std::string plain = prepare(label + ".plain");
    const RunResult lineByLine = RunIn(plain, tool, args);
    std::vector<std::string> otherArgs = extra;
    otherArgs.insert(otherArgs.end(), args.begin(), args.end());
    const std::string other = prepare(label + ".other");
    const RunResult otherWay = RunIn(other, tool, otherArgs);
    EXPECT_EQ(otherWay.out, lineByLine.out) << tool;
    EXPECT_EQ(otherWay.err, lineByLine.err) << tool;
    EXPECT_EQ(otherWay.status, lineByLine.status) << tool;
    EXPECT_EQ(ListingOf(other), ListingOf(plain)) << tool;
    return otherWay;
  }

  // A work folder with a symbolic link named name pointing out of it.
  std::string WithLink(const std::string& label, const std::string& name) {
    const std::string work = Folder(label);
    std::filesystem::create_directory(work + ".outside");
    const std::string target = work + ".outside/file";
    FILE* f = std::fopen(target.c_str(), "w");
    std::fputs("precious\n", f);
    std::fclose(f);
    EXPECT_EQ(symlink(target.c_str(), (work + "/" + name).c_str()), 0);
    return work;
  }

  int runs_ = 0;
};

const std::vector<std::vector<std::string>> kBulkAndChanged{
    {"-b", "on"}, {"-m", "changed"}, {"-m", "changed", "-b", "on"}};

TEST_F(BulkFailuresTest, ASymbolicLinkIsRefusedAndTheRunGoesOn) {
  StoreRoutine("^ROUTINE", "HELLO", {"HELLO ; from the server"}, "66000,1");
  StoreRoutine("^ROUTINE", "WORLD", {"WORLD q"}, "66000,1");
  RunResult r = ExpectAlike("kvrdbro", {"-m", "all", "HELLO,WORLD"}, {"-b", "on"},
                            [&](const std::string& label) { return WithLink(label, "HELLO.int"); });
  EXPECT_EQ(r.err, "Refused to write through the symbolic link 'HELLO.int'.\n");
  EXPECT_EQ(r.status, 1);
  r = ExpectAlike("kvrdbrogtm", {"HELLO,WORLD"}, {"-b", "on"},
                  [&](const std::string& label) { return WithLink(label, "HELLO.m"); });
  EXPECT_EQ(r.out, "Exporting routine HELLO\nExporting routine WORLD\n");
  EXPECT_EQ(r.err, "Refused to write through the symbolic link 'HELLO.m'.\n");
  EXPECT_EQ(r.status, 1);
  for (const auto& [work, link] :
       {std::pair{"kvrdbro1.plain", "HELLO.int"}, std::pair{"kvrdbro1.other", "HELLO.int"},
        std::pair{"kvrdbrogtm2.plain", "HELLO.m"}, std::pair{"kvrdbrogtm2.other", "HELLO.m"}}) {
    EXPECT_EQ(dir_.read(std::string(work) + ".outside/file"), "precious\n") << work;
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.file(work) + "/" + link)) << work;
  }
  EXPECT_EQ(dir_.read("kvrdbrogtm2.other/WORLD.m"), "WORLD q\n");
  // -m changed reads the linked file to compare (it differs) and refuses to
  // write through the link all the same.
  for (const std::vector<std::string>& changed :
       {std::vector<std::string>{"-m", "changed"}, std::vector<std::string>{"-m", "changed", "-b", "on"}}) {
    const std::string label = "changed" + std::to_string(changed.size());
    const std::string work = WithLink(label, "HELLO.int");
    std::vector<std::string> args = changed;
    args.push_back("HELLO,WORLD");
    r = RunIn(work, "kvrdbro", args);
    EXPECT_EQ(r.out, "Exporting routine HELLO.int\nExporting routine WORLD.int\n");
    EXPECT_EQ(r.err,
              "Refused to write through the symbolic link 'HELLO.int'.\n"
              "Compared 2 routines: 1 written, 0 left as they were, 1 failed.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::filesystem::is_symlink(work + "/HELLO.int"));
    EXPECT_EQ(dir_.read(label + ".outside/file"), "precious\n");
    EXPECT_EQ(dir_.read(label + "/WORLD.int"), "WORLD q\n");
  }
}

TEST_F(BulkFailuresTest, AMaskThatSelectsNothingIsAFailure) {
  StoreRoutine("^ROUTINE", "HELLO", {"HELLO q"}, "66000,1");
  const auto empty = [&](const std::string& label) { return Folder(label); };
  for (const std::vector<std::string>& extra : kBulkAndChanged) {
    const RunResult r = ExpectAlike("kvrdbro", {"NOPE*,NADA.mac"}, extra, empty);
    EXPECT_EQ(r.err, "Mask NOPE*,NADA.mac selects no routine to export.\n");
    EXPECT_EQ(r.status, 1);
  }
  for (const char* tool : {"kvrdbrogtm", "kvrdbrorsa", "kvrdbrostd"}) {
    const RunResult r = ExpectAlike(tool, {"NOPE*"}, {"-b", "on"}, empty);
    EXPECT_EQ(r.err, "Mask NOPE* selects no routine to export.\n") << tool;
    EXPECT_EQ(r.status, 1) << tool;
  }
}

TEST_F(BulkFailuresTest, AFullDiskIsReportedWithItsReasonAndTheRunGoesOn) {
  StoreRoutine("^ROUTINE", "A", {"A q"}, "66000,1");
  StoreBigRoutine("BIG", 10);
  StoreRoutine("^ROUTINE", "C", {"C q"}, "66000,1");
  struct Case {
    std::string tool;
    std::vector<std::string> args;
    std::vector<std::string> extra;
    std::string err;
    std::string moreErr;  // after err, with the extra options
    std::string listing;
  };
  const std::string bigInt = "Failed to write file 'BIG.int': No space left on device.\n";
  const std::vector<Case> cases{
      {"kvrdbro", {"-m", "all", "*"}, {"-b", "on"}, bigInt, "", "A.int C.int filler "},
      {"kvrdbro", {"*"}, {"-m", "changed"}, bigInt, "Compared 3 routines: 2 written, 0 left as they were, 1 failed.\n",
       "A.int C.int filler "},
      {"kvrdbro", {"*"}, {"-m", "changed", "-b", "on"}, bigInt,
       "Compared 3 routines: 2 written, 0 left as they were, 1 failed.\n", "A.int C.int filler "},
      {"kvrdbrogtm", {"*"}, {"-b", "on"}, "Failed to write file BIG.m: No space left on device.\n", "",
       "A.m C.m filler "},
      {"kvrdbrorsa", {"*", "all.rsa"}, {"-b", "on"}, "Failed to write file 'all.rsa': No space left on device.\n", "",
       "filler "},
  };
  for (const Case& c : cases) {
    RunResult runs[2];
    for (int way = 0; way < 2; ++way) {
      const FullDisk disk(dir_, dir_.file("disk"), 64 * 1024);
      if (disk.failure()) GTEST_SKIP() << *disk.failure();
      std::vector<std::string> args = way == 0 ? std::vector<std::string>{} : c.extra;
      args.insert(args.end(), c.args.begin(), c.args.end());
      runs[way] = RunIn(disk.path(), c.tool, args);
      EXPECT_EQ(runs[way].err, c.err + (way == 0 ? "" : c.moreErr)) << c.tool << way;
      EXPECT_EQ(runs[way].status, 1) << c.tool << way;
      EXPECT_EQ(ListingOf(disk.path()), c.listing) << c.tool << way;  // no temporary file left
      if (c.tool != "kvrdbrorsa") {
        EXPECT_EQ(dir_.read(c.tool == "kvrdbro" ? "disk/C.int" : "disk/C.m"), "C q\n") << c.tool << way;
      }
    }
    EXPECT_EQ(runs[1].out, runs[0].out) << c.tool;
  }
}

TEST_F(BulkFailuresTest, GtmExportInBulkWritesEmptyLinesAsEmptyLines) {
  M("s ^ROUTINE(\"GAP\",1)=\"\",^ROUTINE(\"GAP\",2)=\"GAP ; gaps\",^ROUTINE(\"GAP\",3)=\"\","
    "^ROUTINE(\"GAP\",4)=\" \",^ROUTINE(\"GAP\",5)=\" q\",^ROUTINE(\"GAP\",6)=\"\","
    "^ROUTINE(\"GAP\")=\"6,17\",^ROUTINE(\"GAP\",0)=\"66000,1\"");
  ExpectAlike("kvrdbrogtm", {"GAP"}, {"-b", "on"}, [&](const std::string& label) { return Folder(label); });
  EXPECT_EQ(dir_.read("kvrdbrogtm1.other/GAP.m"), "\nGAP ; gaps\n\n \n q\n\n");
  EXPECT_EQ(dir_.read("kvrdbrogtm1.plain/GAP.m"), "\nGAP ; gaps\n\n \n q\n\n");
  // Plain files still write one blank for an empty line, in bulk too.
  ExpectAlike("kvrdbro", {"GAP"}, {"-b", "on"}, [&](const std::string& label) { return Folder(label); });
  EXPECT_EQ(dir_.read("kvrdbro2.other/GAP.int"), " \nGAP ; gaps\n \n \n q\n \n");
}

}  // namespace
}  // namespace kvrtest
