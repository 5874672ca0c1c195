// The start-up every utility shares: help, kvrct.ini, options, connecting,
// logging in. Where the library is loaded from, the reasons of failed
// connects and the password file are tested in tests/connecting.
#include <csignal>
#include <filesystem>

#include "tool_fixture.h"

namespace kvrtest {
namespace {

constexpr const char* kExecUsageStart = "Kovra CommandLine Tools.\nExecute one or series";

// No server: the start-up stops before connecting.
class StartupTest : public ::testing::Test {
 protected:
  RunResult Exec(const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = dir_.path();
    return runTool(toolPath("kvrdbexec"), args, options);
  }
  TempDir dir_;
};

TEST_F(StartupTest, HelpInAnyCaseAndPositionShowsUsageAndConnectsNothing) {
  // No library and no settings here: reaching the connection would fail.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-h"}, {"-H"}, {"-HELP"}, {"w 1", "-Help"}, {"-s", "-help"}}) {
    const RunResult r = Exec(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with(kExecUsageStart)) << r.err;
    EXPECT_TRUE(r.err.ends_with("kvrdbexec -h displays this help screen.\n"));
  }
}

TEST_F(StartupTest, FirstMissingSettingIsReportedWithUsageAndStatus255) {
  RunResult r = Exec({"w 1"});
  EXPECT_EQ(r.out, "Kovra TCP/IP server does not defined in connection.\n");
  EXPECT_TRUE(r.err.starts_with(kExecUsageStart));
  EXPECT_EQ(r.status, 255);

  dir_.write("kvrct.ini", "[Connection]\nServer = 127.0.0.1\nport=\ndatabase=USER\n");
  EXPECT_EQ(Exec({"w 1"}).out, "Kovra TCP/IP port does not defined in connection.\n");

  dir_.write("kvrct.ini", "[connection]\nserver=127.0.0.1\n[ connection ]\ndatabase=USER\n");
  r = Exec({"w 1"});
  EXPECT_EQ(r.out, "Kovra database name does not defined in connection.\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(StartupTest, ConnectFailureNamesThePortAsWritten) {
  const RunResult r = Exec({"-s", "127.0.0.1", "-p", "abc", "-d", "USER", "w 1"});
  EXPECT_EQ(r.out, "Failed to connect to Kovra Server at 127.0.0.1:abc, database USER.\n");
  EXPECT_TRUE(r.err.starts_with("port abc is not a number from 1 to 65535\n" + std::string(kExecUsageStart))) << r.err;
  EXPECT_EQ(r.status, 255);
}

class SettingsTest : public ToolTest {};

TEST_F(SettingsTest, FileSectionsCaseAndCommentsAndOptionsOverride) {
  const std::string port = std::to_string(server_->port());
  dir_.write("kvrct.ini",
             "server=10.0.0.1\n"
             "[CONNECTION]\n"
             "; server=10.0.0.2\n"
             "  SERVER = 10.0.0.3  \r\n"
             "Port=" + port + "\r\n"
             "[other]\n"
             "database=NOSUCH\n"
             "[connection]\n"
             "DataBase=USER\n");
  // The file alone names a server that does not answer; -s wins over it.
  const RunResult r = Run("kvrdbexec", {"w 6*7", "-S", "127.0.0.1"});
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.status, 0);
  // The file's port is used when no option names one; an option overrides it.
  const RunResult wrongPort = Run("kvrdbexec", {"-s", "127.0.0.1", "-p", "1", "w 1"});
  EXPECT_EQ(wrongPort.out, "Failed to connect to Kovra Server at 127.0.0.1:1, database USER.\n");
}

// Without a kvrct.ini in the current folder the user's own is read:
// $XDG_CONFIG_HOME/kovra/kvrct.ini, else ~/.config/kovra/kvrct.ini.
TEST_F(SettingsTest, UsersOwnFileServesWhenTheCurrentFolderHasNone) {
  TempDir home;
  std::filesystem::create_directories(home.file(".config/kovra"));
  std::filesystem::rename(dir_.file("kvrct.ini"), home.file(".config/kovra/kvrct.ini"));
  RunOptions options;
  options.cwd = dir_.path();
  options.env = {{"HOME", home.path()}, {"XDG_CONFIG_HOME", ""}};
  RunResult r = runTool(toolPath("kvrdbexec"), {"w 6*7"}, options);
  EXPECT_EQ(r.out, "42");
  EXPECT_EQ(r.status, 0) << r.err;
  options.env["XDG_CONFIG_HOME"] = home.file("elsewhere");
  r = runTool(toolPath("kvrdbexec"), {"w 6*7"}, options);
  EXPECT_EQ(r.out, "Kovra TCP/IP server does not defined in connection.\n");
  std::filesystem::create_directory(home.file("elsewhere"));
  std::filesystem::rename(home.file(".config/kovra"), home.file("elsewhere/kovra"));
  EXPECT_EQ(runTool(toolPath("kvrdbexec"), {"w 6*7"}, options).out, "42");
  // The current folder's file, however incomplete, wins.
  dir_.write("kvrct.ini", "[connection]\nserver=127.0.0.1\n");
  r = runTool(toolPath("kvrdbexec"), {"w 6*7"}, options);
  EXPECT_EQ(r.out, "Kovra database name does not defined in connection.\n");
}

class LoginTest : public ToolTest {
 protected:
  ServerOptions serverOptions() override {
    serverDir_.write("kovra.ini", "[Login]\nGUI=$$CHECK^%LOGIN()\n[Users]\nalice=secret\n" + std::string(255, 'a') +
                                      "=long\n");
    return {serverDir_.path(), false};
  }
  TempDir serverDir_;
};

TEST_F(LoginTest, GivenCredentialsLogInWithoutPrompt) {
  const RunResult r = Run("kvrdbexec", {"-l", "alice", "-w", "secret", "w 1"});
  EXPECT_EQ(r.out, "1");
  EXPECT_EQ(r.status, 0);
}

TEST_F(LoginTest, RefusedLoginSaysSoBeforeTheUsage) {
  const RunResult r = Run("kvrdbexec", {"-l", "alice", "-w", "wrong", "w 1"});
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("The Kovra Server refused the login.\n" + std::string(kExecUsageStart))) << r.err;
  EXPECT_EQ(r.status, 255);
}

