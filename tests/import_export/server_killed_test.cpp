// kvrdevserver killed (SIGKILL, by pid) at fixed points of an import and of
// an export of a corpus of routines. A relay between the utility and the
// server kills the server when the utility sends a given request (optionally
// after part of the answer), so each point is exact and repeatable. Every
// utility must end with status 1 and a message; no local file may be left
// truncated or replaced by a partial one; and after a restart on the same
// --dir the database holds, whole, every routine whose import was
// acknowledged.
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cutting_proxy.h"
#include "tool_fixture.h"

namespace kvrtest {
namespace {

constexpr int kRoutines = 30;
constexpr int kLines = 40;

std::string RoutineName(int i) {
  std::string digits = std::to_string(i);
  return "R" + std::string(3 - digits.size(), '0') + digits;
}

std::vector<std::string> RoutineLines(int i) {
  std::vector<std::string> lines{RoutineName(i) + " ; routine " + std::to_string(i)};
  for (int n = 2; n <= kLines; ++n)
    lines.push_back(" s x(" + std::to_string(n) + ")=\"" + std::string(40, static_cast<char>('a' + n % 26)) + "\"");
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The stored form of routine i as RoutineOnServer shows it.
std::string StoredForm(int i) {
  const std::vector<std::string> lines = RoutineLines(i);
  std::size_t chars = 0;
  for (const std::string& line : lines) chars += line.size();
  std::string form = std::to_string(lines.size()) + "," + std::to_string(chars);
  for (std::size_t n = 0; n < lines.size(); ++n) form += "|" + std::to_string(n + 1) + "=" + lines[n];
  return form;
}

// The names that follow prefix at the start of a line of out, in order.
std::vector<std::string> NamesAfter(const std::string& out, const std::string& prefix) {
  std::vector<std::string> names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(prefix)) continue;
    const std::string rest = line.substr(prefix.size());
    names.push_back(rest.substr(0, rest.find('.')));
  }
  return names;
}

class ServerKilledTest : public ToolTest {
 protected:
  ServerOptions serverOptions() override { return ServerOptions{data_.path(), false}; }


  // A new server on the same directory, and the settings pointing at it.
  void Restart() {
    server_ = std::make_unique<DevServer>(serverOptions());
    writeSettings(dir_, server_->port());
  }

  // "count,chars|1=line|2=line..." of an INT routine.
  std::string RoutineOnServer(const std::string& name) {
    const std::string node = "^ROUTINE(\"" + name + "\"";
    return M("w $g(" + node + ")) f n=1:1 q:'$d(" + node + ",n))  w \"|\",n,\"=\"," + node + ",n)");
  }

  // Every acknowledged routine is on the server whole after the restart.
  void ExpectWholeAfterRestart(const std::vector<std::string>& acknowledged) {
    Restart();
    for (const std::string& name : acknowledged) {
      const int i = std::stoi(name.substr(1));
      EXPECT_EQ(RoutineOnServer(name), StoredForm(i)) << name;
    }
  }

  // The files of the test folder that are not the library or the settings.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name != "libkovrasc.so" && name != "kvrct.ini") names.insert(name);
    }
    return names;
  }

  void StoreCorpus() {
    for (int i = 1; i <= kRoutines; ++i) StoreRoutine("^ROUTINE", RoutineName(i), RoutineLines(i), "66000,1");
  }

  TempDir data_;  // the server's --dir, kept across restarts
};

// Import points: between two routines (at a compile), in the middle of a
// routine's lines, and at the first line of a routine.
TEST_F(ServerKilledTest, SourceFileImportKeepsEveryAcknowledgedRoutine) {
  for (int i = 1; i <= kRoutines; ++i) dir_.write(RoutineName(i) + ".int", Joined(RoutineLines(i)));
  const std::vector<std::string> triggers{"compile^%RCOMPIL(\"R008.INT\")", "^ROUTINE(\"R017\",20)",
                                          "^ROUTINE(\"R025\",1)"};
  for (const std::string& trigger : triggers) {
    const RunResult r = RunUntilKilled("kvrdbri", {"-m", "all", "*.int"}, trigger, 0);
    EXPECT_EQ(r.status, 1) << trigger;
    EXPECT_EQ(r.err, "Socket is not connected.\n") << trigger;
    // A routine is acknowledged once its compile was announced: its lines
    // and its header were all stored before.
    const std::vector<std::string> acknowledged = NamesAfter(r.out, "Compiling ");
    EXPECT_FALSE(acknowledged.empty()) << trigger;
    EXPECT_LT(acknowledged.size(), static_cast<std::size_t>(kRoutines)) << trigger;
    ExpectWholeAfterRestart(acknowledged);
  }
}

