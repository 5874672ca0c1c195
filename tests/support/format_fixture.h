// Fixture for the routine-set and GT.M format tests: a ToolTest whose
// programs (and server) run in UTC, so file times and routine dates convert
// with plain arithmetic, plus verbs to date files and read routines back.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tool_fixture.h"

namespace kvrtest {

// A routine date for 16 May 2039 12:00 UTC, beyond 2038 on purpose.
inline constexpr long long kLateEpoch = 2189246400LL;

class FormatTest : public ToolTest {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC0", 1);  // inherited by the server and every tool
    ToolTest::SetUp();
  }

  // The routine as "header|0=date|1=line|..." (one M line, so the text of a
  // line may hold anything but the separators the test chooses).
  std::string Routine(const std::string& global, const std::string& name) {
    const std::string node = global + "(" + Quote(name);
    return M("w $g(" + node + ")) s n=\"\" f  s n=$o(" + node + ",n)) q:n=\"\"  w \"|\",n,\"=\"," + node + ",n)");
  }

  static std::string Timestamp(long long epoch) {
    return std::to_string(epoch / 86400 + 47117) + "," + std::to_string(epoch % 86400);
  }

  void SetFileTime(const std::string& name, long long epoch) const {
    utimbuf times{};
    times.actime = static_cast<time_t>(epoch);
    times.modtime = static_cast<time_t>(epoch);
    ASSERT_EQ(utime(dir_.file(name).c_str(), &times), 0) << name;
  }

  long long FileTime(const std::string& name) const {
    struct stat info {};
    if (stat(dir_.file(name).c_str(), &info) != 0) return -1;
    return static_cast<long long>(info.st_mtime);
  }

  // The names in the test folder other than the library and the settings,
  // sorted, each followed by a blank: shows that no temporary file is left.
  std::string Listing() const {
    std::vector<std::string> entries;
    DIR* d = opendir(dir_.path().c_str());
    while (dirent* e = d ? readdir(d) : nullptr) entries.push_back(e->d_name);
    if (d) closedir(d);
    std::sort(entries.begin(), entries.end());
    std::string names;
    for (const std::string& e : entries)
      if (e != "." && e != ".." && e != "libkovrasc.so" && e != "kvrct.ini") names += e + " ";
    return names;
  }

  // The server's $h as seconds since 1970.
  long long ServerNow() {
    const std::string h = M("w $h");
    const std::size_t comma = h.find(',');
    return (std::stoll(h.substr(0, comma)) - 47117) * 86400 + std::stoll(h.substr(comma + 1));
  }
};

}  // namespace kvrtest
