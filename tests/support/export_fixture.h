// Fixture for the tests of the exporters' failures: the format tests'
// fixture (tools and server in UTC) plus verbs for working folders and for
// routines too big for a nearly full disk.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "format_fixture.h"

namespace kvrtest {

class ExportTest : public FormatTest {
 protected:
  // An INT routine of lines × 30000 bytes.
  void StoreBigRoutine(const std::string& name, int lines) {
    const std::string node = "^ROUTINE(\"" + name + "\"";
    M("f i=1:1:" + std::to_string(lines) + " s " + node + ",i)=$tr($j(\"\",30000),\" \",\"x\")");
    M("s " + node + ")=\"" + std::to_string(lines) + "," + std::to_string(lines * 30000) + "\"," + node +
      ",0)=\"66000,1\"");
  }

  // The names in folder other than the library and the settings, sorted,
  // each followed by a blank.
  static std::string ListingOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name != "libkovrasc.so" && name != "kvrct.ini") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const std::string& name : names) listing += name + " ";
    return listing;
  }
};

}  // namespace kvrtest
