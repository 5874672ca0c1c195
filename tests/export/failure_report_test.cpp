// Every failure of an export is reported and ends the run with 1: a routine
// the server cannot send to standard output, and files that cannot be
// written to their end on a full disk (with the real reason), each passed
// over while the run goes on with the next routine.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "export_fixture.h"
#include "full_disk.h"

namespace kvrtest {
namespace {

constexpr std::size_t kFreeBytes = 64 * 1024;

class FailureReportTest : public ExportTest {
 protected:
  // A (small), BIG (300 KB, more than the disk has left), C (small).
  void StoreTooBigForTheDisk() {
    StoreRoutine("^ROUTINE", "A", {"A q"}, "66000,1");
    StoreBigRoutine("BIG", 10);
    StoreRoutine("^ROUTINE", "C", {"C q"}, "66000,1");
  }
};

// The development server holds strings of at most 32767 bytes, so a routine
// line of that length cannot be written with its line feed.
TEST_F(FailureReportTest, RoutineSetToStandardOutputReportsTheRoutineWhoseCallFailed) {
  StoreRoutine("^ROUTINE", "A", {"A q"});
  M("s ^ROUTINE(\"LONG\")=\"1,32767\",^ROUTINE(\"LONG\",1)=$j(\"\",32767)");
  StoreRoutine("^ROUTINE", "Z", {"Z q"});
  for (const char* tool : {"kvrdbrorsa", "kvrdbrostd"}) {
    const RunResult r = Run(tool, {"*"});
    EXPECT_TRUE(r.err.starts_with("Failed to export routine LONG.INT: Internal server error:")) << tool << r.err;
    EXPECT_EQ(r.err.find("routine A"), std::string::npos) << tool;
    EXPECT_EQ(r.status, 1) << tool;
    // The routines after it are still there, whole.
    EXPECT_TRUE(r.out.ends_with("\nZ q\n\n\n")) << tool;
    EXPECT_NE(r.out.find("\nA q\n\n"), std::string::npos) << tool;
  }
}

// Standard output on a full device: the run cannot tell its reader, so it
// says so on standard error and ends with 1.
TEST_F(FailureReportTest, RoutineSetToAFullStandardOutputIsReported) {
  StoreRoutine("^ROUTINE", "A", {"A q"});
  RunOptions options;
  options.cwd = dir_.path();
  const RunResult r = runTool("/bin/sh", {"-c", "exec \"$0\" A >/dev/full", toolPath("kvrdbrostd")}, options);
  EXPECT_EQ(r.err, "Failed to write file 'standard output': No space left on device.\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(FailureReportTest, PlainExportOnAFullDiskReportsTheReasonAndGoesOn) {
  StoreTooBigForTheDisk();
  const FullDisk disk(dir_, dir_.file("disk"), kFreeBytes);
  if (disk.failure()) GTEST_SKIP() << *disk.failure();
  dir_.write("disk/BIG.int", "BIG ; as it was\n");
  const RunResult r = RunIn(disk.path(), "kvrdbro", {"-m", "all", "*"});
  EXPECT_EQ(r.out, "Exporting routine A.int\nExporting routine BIG.int\nExporting routine C.int\n");
  EXPECT_EQ(r.err, "Failed to write file 'BIG.int': No space left on device.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("disk/A.int"), "A q\n");
  EXPECT_EQ(dir_.read("disk/BIG.int"), "BIG ; as it was\n");
  EXPECT_EQ(dir_.read("disk/C.int"), "C q\n");
  EXPECT_EQ(ListingOf(disk.path()), "A.int BIG.int C.int filler ");  // no temporary file left
}

TEST_F(FailureReportTest, GtmExportOnAFullDiskKeepsTheRealReason) {
  StoreTooBigForTheDisk();
  const FullDisk disk(dir_, dir_.file("disk"), kFreeBytes);
  if (disk.failure()) GTEST_SKIP() << *disk.failure();
  const RunResult r = RunIn(disk.path(), "kvrdbrogtm", {"*"});
  EXPECT_EQ(r.out, "Exporting routine A\nExporting routine BIG\nExporting routine C\n");
  EXPECT_EQ(r.err, "Failed to write file BIG.m: No space left on device.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("disk/C.m"), "C q\n");
  EXPECT_EQ(ListingOf(disk.path()), "A.m C.m filler ");
}

TEST_F(FailureReportTest, RoutineSetOnAFullDiskKeepsTheOldFile) {
  StoreTooBigForTheDisk();
  const FullDisk disk(dir_, dir_.file("disk"), kFreeBytes);
  if (disk.failure()) GTEST_SKIP() << *disk.failure();
  dir_.write("disk/all.rsa", "previous export\n");
  const RunResult r = RunIn(disk.path(), "kvrdbrorsa", {"*", "all.rsa"});
  EXPECT_EQ(r.err, "Failed to write file 'all.rsa': No space left on device.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("disk/all.rsa"), "previous export\n");
  EXPECT_EQ(ListingOf(disk.path()), "all.rsa filler ");
}

// A file mounted over the target cannot be renamed over (EBUSY), although
// it can be opened: the rename fails after the whole text arrived.
TEST_F(FailureReportTest, PlainExportReportsAFailedRenameAsSuchAndGoesOn) {
  StoreRoutine("^ROUTINE", "BUSY", {"BUSY q"}, "66000,1");
  StoreRoutine("^ROUTINE", "NEXT", {"NEXT q"}, "66000,1");
  dir_.write("BUSY.int", "BUSY ; as it was\n");
  dir_.write("cover", "BUSY ; as it was\n");
  if (mount(dir_.file("cover").c_str(), dir_.file("BUSY.int").c_str(), nullptr, MS_BIND, nullptr) != 0)
    GTEST_SKIP() << "cannot mount a file over another: " << std::strerror(errno);
  const RunResult r = Run("kvrdbro", {"-m", "all", "BUSY,NEXT"});
  umount2(dir_.file("BUSY.int").c_str(), MNT_DETACH);
  EXPECT_EQ(r.out, "Exporting routine BUSY.int\nExporting routine NEXT.int\n");
  EXPECT_EQ(r.err, "Failed to write file 'BUSY.int': Device or resource busy.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("BUSY.int"), "BUSY ; as it was\n");
  EXPECT_EQ(dir_.read("NEXT.int"), "NEXT q\n");
  EXPECT_EQ(Listing(), "BUSY.int NEXT.int cover ");
}

}  // namespace
}  // namespace kvrtest
