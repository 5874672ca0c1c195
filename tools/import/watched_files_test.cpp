// Which folders a watching kvrdbri watches and which of the paths seen
// there are files of its list: the same files that expanding the list
// (glob) gives.
#include "watched_files.h"

#include <glob.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace kvrimport {
namespace {

TEST(WatchedFilesTest, ListSplitsAtCommasAndEmptyPiecesAddNothing) {
  EXPECT_EQ(splitFileList("a*.int,,src/b.int,"), (std::vector<std::string>{"a*.int", "src/b.int"}));
  EXPECT_TRUE(splitFileList(",").empty());
  EXPECT_EQ(folderPart("*.int"), "");
  EXPECT_EQ(folderPart("src/lib/x?.mac"), "src/lib/");
  EXPECT_EQ(folderPart("/abs/*.inc"), "/abs/");
}

// A fresh folder, made the current one while the test runs.
class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvrwatch-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }
  static void Touch(const std::string& path) { std::ofstream(path) << " q\n"; }

  std::filesystem::path root_;
  std::filesystem::path previous_;
};

TEST_F(FolderTest, EachFolderOnceAndWildcardFoldersAsTheyExist) {
  std::filesystem::create_directories("src/a");
  std::filesystem::create_directories("src/b");
  std::filesystem::create_directories("lib");
  Touch("src/file.int");  // not a folder: * of a folder part never takes it
  EXPECT_EQ(foldersOf({"*.int", "x.mac", "lib/*.int", "lib/*.mac", "src/*/*.int", "missing/*.int"}),
            (std::vector<std::string>{"", "lib/", "src/a/", "src/b/", "missing/"}));
  EXPECT_TRUE(foldersOf({"nothing*/*.int"}).empty());
}

// Every path a watched folder can show is matched exactly when glob would
// give it for the list.
TEST_F(FolderTest, PathsMatchExactlyWhenGlobWouldGiveThem) {
  std::filesystem::create_directories("src/deep");
  const std::vector<std::string> names = {"a.int", "ab.int", ".hidden.int", "b.mac", "src/c.int",
                                          "src/deep/d.int", "src/.e.int", "x.int", "y.INT"};
  for (const std::string& name : names) Touch(name);
  const std::vector<std::string> patterns = {"a*.int", "?.mac", "src/*.int", "x.int", "*.INT"};
  std::set<std::string> globbed;
  for (const std::string& pattern : patterns) {
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
      for (std::size_t i = 0; i < found.gl_pathc; ++i) globbed.insert(found.gl_pathv[i]);
    globfree(&found);
  }
  EXPECT_EQ(globbed, (std::set<std::string>{"a.int", "ab.int", "b.mac", "src/c.int", "x.int", "y.INT"}));
  for (const std::string& name : names)
    EXPECT_EQ(matchesAnyPattern(patterns, name), globbed.count(name) == 1) << name;
}

TEST(WatchedFilesTest, OnlyPlainSourceFilesAreImported) {
  EXPECT_TRUE(isSourceFilePath("src/a.int"));
  EXPECT_TRUE(isSourceFilePath("_P.MAC"));
  EXPECT_TRUE(isSourceFilePath("i.Inc"));
  EXPECT_FALSE(isSourceFilePath("a.int~"));
  EXPECT_FALSE(isSourceFilePath("a.int.swp"));
  EXPECT_FALSE(isSourceFilePath("notes.txt"));
  EXPECT_FALSE(isSourceFilePath("int"));
}

}  // namespace
}  // namespace kvrimport
