#include "library_location.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace kvrtools {
namespace {

namespace fs = std::filesystem;

// An installation (prefix/bin, prefix/lib) and a current folder, all of the
// user alone to begin with.
class LibraryLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kovralib.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder : {"/prefix/bin", "/prefix/lib", "/work"}) fs::create_directories(root_ + folder);
    for (const char* folder : {"/prefix", "/prefix/bin", "/prefix/lib", "/work"})
      ::chmod((root_ + folder).c_str(), 0700);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Put(const std::string& relative) {
    const std::string path = root_ + relative;
    std::ofstream(path) << "library";
    ::chmod(path.c_str(), 0600);
    return path;
  }

  LibraryChoice Choose(const std::string& libraryFolder = "../lib") {
    return chooseLibrary(root_ + "/prefix/bin", libraryFolder, root_ + "/work");
  }

  std::string root_;
};

TEST_F(LibraryLocation, InstalledLibraryComesFirstBesideTheProgramThenItsLibraryFolder) {
  Put("/work/libkovrasc.so");
  const std::string installed = Put("/prefix/lib/libkovrasc.so");
  EXPECT_EQ(Choose().path, installed);
  EXPECT_EQ(Choose().shown, installed);
  const std::string beside = Put("/prefix/bin/libkovrasc.so");
  EXPECT_EQ(Choose().path, beside);
  fs::remove(beside);
  // A configured folder, relative or absolute.
  fs::create_directories(root_ + "/prefix/lib64");
  const std::string lib64 = Put("/prefix/lib64/libkovrasc.so");
  EXPECT_EQ(Choose("../lib64").path, lib64);
  EXPECT_EQ(Choose(root_ + "/prefix/lib64").path, lib64);
}

TEST_F(LibraryLocation, CurrentFolderServesOnlyWithoutAnInstalledOne) {
  LibraryChoice none = Choose();
  EXPECT_EQ(none.path, "");
  EXPECT_EQ(none.shown, "./libkovrasc.so");
  EXPECT_EQ(none.refusal, "libkovrasc.so is not in " + root_ + "/prefix/bin, " + root_ +
                              "/prefix/lib or the current folder");
  Put("/work/libkovrasc.so");
  const LibraryChoice local = Choose();
  EXPECT_EQ(local.path, fs::canonical(root_ + "/work/libkovrasc.so").string());
  EXPECT_EQ(local.shown, "./libkovrasc.so");
}

TEST_F(LibraryLocation, CurrentFolderLibraryOthersCouldHavePlantedIsRefused) {
  const std::string local = Put("/work/libkovrasc.so");
  ::chmod((root_ + "/work").c_str(), 0770);
  EXPECT_EQ(Choose().path, "");
  EXPECT_EQ(Choose().refusal, "refused ./libkovrasc.so: the current folder is writable by group or others");
  ::chmod((root_ + "/work").c_str(), 0701 | S_ISVTX | S_IWOTH);  // even with the sticky bit
  EXPECT_EQ(Choose().path, "");
  ::chmod((root_ + "/work").c_str(), 0755);
  ::chmod(local.c_str(), 0666);
  EXPECT_EQ(Choose().refusal, "refused ./libkovrasc.so: ./libkovrasc.so is writable by group or others");
  ::chmod(local.c_str(), 0644);
  EXPECT_NE(Choose().path, "");
  // A link to a library in a folder that others may write to.
  fs::remove(local);
  fs::create_directories(root_ + "/shared");
  ::chmod((root_ + "/shared").c_str(), 0777);
  Put("/shared/libkovrasc.so");
  fs::create_symlink(root_ + "/shared/libkovrasc.so", local);
  EXPECT_EQ(Choose().refusal, "refused ./libkovrasc.so: the folder of " + fs::canonical(root_ + "/shared/libkovrasc.so").string() +
                                  " is writable by group or others");
}

}  // namespace
}  // namespace kvrtools
