// The password file: the login without -w, and without a prompt.
#include <sys/stat.h>

#include "tool_fixture.h"

namespace kvrtest {
namespace {

class PasswordFileTest : public ToolTest {
 protected:
  ServerOptions serverOptions() override {
    // A password with the two characters the file escapes.
    serverDir_.write("kovra.ini", "[Login]\nGUI=$$CHECK^%LOGIN()\n[Users]\nalice=se:cr\\et\nbob=other\n");
    ServerOptions options;
    options.dir = serverDir_.path();
    return options;
  }

  // kvrdbexec with HOME in a folder of the test's own, so no file of the
  // user running the tests takes part.
  RunResult Exec(const std::vector<std::string>& args, const std::string& passfile = "") {
    RunOptions options;
    options.cwd = dir_.path();
    options.env["HOME"] = home_.path();
    options.env["KOVRA_PASSFILE"] = passfile;
    RunResult result = runTool(toolPath("kvrdbexec"), args, options);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  void WritePassFile(const std::string& content, mode_t mode = 0600) {
    home_.write(".kovrapass", content);
    chmod(home_.file(".kovrapass").c_str(), mode);
  }

  std::string Port() const { return std::to_string(server_->port()); }

  TempDir serverDir_;
  TempDir home_;
};

constexpr const char* kWhoAmI = "w $g(%username)";

TEST_F(PasswordFileTest, MatchingLineGivesLoginAndPassword) {
  WritePassFile("# first match wins\n"
                "127.0.0.1:" + Port() + ":%SYS:bob:other\n"
                "127.0.0.1:" + Port() + ":USER:alice:se\\:cr\\\\et\n"
                "*:*:*:bob:other\n");
  RunResult r = Exec({kWhoAmI});
  EXPECT_EQ(r.out, "alice");
  EXPECT_EQ(r.status, 0) << r.err;
  // With -l, the line for that login; a wildcard login serves any.
  r = Exec({"-l", "bob", kWhoAmI});
  EXPECT_EQ(r.out, "bob");
  EXPECT_EQ(r.status, 0) << r.err;
  WritePassFile("*:*:*:*:se\\:cr\\\\et\n");
  r = Exec({"-l", "alice", kWhoAmI});
  EXPECT_EQ(r.out, "alice");
  EXPECT_EQ(r.status, 0) << r.err;
  // Without -l such a line cannot say who logs in: the prompt, which has no
  // terminal here.
  r = Exec({kWhoAmI});
  EXPECT_EQ(r.out, "Logon using user login and password required.\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(PasswordFileTest, PasswordOptionWinsOverTheFile) {
  WritePassFile("*:*:*:alice:se\\:cr\\\\et\n");
  const RunResult r = Exec({"-l", "alice", "-w", "wrong", kWhoAmI});
  EXPECT_TRUE(r.err.starts_with("The Kovra Server refused the login.\n")) << r.err;
  EXPECT_EQ(r.status, 255);
}

TEST_F(PasswordFileTest, FileOthersCanReadIsIgnoredWithAWarning) {
  WritePassFile("*:*:*:alice:se\\:cr\\\\et\n", 0644);
  const RunResult r = Exec({kWhoAmI});
  const std::string path = home_.file(".kovrapass");
  EXPECT_TRUE(r.err.starts_with("Ignoring the password file " + path + ": group or others have access to it (chmod 600 " +
                                path + " to use it).\n"))
      << r.err;
  EXPECT_EQ(r.out, "Logon using user login and password required.\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(PasswordFileTest, VariableNamesAnotherFile) {
  WritePassFile("*:*:*:bob:other\n");  // the default file, not read
  TempDir elsewhere;
  elsewhere.write("pass", "*:" + Port() + ":USER:alice:se\\:cr\\\\et\n");
  chmod(elsewhere.file("pass").c_str(), 0600);
  const RunResult r = Exec({kWhoAmI}, elsewhere.file("pass"));
  EXPECT_EQ(r.out, "alice");
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
}  // namespace kvrtest
