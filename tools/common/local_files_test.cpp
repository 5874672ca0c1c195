// The local file helpers: opening without waiting, reading text lines,
// trimming, file times, splitting file names and expanding patterns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "local_files.h"
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

TEST_F(LocalFilesTest, OpenWithoutWaitingOpensANamedPipeWithNoWriterAndReadsFiles) {
  const std::string pipe = dir_ + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const FilePtr fifo = openWithoutWaiting(pipe);  // would block here if it waited for a writer
  ASSERT_NE(fifo, nullptr);
  struct stat info {};
  ASSERT_EQ(fstat(fileno(fifo.get()), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  const FilePtr file = openWithoutWaiting(Write("r.m", "x\n"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(readTextLine(file.get()), "x");
  EXPECT_EQ(openWithoutWaiting(dir_ + "/missing"), nullptr);
}

TEST_F(LocalFilesTest, ReadTextLineTellsEmptyLinesFromTheEnd) {
  EXPECT_EQ(ReadAll("a\n\nb"), (Lines{"a", "", "b", std::nullopt}));
  EXPECT_EQ(ReadAll(""), (Lines{std::nullopt}));
  EXPECT_EQ(ReadAll("\n"), (Lines{"", std::nullopt}));
}

TEST_F(LocalFilesTest, ReadTextLineKeepsTheCarriageReturnOfCrLf) {
  EXPECT_EQ(ReadAll("a\r\nb\r"), (Lines{"a\r", "b", std::nullopt}));
}

TEST_F(LocalFilesTest, LinesComeWholeWithTheirNulBytesAndOneCarriageReturn) {
  const std::string exact(kMaxTextLine, 'x');
  const std::string longer(kMaxTextLine + 5, 'y');
  EXPECT_EQ(ReadAll(exact + "\nz\n"), (Lines{exact, "z", std::nullopt}));
  EXPECT_EQ(ReadAll(longer + "\nz\n"), (Lines{longer, "z", std::nullopt}));
  // The CR LF of a line of the longest length: one CR kept, no extra line.
  EXPECT_EQ(ReadAll(exact + "\r\nz\r\n"), (Lines{exact + "\r", "z\r", std::nullopt}));
  EXPECT_EQ(ReadAll(std::string("a\0b\n\0\n", 6)), (Lines{std::string("a\0b", 3), std::string(1, '\0'), std::nullopt}));
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

// The zone of the process for one test; the one before comes back after it.
class ZoneForTest {
 public:
  explicit ZoneForTest(const char* zone) {
    if (const char* before = std::getenv("TZ")) before_ = before;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneForTest() {
    if (before_) {
      setenv("TZ", before_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> before_;
};

struct ZoneCase {
  const char* zone;
  time_t instant;
  const char* timestamp;  // the local wall-clock time of instant there
};

// 14 Nov 2023 22:13:20 UTC and 10 Jul 2023 14:40:00 UTC: summer in one
// hemisphere, winter in the other.
constexpr ZoneCase kZoneCases[] = {
    {"Australia/Sydney", 1700000000, "66793,33200"}, {"Australia/Sydney", 1689000000, "66666,2400"},
    {"America/New_York", 1700000000, "66792,62000"}, {"America/New_York", 1689000000, "66665,38400"},
    {"Europe/Berlin", 1700000000, "66792,83600"},    {"Europe/Berlin", 1689000000, "66665,60000"},
};

time_t ModifiedAt(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mtime;
}

TEST_F(LocalFilesTest, TimestampUsesTheOffsetInForceSummerAndWinterBothWays) {
  const std::string path = Write("r.int", "x");
  for (const ZoneCase& c : kZoneCases) {
    const ZoneForTest zone(c.zone);
    utimbuf times{c.instant, c.instant};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    EXPECT_EQ(fileTimestamp(path), c.timestamp) << c.zone << " " << c.instant;
    ASSERT_TRUE(setFileTimestamp(path, "47117,0"));
    ASSERT_TRUE(setFileTimestamp(path, c.timestamp));
    EXPECT_EQ(ModifiedAt(path), c.instant) << c.zone << " " << c.timestamp;
  }
}

TEST_F(LocalFilesTest, ATimeInTheRepeatedHourComesBackExactly) {
  // Both instants of each pair show the same wall-clock time, an hour apart
  // on either side of the switch back to standard time.
  const ZoneCase repeated[] = {{"America/New_York", 1699162200, "66783,5400"},
                               {"Europe/Berlin", 1698539400, "66776,9000"},
                               {"Australia/Sydney", 1680363000, "66566,9000"}};
  const std::string path = Write("r.int", "x");
  for (const ZoneCase& c : repeated) {
    const ZoneForTest zone(c.zone);
    for (const time_t instant : {c.instant, c.instant + 3600}) {
      utimbuf times{instant, instant};
      ASSERT_EQ(utime(path.c_str(), &times), 0);
      EXPECT_EQ(fileTimestamp(path), c.timestamp) << c.zone << " " << instant;
    }
    ASSERT_TRUE(setFileTimestamp(path, c.timestamp));
    EXPECT_EQ(ModifiedAt(path), c.instant) << c.zone;  // the earlier of the two
    EXPECT_EQ(fileTimestamp(path), c.timestamp) << c.zone;
  }
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

}  // namespace
}  // namespace kvrtools
