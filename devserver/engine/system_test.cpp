// The server's built-in routines that need a server directory or the
// connection: settings, login check, call-backs, messages; and the journal.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine_test_support.h"

namespace mengine::test {
namespace {


class DirectoryTest : public EngineTest {
 protected:
  DirectoryTest() : EngineTest(withDirectory(dir_, &sink_)) {}
  static inline TempDir dir_;
  RecordingSink sink_;
};

TEST_F(DirectoryTest, ReadsSettingsAndChecksLogins) {
  dir_.write("kovra.ini",
             "; settings\n[Login]\nGUI = $$CHECK^%LOGIN()\r\n[Users]\nalice=secret\nbob=\n");
  EXPECT_EQ(eval("$v(\"proc\",6)"), dir_.path() + "/");
  std::string login = eval("$$ReadString^%INI($v(\"proc\",6)_\"kovra.ini\",\"Login\",\"GUI\")");
  EXPECT_EQ(login, "$$CHECK^%LOGIN()");
  struct Case {
    const char* user;
    const char* password;
    const char* accepted;
  } cases[] = {{"alice", "secret", "1"}, {"alice", "wrong", "0"}, {"bob", "", "1"},
               {"carol", "", "0"},       {"", "", "0"}};
  for (const auto& c : cases) {
    job_.set("%username", c.user, io_);
    job_.set("%password", c.password, io_);
    EXPECT_EQ(eval(login), c.accepted) << c.user << "/" << c.password;
  }
  EXPECT_EQ(eval("$$ReadString^%INI($v(\"proc\",6)_\"kovra.ini\",\"Login\",\"None\")"), "");
}

TEST_F(DirectoryTest, ReadsOnlyFilesOfTheServerDirectory) {
  dir_.write("other.ini", "[Login]\nGUI=1\n");
  EXPECT_EQ(eval("$$ReadString^%INI($v(\"proc\",6)_\"other.ini\",\"Login\",\"GUI\")"), "1");
  EXPECT_EQ(eval("$$ReadString^%INI($v(\"proc\",6)_\"../x/other.ini\",\"Login\",\"GUI\")"), "");
  EXPECT_EQ(eval("$$ReadString^%INI(\"/etc/passwd\",\"root\",\"x\")"), "");
}

TEST_F(DirectoryTest, JournalsEveryChangeOfAGlobal) {
  run("s ^A(1)=\"x\",local=1 k ^A(1),^never s ^A(2)=3 zn \"USER\" s ^B=4");
  run("s ^rMAC(\"M\",1)=\"M ; m\" d compile^%RCOMPIL(\"M.MAC\")");
  server_.replaySet("USER", "C", {"1"}, "quiet");
  ASSERT_GE(sink_.records.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(sink_.records.begin(), sink_.records.begin() + 6),
            (std::vector<std::string>{"S %SYS A|1=x", "K %SYS A|1", "S %SYS A|2=3", "S USER B=4",
                                      "S USER rMAC|M|1=M ; m", "S USER ROUTINE|M|1=M ; m"}));
  EXPECT_EQ(sink_.records.back().rfind("S USER rOBJ|M=", 0), 0u);
  EXPECT_EQ(sink_.records.size(), 7u);
  EXPECT_EQ(eval("^C(1)"), "quiet");
}

TEST_F(DirectoryTest, VisitsEveryNodeForCompaction) {
  server_.replaySet("USER", "G", {"10"}, "b");
  server_.replaySet("USER", "G", {"9"}, "a");
  server_.replaySet("USER", "G", {}, "top");
  server_.replaySet("%SYS", "H", {"x", "1"}, "c");
  server_.replayKill("USER", "G", {"10"});
  server_.replaySet("NOPE", "G", {}, "ignored");
  std::vector<std::string> seen;
  server_.forEachNode([&](const std::string& db, const std::string& g, const Subscripts& subs,
                          const std::string& v) {
    seen.push_back(db + " " + g + RecordingSink::join(subs) + "=" + v);
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"%SYS H|x|1=c", "USER G=top", "USER G|9=a"}));
  EXPECT_TRUE(sink_.records.empty());
}

using ConnectionTest = EngineTest;

TEST_F(ConnectionTest, CallsBackAndSendsMessages) {
  io_.callbackAnswer = "42";
  EXPECT_EQ(eval("$$callback^%srv(\"name\",\"cmd\")+1"), "43");
  EXPECT_EQ(io_.callbacks, (std::vector<std::string>{"name|cmd"}));
  run("d msg^%srv(3),msg^%srv(0)");
  EXPECT_EQ(io_.messages, (std::vector<std::string>{"3", "0"}));
  EXPECT_EQ(eval("$$gloname^%RSEL(\"x.inc\")_$$gloname^%RSEL(\"x.Mac\")_$$gloname^%RSEL(\"x\")"),
            "^rINC^rMAC");
  EXPECT_EQ(eval("$$pat^%RSEL(\"a\"\"b*\")"), "1\"a\"\"b\".E");
}

}  // namespace
}  // namespace mengine::test
