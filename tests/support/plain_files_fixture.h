// Fixture for the tests of kvrdbri and kvrdbro: the tool fixture plus verbs
// for file times, routine nodes and folder listings.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tool_fixture.h"

namespace kvrtest {

class PlainFilesTest : public ToolTest {
 protected:
  // A fixed moment (2023-11-14 22:13:20 UTC) the tests date files from.
  static constexpr time_t kSomeTime = 1700000000;

  void Write(const std::string& name, const std::string& content, time_t modified = kSomeTime) {
    dir_.write(name, content);
    SetTime(name, modified);
  }

  void SetTime(const std::string& name, time_t modified) {
    utimbuf times{modified, modified};
    ASSERT_EQ(utime(dir_.file(name).c_str(), &times), 0) << name;
  }

  time_t ModifiedTime(const std::string& name) {
    struct stat info {};
    EXPECT_EQ(stat(dir_.file(name).c_str(), &info), 0) << name;
    return info.st_mtime;
  }

  // A file time as a routine date "days,seconds" in local standard time
  // (day 47117 is 1 January 1970), the way the utilities convert it.
  static std::string Horolog(time_t t) {
    tzset();
    const long long local = static_cast<long long>(t) - timezone;
    long long days = local / 86400;
    if (local % 86400 < 0) --days;
    return std::to_string(days + 47117) + "," + std::to_string(local - days * 86400);
  }

  // The file time a routine date stands for (the inverse of Horolog).
  static time_t FileTimeOf(long long days, long long seconds) {
    tzset();
    return static_cast<time_t>((days - 47117) * 86400 + seconds + timezone);
  }

  // The value of an M reference (through kvrdbexec).
  std::string Value(const std::string& reference) { return M("w " + reference); }

  // The names in a folder, apart from the library and the settings file.
  static std::set<std::string> FilesIn(const std::string& path) {
    std::set<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (!folder) return names;
    while (const dirent* entry = readdir(folder)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && name != "libkovrasc.so" && name != "kvrct.ini") names.insert(name);
    }
    closedir(folder);
    return names;
  }
  std::set<std::string> Files() { return FilesIn(dir_.path()); }

};

}  // namespace kvrtest
