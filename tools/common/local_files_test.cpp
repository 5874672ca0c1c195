// The local file helpers, the routine-name rule and the string set order.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "local_files.h"
#include "mask_selection.h"
#include "routine_types.h"
#include "routine_name.h"
#include "string_set.h"

namespace kvrtools {
namespace {

class LocalFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvrtools-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::vector<std::optional<std::string>> ReadAll(const std::string& content) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(Write("t.txt", content).c_str(), "r"),
                                                          std::fclose);
    std::vector<std::optional<std::string>> lines;
    for (int i = 0; i < 10; ++i) {
      lines.push_back(readTextLine(file.get()));
      if (!lines.back()) break;
    }
    return lines;
  }

  std::string dir_;
};

using Lines = std::vector<std::optional<std::string>>;

TEST_F(LocalFilesTest, ReadTextLineTellsEmptyLinesFromTheEnd) {
  EXPECT_EQ(ReadAll("a\n\nb"), (Lines{"a", "", "b", std::nullopt}));
  EXPECT_EQ(ReadAll(""), (Lines{std::nullopt}));
  EXPECT_EQ(ReadAll("\n"), (Lines{"", std::nullopt}));
}

TEST_F(LocalFilesTest, ReadTextLineKeepsTheCarriageReturnOfCrLf) {
  EXPECT_EQ(ReadAll("a\r\nb\r"), (Lines{"a\r", "b", std::nullopt}));
}

TEST_F(LocalFilesTest, LongLinesArriveInPiecesWithoutAnExtraEmptyLine) {
  const std::string exact(kMaxTextLine, 'x');
  EXPECT_EQ(ReadAll(exact + "\nz\n"), (Lines{exact, "z", std::nullopt}));
  EXPECT_EQ(ReadAll(exact + "yy\n"), (Lines{exact, "yy", std::nullopt}));
}

TEST(TrimText, BothEndsOfWhiteSpace) {
  EXPECT_EQ(trimText(" \t a b \r\n"), "a b");
  EXPECT_EQ(trimText(" \r\n\t"), "");
}

TEST_F(LocalFilesTest, TimestampRoundTripsThroughTheFileTime) {
  const std::string path = Write("r.int", "x");
  ASSERT_TRUE(setFileTimestamp(path, "47117,0"));
  EXPECT_EQ(fileTimestamp(path), "47117,0");
  ASSERT_TRUE(setFileTimestamp(path, "66000,86399"));
  EXPECT_EQ(fileTimestamp(path), "66000,86399");
  // Day 80000 is in 2060, beyond what 32-bit seconds reach.
  ASSERT_TRUE(setFileTimestamp(path, "80000,12345"));
  EXPECT_EQ(fileTimestamp(path), "80000,12345");
}

TEST_F(LocalFilesTest, TimestampIsTheLocalStandardTimeOfTheFile) {
  const std::string path = Write("r.int", "x");
  ASSERT_TRUE(setFileTimestamp(path, "47118,3600"));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 86400 + 3600 + timezone);
}

TEST_F(LocalFilesTest, MalformedTimestampLeavesTheFileAlone) {
  const std::string path = Write("r.int", "x");
  ASSERT_TRUE(setFileTimestamp(path, "60000,100"));
  for (const char* bad : {"", "0", "abc", "60001,", ",5", "60001,86400", "6x,1", "-1,5"})
    EXPECT_FALSE(setFileTimestamp(path, bad)) << bad;
  EXPECT_EQ(fileTimestamp(path), "60000,100");
}

TEST_F(LocalFilesTest, NoTimestampForMissingFiles) {
  EXPECT_EQ(fileTimestamp(dir_ + "/missing"), "");
  EXPECT_NE(fileTimestamp(dir_), "");
}

