// GoogleTest fixture for end-to-end tests of the utilities: each test gets a
// fresh folder holding libkovrasc.so and a kvrct.ini that points at a
// kvrdevserver of its own (override serverOptions for --dir or --greeting).
// Helper verbs: Run a utility, run M lines, store a routine, test a node.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cutting_proxy.h"
#include "process.h"

namespace kvrtest {

// The first lines of the routine-set files: the routine-set (RSA) and the
// ANSI forms.
inline constexpr const char* kRsaHead = "Kovra Tools^^Routine export^~Format=Cache.S~\n\n";
inline constexpr const char* kAnsiHead = "Kovra Tools, Routine export~Format=ANSI.S~\n\n";

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

  // A folder inside the test folder, set up like it for running utilities.
  std::string Folder(const std::string& name) {
    const std::string path = dir_.file(name);
    std::filesystem::create_directory(path);
    std::filesystem::copy_file(dir_.file("libkovrasc.so"), path + "/libkovrasc.so");
    std::filesystem::copy_file(dir_.file("kvrct.ini"), path + "/kvrct.ini");
    return path;
  }

  // Runs a utility in such a folder.
  RunResult RunIn(const std::string& folder, const std::string& tool, const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = folder;
    options.timeout = std::chrono::seconds(120);
    RunResult result = runTool(toolPath(tool), args, options);
    EXPECT_FALSE(result.timedOut) << tool;
    return result;
  }

  // Runs tool through a relay that kills this test's server once the tool
  // has sent trigger and replyBytes of the answer have come back.
  RunResult RunUntilKilled(const std::string& tool, std::vector<std::string> args, const std::string& trigger,
                           std::size_t replyBytes) {
    CuttingProxy proxy(server_->port(), trigger, replyBytes, CuttingProxy::AtTrigger::kCut,
                       [this] { server_->kill(); });
    args.insert(args.begin(), {"-p", std::to_string(proxy.port())});
    const RunResult r = Run(tool, args);
    EXPECT_TRUE(proxy.triggered()) << tool << " never sent " << trigger;
    return r;
  }

  // Runs M lines on the server (through kvrdbexec) and returns their output.
  std::string M(const std::string& line) {
    const RunResult result = Run("kvrdbexec", {line});
    EXPECT_EQ(result.status, 0) << line << "\n" << result.err;
    return result.out;
  }

  // Stores a routine in the layout the utilities use: (name) = "lines,chars",
  // (name,0) = timestamp when one is given, (name,1...) = the lines.
  void StoreRoutine(const std::string& global, const std::string& name, const std::vector<std::string>& lines,
                    const std::string& timestamp = "") {
    std::size_t chars = 0;
    for (const std::string& text : lines) chars += text.size();
    std::string line = "s " + global + "(" + Quote(name) + ")=\"" + std::to_string(lines.size()) + "," +
                       std::to_string(chars) + "\"";
    if (!timestamp.empty()) line += "," + global + "(" + Quote(name) + ",0)=" + Quote(timestamp);
    for (std::size_t i = 0; i < lines.size(); ++i)
      line += "," + global + "(" + Quote(name) + "," + std::to_string(i + 1) + ")=" + Quote(lines[i]);
    M(line);
  }

  // An M string literal of text (quotes doubled).
  static std::string Quote(const std::string& text) {
    std::string literal = "\"";
    for (char c : text) literal += c == '"' ? std::string("\"\"") : std::string(1, c);
    return literal + "\"";
  }

  // "1" when the node or anything below it exists, else "0".
  std::string Exists(const std::string& node) { return M("w ''$d(" + node + ")"); }

  std::unique_ptr<PtySession> StartAtTerminal(const std::string& tool, const std::vector<std::string>& args) {
    return std::make_unique<PtySession>(toolPath(tool), args, dir_.path());
  }

  TempDir dir_;
  std::unique_ptr<DevServer> server_;
};

}  // namespace kvrtest
