// What the kernel's notices of a watched folder come to: saves in their
// several forms and removals as touched files, a file still being written
// only once it is closed, and the end of a folder that goes away.
#include "folder_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kvrimport {
namespace {

class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvrwatch-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    prefix_ = root_ + "/";
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void Write(const std::string& name, const std::string& text) { std::ofstream(prefix_ + name) << text; }

  // The kinds and paths taken now, one "kind path" per event.
  std::vector<std::string> Taken(FolderWatch& watch) {
    std::vector<std::string> seen;
    for (const FolderEvent& event : watch.take()) {
      const char* kind = event.kind == FolderEvent::Kind::kFileTouched ? "touched "
                         : event.kind == FolderEvent::Kind::kFolderGone ? "gone "
                                                                        : "overflow ";
      seen.push_back(kind + event.path);
    }
    return seen;
  }

  std::string root_;
  std::string prefix_;
};

TEST_F(FolderWatchTest, SavesAndRemovalsAreTouchedFilesUnderTheFoldersPrefix) {
  Write("a.int", "old\n");
  FolderWatch watch;
  ASSERT_EQ(watch.add(prefix_), std::nullopt);
  EXPECT_TRUE(Taken(watch).empty());  // nothing waits, nothing blocks

  const std::string a = "touched " + prefix_ + "a.int";
  const std::string tmp = "touched " + prefix_ + "t.tmp";
  Write("a.int", "in place\n");
  EXPECT_EQ(Taken(watch), std::vector<std::string>{a});
  Write("t.tmp", "renamed\n");  // created, and closed before it is looked at
  EXPECT_EQ(Taken(watch), std::vector<std::string>{tmp});
  std::rename((prefix_ + "t.tmp").c_str(), (prefix_ + "a.int").c_str());
  EXPECT_EQ(Taken(watch), (std::vector<std::string>{tmp, a}));
  std::filesystem::create_symlink("a.int", prefix_ + "link.int");
  EXPECT_EQ(Taken(watch), std::vector<std::string>{"touched " + prefix_ + "link.int"});
  std::filesystem::create_directory(prefix_ + "sub.int");  // a folder is no file
  EXPECT_TRUE(Taken(watch).empty());
  std::remove((prefix_ + "a.int").c_str());
  EXPECT_EQ(Taken(watch), std::vector<std::string>{a});
}

TEST_F(FolderWatchTest, AFileBeingWrittenCountsOnceItIsClosed) {
  FolderWatch watch;
  ASSERT_EQ(watch.add(prefix_), std::nullopt);
  const int fd = open((prefix_ + "new.int").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "half", 4), 4);
  EXPECT_TRUE(Taken(watch).empty());
  close(fd);
  EXPECT_EQ(Taken(watch), (std::vector<std::string>{"touched " + prefix_ + "new.int"}));
}

TEST_F(FolderWatchTest, TwoSpellingsOfAFolderShareOneWatchAndBothHearOfItsEnd) {
  std::filesystem::create_directory(prefix_ + "src");
  FolderWatch watch;
  ASSERT_EQ(watch.add(prefix_ + "src/"), std::nullopt);
  ASSERT_EQ(watch.add(prefix_ + "./src/"), std::nullopt);
  Write("src/x.mac", " q\n");
  EXPECT_EQ(Taken(watch),
            (std::vector<std::string>{"touched " + prefix_ + "src/x.mac", "touched " + prefix_ + "./src/x.mac"}));
  std::filesystem::remove_all(prefix_ + "src");
  const std::vector<std::string> end = Taken(watch);
  ASSERT_GE(end.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(end.end() - 2, end.end()),
            (std::vector<std::string>{"gone " + prefix_ + "src/", "gone " + prefix_ + "./src/"}));

  EXPECT_EQ(watch.add(prefix_ + "missing/"), "No such file or directory");
}

}  // namespace
}  // namespace kvrimport
