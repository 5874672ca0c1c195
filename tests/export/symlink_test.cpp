// Exports never write through a symbolic link: a link under a routine's file
// name (or as the routine-set file) is refused and left as it is, with the
// file it points at untouched, and the run goes on and ends with 1. A file
// that is replaced keeps its permissions, owner and group.
#include <sys/stat.h>
#include <unistd.h>

#include "export_fixture.h"

namespace kvrtest {
namespace {

class SymlinkTest : public ExportTest {
 protected:
  void SetUp() override {
    ExportTest::SetUp();
    std::filesystem::create_directory(dir_.file("outside"));
    dir_.write("outside/file", "precious\n");
    work_ = Folder("work");
    StoreRoutine("^ROUTINE", "HELLO", {"HELLO ; from the server"}, "66000,1");
    StoreRoutine("^ROUTINE", "WORLD", {"WORLD q"}, "66000,1");
  }

  void Link(const std::string& name) {
    ASSERT_EQ(symlink("../outside/file", (work_ + "/" + name).c_str()), 0) << name;
  }

  void ExpectLinkAndTargetUntouched(const std::string& name) {
    EXPECT_TRUE(std::filesystem::is_symlink(work_ + "/" + name)) << name;
    EXPECT_EQ(dir_.read("outside/file"), "precious\n");
    EXPECT_EQ(ListingOf(dir_.file("outside")), "file ");
  }

  std::string work_;
};

TEST_F(SymlinkTest, PlainExportRefusesTheLinkAndGoesOn) {
  Link("HELLO.int");
  const RunResult r = RunIn(work_, "kvrdbro", {"-m", "all", "HELLO,WORLD"});
  EXPECT_EQ(r.out, "Exporting routine HELLO.int\nExporting routine WORLD.int\n");
  EXPECT_EQ(r.err, "Refused to write through the symbolic link 'HELLO.int'.\n");
  EXPECT_EQ(r.status, 1);
  ExpectLinkAndTargetUntouched("HELLO.int");
  EXPECT_EQ(dir_.read("work/WORLD.int"), "WORLD q\n");
  EXPECT_EQ(ListingOf(work_), "HELLO.int WORLD.int ");
}

TEST_F(SymlinkTest, GtmExportRefusesTheLinkAndGoesOn) {
  Link("HELLO.m");
  const RunResult r = RunIn(work_, "kvrdbrogtm", {"HELLO,WORLD"});
  EXPECT_EQ(r.out, "Exporting routine HELLO\nExporting routine WORLD\n");
  EXPECT_EQ(r.err, "Refused to write through the symbolic link 'HELLO.m'.\n");
  EXPECT_EQ(r.status, 1);
  ExpectLinkAndTargetUntouched("HELLO.m");
  EXPECT_EQ(dir_.read("work/WORLD.m"), "WORLD q\n");
}

TEST_F(SymlinkTest, RoutineSetExportRefusesALinkAsItsFile) {
  Link("all.rsa");
  Link("all.std");
  for (const auto& [tool, file] : {std::pair{"kvrdbrorsa", "all.rsa"}, std::pair{"kvrdbrostd", "all.std"}}) {
    const RunResult r = RunIn(work_, tool, {"*", file});
    EXPECT_EQ(r.err, "Refused to write through the symbolic link '" + std::string(file) + "'.\n") << tool;
    EXPECT_EQ(r.status, 1) << tool;
    ExpectLinkAndTargetUntouched(file);
  }
}

TEST_F(SymlinkTest, AReplacedFileKeepsModeOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
  for (const char* name : {"HELLO.int", "HELLO.m", "all.rsa"}) {
    const std::string path = work_ + "/" + name;
    dir_.write(std::string("work/") + name, "old\n");
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  }
  EXPECT_EQ(RunIn(work_, "kvrdbro", {"-m", "all", "HELLO"}).status, 0);
  EXPECT_EQ(RunIn(work_, "kvrdbrogtm", {"HELLO"}).status, 0);
  EXPECT_EQ(RunIn(work_, "kvrdbrorsa", {"HELLO", "all.rsa"}).status, 0);
  for (const char* name : {"HELLO.int", "HELLO.m", "all.rsa"}) {
    struct stat info {};
    ASSERT_EQ(stat((work_ + "/" + name).c_str(), &info), 0) << name;
    EXPECT_EQ(info.st_uid, 1234u) << name;
    EXPECT_EQ(info.st_gid, 5678u) << name;
    EXPECT_EQ(info.st_mode & 07777, 0640u) << name;
    EXPECT_NE(dir_.read(std::string("work/") + name), "old\n") << name;
  }
}

}  // namespace
}  // namespace kvrtest
