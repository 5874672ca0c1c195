// Where a utility loads libkovrasc.so from: the one installed with it, and
// the current folder's only when none is and nobody else can have put it
// there. Each case runs a copy of kvrdbexec in an installation of its own
// (prefix/bin, prefix/lib).
#include <sys/stat.h>

#include <filesystem>

#include "tool_fixture.h"

namespace kvrtest {
namespace {

namespace fs = std::filesystem;

class LibraryLoadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(prefix_.file("bin"));
    fs::create_directories(prefix_.file("lib"));
    fs::create_directories(work_.file("work"));
    fs::copy_file(toolPath("kvrdbexec"), program());
    writeSettings(work_, server_.port());
    fs::rename(work_.file("kvrct.ini"), work_.file("work/kvrct.ini"));
  }

  std::string program() const { return prefix_.file("bin/kvrdbexec"); }
  std::string workFolder() const { return work_.file("work"); }

  RunResult Exec() {
    RunOptions options;
    options.cwd = workFolder();
    RunResult result = runTool(program(), {"w 6*7"}, options);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  static void CopyLibrary(const std::string& to, const std::string& from = toolPath("libkovrasc.so")) {
    fs::copy_file(from, to);
    chmod(to.c_str(), 0755);
  }

  DevServer server_;
  TempDir prefix_;
  TempDir work_;
};

TEST_F(LibraryLoadingTest, InstalledLibraryIsUsedBesideTheProgramFirstThenInLib) {
  CopyLibrary(prefix_.file("lib/libkovrasc.so"));
  RunResult r = Exec();
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.status, 0) << r.err;
  // One beside the program comes first: this one lacks a name.
  CopyLibrary(prefix_.file("bin/libkovrasc.so"), KVR_PARTIAL_LIBRARY);
  r = Exec();
  EXPECT_EQ(r.out, "Failed to load " + prefix_.file("bin/libkovrasc.so") + " to connect to Kovra Server.\n");
  EXPECT_TRUE(r.err.starts_with(prefix_.file("bin/libkovrasc.so") + " lacks KVRText\nKovra CommandLine Tools.\n"))
      << r.err;
  EXPECT_EQ(r.status, 255);
}

TEST_F(LibraryLoadingTest, InstalledLibraryWinsOverTheCurrentFolders) {
  CopyLibrary(prefix_.file("lib/libkovrasc.so"));
  CopyLibrary(workFolder() + "/libkovrasc.so", KVR_PARTIAL_LIBRARY);
  const RunResult r = Exec();
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(LibraryLoadingTest, CurrentFolderServesWithoutAnInstalledLibraryUnlessOthersMayWriteThere) {
  RunResult r = Exec();
  EXPECT_EQ(r.out, "Failed to load ./libkovrasc.so to connect to Kovra Server.\n");
  EXPECT_TRUE(r.err.starts_with("libkovrasc.so is not in " + prefix_.file("bin") + ", " + prefix_.file("lib") +
                                " or the current folder\n"))
      << r.err;
  EXPECT_EQ(r.status, 255);

  CopyLibrary(workFolder() + "/libkovrasc.so");
  chmod(workFolder().c_str(), 0700);
  r = Exec();
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.status, 0) << r.err;

  chmod(workFolder().c_str(), 0770);
  r = Exec();
  EXPECT_EQ(r.out, "Failed to load ./libkovrasc.so to connect to Kovra Server.\n");
  EXPECT_TRUE(r.err.starts_with("refused ./libkovrasc.so: the current folder is writable by group or others\n"))
      << r.err;
  EXPECT_EQ(r.status, 255);
}

}  // namespace
}  // namespace kvrtest
