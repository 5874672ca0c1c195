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
  // A folder inside the test folder, set up like it for running utilities.
  std::string Folder(const std::string& name) {
    const std::string path = dir_.file(name);
    std::filesystem::create_directory(path);
    std::filesystem::copy_file(dir_.file("libkovrasc.so"), path + "/libkovrasc.so");
    std::filesystem::copy_file(dir_.file("kvrct.ini"), path + "/kvrct.ini");
    return path;
  }

  RunResult RunIn(const std::string& folder, const std::string& tool, const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = folder;
    RunResult result = runTool(toolPath(tool), args, options);
    EXPECT_FALSE(result.timedOut) << tool;
    return result;
  }

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
