// kvrdevserver's help text and its start-up failures: each failure is one
// line on standard error naming what failed, the path or port and why, and
// the status its manual page lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"

namespace kvrtest {
namespace {

class DevServerStartupTest : public ::testing::Test {
 protected:
  RunResult Start(const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = dir_.path();
    options.timeout = std::chrono::seconds(10);
    return runTool(toolPath("kvrdevserver"), args, options);
  }

  // A start-up failure: status 1, nothing on standard output, exactly one
  // line on standard error that holds every part of expected.
  static void ExpectOneLineFailure(const RunResult& r, const std::vector<std::string>& expected) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(r.err.starts_with("kvrdevserver: ")) << r.err;
    ASSERT_TRUE(r.err.ends_with("\n")) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    for (const std::string& part : expected) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
  }

  TempDir dir_;
};

TEST_F(DevServerStartupTest, HelpNamesEveryOptionWithItsDefault) {
  for (const char* flag : {"-h", "--help"}) {
    RunResult r = Start({flag});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with(
        "usage: kvrdevserver [--listen ADDRESS] [--port N] [--dir DIR] [--greeting ok|connect]\n"
        "                    [--segment N]\n"))
        << r.out;
    for (const char* part : {"--listen ADDRESS", "default 127.0.0.1", "--port N", "default 5000", "--dir DIR", "kovra.ini", ".journal",
                             "--greeting ok|connect", "--segment N", "-h, --help"}) {
      EXPECT_NE(r.out.find(part), std::string::npos) << part;
    }
  }
}

TEST_F(DevServerStartupTest, UnusableDirectoryIsOneLineNamingThePath) {
  dir_.write("plain", "not a folder");
  ExpectOneLineFailure(Start({"--port", "0", "--dir", dir_.file("plain")}),
                       {"cannot use database directory", dir_.file("plain"), "Not a directory"});
  ExpectOneLineFailure(Start({"--port", "0", "--dir", dir_.file("plain/db")}),
                       {"cannot use database directory", dir_.file("plain/db")});
}

TEST_F(DevServerStartupTest, PortInUseIsOneLineNamingThePort) {
  DevServer running;
  std::string port = std::to_string(running.port());
  ExpectOneLineFailure(Start({"--port", port}),
                       {"cannot listen on 127.0.0.1:" + port, "Address already in use"});
}

TEST_F(DevServerStartupTest, DirectoryInUseByAnotherServerIsRefused) {
  ServerOptions options;
  options.dir = dir_.file("db");
  DevServer running(options);
  ExpectOneLineFailure(Start({"--port", "0", "--dir", dir_.file("db")}),
                       {"in use by another kvrdevserver"});
}

}  // namespace
}  // namespace kvrtest