TEST(SplitFileName, PartsOfAPath) {
  FileNameParts p = splitFileName("dir/_ABC.x.int");
  EXPECT_EQ(p.directory, "dir/");
  EXPECT_EQ(p.name, "_ABC.x");
  EXPECT_EQ(p.extension, ".int");
  p = splitFileName("C:\\a\\b/noext");
  EXPECT_EQ(p.drive, "C:");
  EXPECT_EQ(p.directory, "\\a\\b/");
  EXPECT_EQ(p.name, "noext");
  EXPECT_EQ(p.extension, "");
  p = splitFileName("a/..");
  EXPECT_EQ(p.directory, "a/..");
  EXPECT_EQ(p.name, "");
  p = splitFileName("*.?nt");
  EXPECT_EQ(p.name, "*");
  EXPECT_EQ(p.extension, ".?nt");
}

TEST(SplitFileName, LongPathsAreCut) {
  const FileNameParts p = splitFileName(std::string(300, 'n') + ".int");
  EXPECT_EQ(p.name.size(), 255u);  // only 260 characters looked at, then cut to 255
  EXPECT_EQ(p.extension, "");
}

TEST_F(LocalFilesTest, ExpandPatternsAddsMatchesOnly) {
  Write("a1.int", "");
  Write("a2.int", "");
  Write("b.mac", "");
  StringSet paths = {"kept"};
  expandPatterns({dir_ + "/a*.int", dir_ + "/none*.x"}, paths);
  EXPECT_EQ(paths, (StringSet{dir_ + "/a1.int", dir_ + "/a2.int", "kept"}));
}

TEST(RoutineFileNames, PercentAndUnderscore) {
  EXPECT_EQ(routineToFileName("%ZU"), "_ZU");
  EXPECT_EQ(fileToRoutineName("_ZU"), "%ZU");
  EXPECT_EQ(routineToFileName("A%B"), "A%B");
}

TEST(RoutineNameCheck, RefusesNamesThatBreakOutOfLiteralsOrFolders) {
  EXPECT_TRUE(isValidRoutineName("%ZU"));
  EXPECT_TRUE(isValidRoutineName("abc.x"));
  for (const std::string& bad : std::vector<std::string>{"", "a\"b", "a/b", "..\\x", std::string("a\x1f", 2), std::string("a\x7f", 2),
                          std::string("a\0b", 3)})
    EXPECT_FALSE(isValidRoutineName(bad)) << bad;
  EXPECT_TRUE(isValidRoutineName("\xc3\xa9"));  // bytes above 127 are fine
}

TEST(RoutineNameCheck, TransferableNamesAreTheOnlyRoutineOfTheirFileName) {
  for (const char* good : {"%ZU", "A_B", "A B", "%", "Z%"}) EXPECT_TRUE(isTransferableRoutineName(good)) << good;
  // "_ZU" would share _ZU.int with "%ZU"; "^" splits routine-set headers;
  // outer blanks do not survive editors and header trimming.
  for (const char* bad : {"_ZU", "_", "A^B", "^", " A", "A ", " ", "a/b", ""})
    EXPECT_FALSE(isTransferableRoutineName(bad)) << bad;
  EXPECT_TRUE(isValidRoutineName("_ZU"));  // still safe in an M line
}

TEST(StringSetOrder, PlainByteOrderEachTextOnce) {
  StringSet set;
  const TextHandler collect = collectInto(set);
  for (const char* v : {"a1", "Z1", "", "a1", "\xe9", "a"}) collect(v);
  EXPECT_EQ(set, (StringSet{"Z1", "a", "a1", "\xe9"}));
  EXPECT_EQ(*set.rbegin(), "\xe9");  // above 127 sorts last, not first
}

TEST(MaskLines, HandBackLineNamesTheGlobal) {
  EXPECT_EQ(handBackLine("^rMAC"), R"(s rn="" f  s rn=$o(rtn("^rMAC",rn)) q:rn=""  d wo^%srv(rn))");
}

}  // namespace
}  // namespace kvrtools
