// GoogleTest fixture for end-to-end tests of the utilities: each test gets a
// fresh folder holding libkovrasc.so and a kvrct.ini that points at a
// kvrdevserver of its own (override serverOptions for --dir or --greeting).
// Helper verbs: Run a utility, run M lines, store a routine, test a node.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "process.h"

namespace kvrtest {

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.addLibrary();
    server_ = std::make_unique<DevServer>(serverOptions());
    writeSettings(dir_, server_->port());
  }

  virtual ServerOptions serverOptions() { return {}; }

  RunResult Run(const std::string& tool, const std::vector<std::string>& args, const std::string& input = "") {
    RunOptions options;
    options.cwd = dir_.path();
    options.input = input;
    RunResult result = runTool(toolPath(tool), args, options);
    EXPECT_FALSE(result.timedOut) << tool;
    return result;
  }

  // Runs M lines on the server (through kvrdbexec) and returns their output.
  std::string M(const std::string& line) {
    const RunResult result = Run("kvrdbexec", {line});
    EXPECT_EQ(result.status, 0) << line << "\n" << result.err;
    return result.out;
  }

  // Stores a routine in the layout the utilities expect.
  void StoreRoutine(const std::string& global, const std::string& name, const std::vector<std::string>& lines) {
    std::string line = "s " + global + "(\"" + name + "\")=\"" + std::to_string(lines.size()) + ",0\"";
    for (std::size_t i = 0; i < lines.size(); ++i)
      line += "," + global + "(\"" + name + "\"," + std::to_string(i + 1) + ")=\"" + lines[i] + "\"";
    M(line);
  }

  // 1 when the node exists with data, else 0 (M's $d of a routine header).
  std::string Exists(const std::string& node) { return M("w ''$d(" + node + ")"); }

  std::unique_ptr<PtySession> StartAtTerminal(const std::string& tool, const std::vector<std::string>& args) {
    return std::make_unique<PtySession>(toolPath(tool), args, dir_.path());
  }

  TempDir dir_;
  std::unique_ptr<DevServer> server_;
};

}  // namespace kvrtest
