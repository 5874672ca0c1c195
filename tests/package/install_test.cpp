// `cmake --install` into a fresh prefix, then what a user of the installed
// tree does: build a C client with pkg-config and run it against the
// installed kvrdevserver, and run an installed utility, which finds the
// installed library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace kvrtest {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kPrograms = {
    "kvrdbri",   "kvrdbrigtm", "kvrdbrirsa",  "kvrdbro",   "kvrdbrorsa",   "kvrdbrogtm", "kvrdbrostd",
    "kvrdblist", "kvrdbrfirst", "kvrdbkill", "kvrdbcompile", "kvrdbexec", "kvrdevserver",
};

std::vector<std::string> wordsOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const RunResult installed = Run(KVR_CMAKE, {"--install", KVR_BUILD_DIR, "--prefix", prefix_.path()});
    ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
  }

  RunResult Run(const std::string& program, const std::vector<std::string>& args,
                std::map<std::string, std::string> env = {}) {
    RunOptions options;
    options.cwd = work_.path();
    options.env = std::move(env);
    options.timeout = std::chrono::seconds(120);
    RunResult result = runTool(program, args, options);
    EXPECT_FALSE(result.timedOut) << program;
    return result;
  }

  std::string Installed(const std::string& relative) const { return prefix_.file(relative); }

  TempDir prefix_;
  TempDir work_;
};

TEST_F(InstallTest, PrefixHoldsLibraryHeaderPkgConfigProgramsAndPages) {
  EXPECT_TRUE(fs::is_regular_file(Installed("lib/libkovrasc.so")));
  EXPECT_TRUE(fs::is_regular_file(Installed("include/kovrasc.h")));
  EXPECT_TRUE(fs::is_regular_file(Installed("lib/pkgconfig/kovrasc.pc")));
  for (const std::string& program : kPrograms) {
    EXPECT_EQ(access(Installed("bin/" + program).c_str(), X_OK), 0) << program;
    EXPECT_TRUE(fs::is_regular_file(Installed("share/man/man1/" + program + ".1"))) << program;
  }
  EXPECT_TRUE(fs::is_regular_file(Installed("share/man/man3/kovrasc.3")));
  EXPECT_TRUE(fs::is_regular_file(Installed("share/man/man5/kvrct.ini.5")));
  // Nothing but the twelve utilities and the server: no test programs.
  std::size_t programs = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Installed("bin"))) ++programs;
  EXPECT_EQ(programs, kPrograms.size());
}

TEST_F(InstallTest, ClientBuiltWithPkgConfigTalksToTheInstalledServer) {
  const std::map<std::string, std::string> env = {{"PKG_CONFIG_PATH", Installed("lib/pkgconfig")}};
  const RunResult flags = Run(KVR_PKG_CONFIG, {"--cflags", "--libs", "kovrasc"}, env);
  ASSERT_EQ(flags.status, 0) << flags.err;
  // The file is relocatable: its paths lead into this prefix.
  const RunResult libdir = Run(KVR_PKG_CONFIG, {"--variable=libdir", "kovrasc"}, env);
  EXPECT_EQ(fs::canonical(wordsOf(libdir.out).at(0)), fs::canonical(Installed("lib")));

  std::vector<std::string> compile = {std::string(KVR_SOURCE_DIR) + "/examples/client.c", "-o", "client",
                                      "-Wall", "-Wextra", "-Werror"};
  for (const std::string& word : wordsOf(flags.out)) compile.push_back(word);
  for (const std::string& word : wordsOf(KVR_CLIENT_FLAGS)) compile.push_back(word);
  const RunResult built = Run(KVR_C_COMPILER, compile);
  ASSERT_EQ(built.status, 0) << built.err;

  const DevServer devServer({}, Installed("bin/kvrdevserver"));
  const RunResult ran = Run(work_.file("client"), {"127.0.0.1", std::to_string(devServer.port()), "USER"},
                            {{"LD_LIBRARY_PATH", Installed("lib")}});
  EXPECT_EQ(ran.err, "");
  EXPECT_EQ(ran.out,
            "Hello from the server: 6*7=42\r\n"  // M's ! ends a line with CR LF
            "read: 14 bytes: Hello, \"world\"\n"
            "value: 1\nvalue: 4\nvalue: 9\n");
  EXPECT_EQ(ran.status, 0);
}

TEST_F(InstallTest, ClientReportsTheLibraryErrorWhenNoServerListens) {
  const std::map<std::string, std::string> env = {{"PKG_CONFIG_PATH", Installed("lib/pkgconfig")}};
  std::vector<std::string> compile = {std::string(KVR_SOURCE_DIR) + "/examples/client.c", "-o", "client"};
  for (const std::string& word : wordsOf(Run(KVR_PKG_CONFIG, {"--cflags", "--libs", "kovrasc"}, env).out))
    compile.push_back(word);
  for (const std::string& word : wordsOf(KVR_CLIENT_FLAGS)) compile.push_back(word);
  ASSERT_EQ(Run(KVR_C_COMPILER, compile).status, 0);
  // A port that was free a moment ago: the server is stopped again at once.
  int port;
  {
    DevServer server;
    port = server.port();
    server.stop();
  }
  const RunResult ran =
      Run(work_.file("client"), {"127.0.0.1", std::to_string(port), "USER"}, {{"LD_LIBRARY_PATH", Installed("lib")}});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "KVRConnectOpen failed: Connection refused\n");
}

// No copy of the library in the working folder: the installed utility finds
// the library installed with it.
TEST_F(InstallTest, InstalledUtilityLoadsTheInstalledLibrary) {
  const DevServer devServer({}, Installed("bin/kvrdevserver"));
  writeSettings(work_, devServer.port());
  const RunResult ran = Run(Installed("bin/kvrdbexec"), {"w \"6*7=\",6*7,!"});
  EXPECT_EQ(ran.out, "6*7=42\r\n");
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_FALSE(fs::exists(work_.file("libkovrasc.so")));
}

}  // namespace
}  // namespace kvrtest