TEST_F(LoginTest, WithoutTerminalMissingCredentialsAreReported) {
  const RunResult r = Run("kvrdbexec", {"-l", "alice", "w 1"}, "alice\nsecret\n");
  EXPECT_EQ(r.out, "Logon using user login and password required.\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(LoginTest, AtATerminalBothArePromptedAndThePasswordIsNotEchoed) {
  auto session = StartAtTerminal("kvrdbexec", {"-l", "bob", "w \"in:\",$g(%username)"});
  ASSERT_TRUE(session->waitFor("Login: "));
  session->send("alice  \n");
  ASSERT_TRUE(session->waitFor("Password: "));
  EXPECT_FALSE(session->echoOn());
  session->send("secret\r");
  EXPECT_EQ(session->finish(), 0);
  EXPECT_EQ(session->output().find("secret"), std::string::npos) << session->output();
  // The typed login replaced the one given, its trailing blanks removed.
  EXPECT_NE(session->output().find("in:alice"), std::string::npos) << session->output();
}

TEST_F(LoginTest, OverlongLoginIsCutAndItsRestNeverAnswersThePassword) {
  auto session = StartAtTerminal("kvrdbexec", {"w \"ok\""});
  ASSERT_TRUE(session->waitFor("Login: "));
  session->send(std::string(300, 'a') + "\n");
  ASSERT_TRUE(session->waitFor("Password: "));
  session->send("long\n");
  EXPECT_EQ(session->finish(), 0);
  EXPECT_NE(session->output().find("ok"), std::string::npos) << session->output();
}

TEST_F(LoginTest, InterruptAtThePasswordRestoresEcho) {
  auto session = StartAtTerminal("kvrdbexec", {"w 1"});
  ASSERT_TRUE(session->waitFor("Login: "));
  session->send("alice\n");
  ASSERT_TRUE(session->waitFor("Password: "));
  session->send("sec");
  session->interrupt();
  EXPECT_EQ(session->finish(), -SIGINT);
  EXPECT_TRUE(session->echoOn());
}

TEST_F(LoginTest, LoginExpressionFailingOnTheServerRefusesTheLogin) {
  serverDir_.write("kovra.ini", "[Login]\nGUI=$$NOSUCH^NOWHERE()\n");
  const RunResult r = Run("kvrdbexec", {"-l", "alice", "-w", "secret", "w 1"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 255);
}

}  // namespace
}  // namespace kvrtest