TEST_F(ServerKilledTest, RoutineSetAndGtmImportsKeepEveryAcknowledgedRoutine) {
  std::string set = "Kovra Tools^^Routine export^~Format=Cache.S~\n\n";
  for (int i = 1; i <= kRoutines; ++i) {
    set += RoutineName(i) + "^INT^^66000,1^\n" + Joined(RoutineLines(i)) + "\n";
    dir_.write(RoutineName(i) + ".m", Joined(RoutineLines(i)));
  }
  dir_.write("all.rsa", set + "\n");
  struct Case {
    std::string tool;
    std::vector<std::string> args;
    std::string trigger;
    std::string announced;  // the message printed before each routine is stored
  };
  // The import tools store through the local rglobal; the line that stores
  // a routine's header is the last of each routine.
  const std::vector<Case> cases{
      {"kvrdbrirsa", {"all.rsa"}, "(\"R012\",30)", "Importing routine "},
      {"kvrdbrigtm", {"*.m"}, "(\"R021\",2)", "Importing routine "},
  };
  for (const Case& c : cases) {
    const RunResult r = RunUntilKilled(c.tool, c.args, c.trigger, 0);
    EXPECT_EQ(r.status, 1) << c.tool;
    EXPECT_EQ(r.err, "Socket is not connected.\n") << c.tool;
    // Announced routines are stored one after the other: all but the last
    // announced one were acknowledged before the next was announced.
    std::vector<std::string> acknowledged = NamesAfter(r.out, c.announced);
    ASSERT_GT(acknowledged.size(), 1u) << c.tool << "\n" << r.out;
    const std::string cut = acknowledged.back();
    acknowledged.pop_back();
    EXPECT_LT(acknowledged.size(), static_cast<std::size_t>(kRoutines)) << c.tool;
    ExpectWholeAfterRestart(acknowledged);
    // The routine under way was cut off: it never looks like a whole one.
    EXPECT_NE(RoutineOnServer(cut), StoredForm(std::stoi(cut.substr(1)))) << c.tool;
    M("k ^ROUTINE");
  }
}

// Export points: right after a routine is selected (before its text is
// asked for) and in the middle of its text.
TEST_F(ServerKilledTest, ExportsLeaveEveryFileOldOrWhole) {
  StoreCorpus();
  struct Case {
    std::string tool;
    std::vector<std::string> args;
    std::string extension;  // of the per-routine files; empty for one set file
    std::size_t replyBytes;
  };
  const std::vector<Case> cases{
      {"kvrdbro", {"-m", "all", "*"}, ".int", 0},    {"kvrdbro", {"-m", "all", "*"}, ".int", 1000},
      {"kvrdbrogtm", {"*"}, ".m", 0},                {"kvrdbrogtm", {"*"}, ".m", 1000},
      {"kvrdbrorsa", {"*", "all.rsa"}, "", 1000},    {"kvrdbrostd", {"*", "all.std"}, "", 1000},
  };
  std::string selectR015 = "rn4";
  selectR015 += '\0';
  selectR015 += "R015";
  for (const Case& c : cases) {
    const std::string label = c.tool + " " + std::to_string(c.replyBytes);
    std::set<std::string> before;
    if (c.extension.empty()) {
      before.insert(c.args[1]);
      dir_.write(c.args[1], "old set\n");
    } else {
      for (int i = 1; i <= kRoutines; ++i) {
        before.insert(RoutineName(i) + c.extension);
        dir_.write(RoutineName(i) + c.extension, "old\n");
      }
    }
    const RunResult r = RunUntilKilled(c.tool, c.args, selectR015, c.replyBytes);
    EXPECT_EQ(r.status, 1) << label;
    EXPECT_EQ(r.err, "Socket is not connected.\n") << label;
    // No temporary file is left behind, and no file is missing.
    EXPECT_EQ(Files(), before) << label;
    if (c.extension.empty()) {
      EXPECT_EQ(dir_.read(c.args[1]), "old set\n") << label;
    } else {
      int rewritten = 0;
      for (int i = 1; i <= kRoutines; ++i) {
        const std::string content = dir_.read(RoutineName(i) + c.extension);
        if (content == "old\n") continue;
        EXPECT_EQ(content, Joined(RoutineLines(i))) << label << " " << RoutineName(i);
        ++rewritten;
      }
      EXPECT_EQ(rewritten, 14) << label;  // R001 to R014, each whole
    }
    for (const std::string& name : before) std::filesystem::remove(dir_.file(name));
    Restart();
  }
}

}  // namespace
}  // namespace kvrtest
