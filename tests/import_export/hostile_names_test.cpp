// One corpus of hostile routine names, file names and routine-set headers run
// through every import and every export utility. Whatever the names hold,
// no M code of theirs runs on the server (an injection would define
// ^CANARY), only the valid routines are stored or written, nothing is written
// outside the working folder, and every refused name is reported.
#include <dirent.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tool_fixture.h"

namespace kvrtest {
namespace {

const std::string kLongName(240, 'L');   // a file name that still fits the file system

// Names that must be refused wherever they appear: each could end the M
// string it is put into, carries a control byte, or points out of the folder.
const std::vector<std::string> kRefusedNames{
    "A\") s ^CANARY=1 ;",
    "B\"_$$X^CANARY_\"",
    "C\x01" "D",
    "E\nF",
    "G\x1b[2JH",
    "I\x7fJ",
};

class HostileNamesTest : public ToolTest {
 protected:
  // Any M code smuggled in by a name would set this global.
  std::string Canary() { return M("w $d(^CANARY)"); }

  // The routine names under global, each followed by '|'.
  std::string Names(const std::string& global) {
    return M("s n=\"\" f  s n=$o(" + global + "(n)) q:n=\"\"  w n,\"|\"");
  }

  // An M expression for text: control bytes as $C(), quotes doubled.
  static std::string Expr(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 32 || b == 127) {
        out += "\"_$C(" + std::to_string(b) + ")_\"";
      } else {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
      }
    }
    return out + "\"";
  }

  // Stores a one-line INT routine under any name, however hostile.
  void StoreAnyName(const std::string& name) {
    M("s ^ROUTINE(" + Expr(name) + ")=\"1,5\",^ROUTINE(" + Expr(name) + ",0)=\"66000,1\",^ROUTINE(" + Expr(name) +
      ",1)=\" q ;x\"");
  }

  // The names in a folder, apart from the library and the settings file.
  static std::set<std::string> FilesIn(const std::string& path) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      const std::string name = entry.path().filename().string();
      if (name != "libkovrasc.so" && name != "kvrct.ini") names.insert(name);
    }
    return names;
  }

  // The name as the refusal shows it: control bytes as _$C(n)_.
  static std::string Shown(const std::string& name) {
    std::string out;
    for (const char c : name) {
      const auto b = static_cast<unsigned char>(c);
      out += b < 32 || b == 127 ? "_$C(" + std::to_string(b) + ")_" : std::string(1, c);
    }
    return out;
  }

  // One refusal line per refused name, in any order; and no control byte
  // but the line feeds reaches the user's terminal.
  static void ExpectRefusals(const std::string& err, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      const std::string line = "Skipping routine " + Shown(name) + ": not a valid routine name.\n";
      EXPECT_NE(err.find(line), std::string::npos) << "no refusal of " << Expr(name) << " in:\n" << err;
    }
    for (const char c : err) {
      const auto b = static_cast<unsigned char>(c);
      EXPECT_TRUE(c == '\n' || (b >= 32 && b != 127)) << "control byte " << int(b) << " in:\n" << err;
    }
  }
};

TEST_F(HostileNamesTest, SourceFileImportStoresOnlyValidNames) {
  dir_.write("ok1.int", "ok1 ; fine\n s x=\"\") s ^CANARY=9 ;\"\n q\n");
  dir_.write("Q'R).int", "Q ; quote and paren are plain name bytes\n");
  dir_.write(kLongName + ".int", " q\n");
  for (const std::string& name : kRefusedNames) dir_.write(name + ".int", " s ^CANARY=8\n");
  dir_.write("_\") k ^ROUTINE ;.inc", " ;\n");
  const RunResult r = Run("kvrdbri", {"-m", "all", "*.int,*.inc"});
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> refused = kRefusedNames;
  refused.push_back("%\") k ^ROUTINE ;");
  ExpectRefusals(r.err, refused);
  EXPECT_EQ(Canary(), "0");
  EXPECT_EQ(Names("^ROUTINE"), kLongName + "|Q'R)|ok1|");
  EXPECT_EQ(Names("^rINC"), "");
  EXPECT_EQ(M("w ^ROUTINE(\"ok1\",2)"), " s x=\"\") s ^CANARY=9 ;\"");
}

TEST_F(HostileNamesTest, GtmImportStoresOnlyValidNames) {
  dir_.write("good.m", "good ; \") s ^CANARY=7\n q\n");
  dir_.write(kLongName + ".m", " q\n");
  for (const std::string& name : kRefusedNames) dir_.write(name + ".m", " s ^CANARY=6\n");
  dir_.write("_\") s ^CANARY=5 ;.m", " q\n");
  const RunResult r = Run("kvrdbrigtm", {"*.m"});
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> refused = kRefusedNames;
  refused.push_back("%\") s ^CANARY=5 ;");
  ExpectRefusals(r.err, refused);
  EXPECT_EQ(Canary(), "0");
  EXPECT_EQ(Names("^ROUTINE"), kLongName + "|good|");
}

// Routine-set headers are taken apart on the server; none of their fields
// may reach an M line unchecked.
TEST_F(HostileNamesTest, RoutineSetHeadersCannotInjectCode) {
  std::string set = "Kovra Tools^^Routine export^~Format=Cache.S~\n\n";
  set += "GOOD^INT^^66000,1^\nGOOD ; \") s ^CANARY=1\n q\n\n";
  for (const std::string& name : kRefusedNames) {
    if (name.find('\n') == std::string::npos) set += name + "^INT^^66000,1^\n s ^CANARY=2\n\n";
  }
  set += "T^INT\") s ^CANARY=3 ;^^66000,1^\n q\n\n";      // type field
  set += "U^I\x1b[2JNT^^66000,1^\n q\n\n";                 // type with a control byte
  set += "D^INT^^66000,1\") s ^CANARY=4 ;^\n q\n\n";      // date field
  set += "../up^INT^^66000,1^\n q\n\n";                   // dots split: empty name
  set += "S/L^INT^^66000,1^\n q\n\n";
  set += "LAST^INT^^66000,1^\n q\n\n";
  dir_.write("set.rsa", set);
  // A header line longer than a routine line can be: the whole file is
  // refused, nothing of it reaches the server.
  dir_.write("long.rsa", "Kovra Tools^^Routine export^~Format=Cache.S~\n\n" + std::string(40000, 'X') +
                             "^INT^^66000,1^\n q\n\n");
  const RunResult r = Run("kvrdbrirsa", {"long.rsa,set.rsa"});
  EXPECT_EQ(r.status, 1);
  // Without a dot in the line the header splits at "^": the name field is
  // what stands before the first one.
  std::vector<std::string> refused;
  for (const std::string& name : kRefusedNames)
    if (name.find('\n') == std::string::npos) refused.push_back(name.substr(0, name.find('^')));
  refused.push_back("");
  refused.push_back("S/L");
  ExpectRefusals(r.err, refused);
  EXPECT_NE(r.err.find("Skipping routine T: unknown type INT\") S .\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Skipping routine U: unknown type I_$C(27)_[2JNT.\n"), std::string::npos) << r.err;
  EXPECT_EQ(Canary(), "0");
  EXPECT_TRUE(r.err.starts_with("Skipping file long.rsa: line 3 is longer than a routine line can be (32767 "
                                "bytes).\n"))
      << r.err;
  EXPECT_EQ(r.err.find("Not compatible server data format."), std::string::npos) << r.err;
  EXPECT_EQ(Names("^ROUTINE"), "D|GOOD|LAST|");
  EXPECT_EQ(M("w ^ROUTINE(\"D\",0)=\"66000,1\""), "0");  // the date field was not taken
}

TEST_F(HostileNamesTest, ExportsWriteOnlyInsideTheFolderAndReportEveryRefusedName) {
  // A working folder inside the test folder: a name that escaped it would
  // land in the test folder itself.
  const std::string work = Folder("work");
  std::vector<std::string> refused = kRefusedNames;
  refused.push_back("../escaped");
  refused.push_back(dir_.file("absolute"));
  refused.push_back("sub/dir");
  refused.push_back("back\\slash");
  for (const std::string& name : refused) StoreAnyName(name);
  for (const std::string& name : {std::string("ok"), std::string("%OK"), std::string(".."), kLongName})
    StoreAnyName(name);

  struct Export {
    std::string tool;
    std::vector<std::string> args;
  };
  const std::vector<Export> exports{{"kvrdbro", {"-m", "all", "*"}},
                                    {"kvrdbrogtm", {"*"}},
                                    {"kvrdbrorsa", {"*", "out.rsa"}},
                                    {"kvrdbrostd", {"*", "out.std"}}};
  for (const Export& e : exports) {
    const RunResult r = RunIn(work, e.tool, e.args);
    EXPECT_EQ(r.status, 1) << e.tool << "\n" << r.err;
    ExpectRefusals(r.err, refused);
  }
  EXPECT_EQ(Canary(), "0");
  // Plain files and GT.M files for the valid names, the two routine sets,
  // nothing else.
  EXPECT_EQ(FilesIn(work), (std::set<std::string>{"...int", "...m", "_OK.int", "_OK.m", "ok.int", "ok.m",
                                                  kLongName + ".int", kLongName + ".m", "out.rsa", "out.std"}));
  EXPECT_EQ(FilesIn(dir_.path()), std::set<std::string>{"work"});
  const std::string rsa = dir_.read("work/out.rsa");
  EXPECT_NE(rsa.find("\n..^INT^^66000,1^\n q ;x\n"), std::string::npos);
  EXPECT_EQ(rsa.find("CANARY"), std::string::npos);
  EXPECT_EQ(rsa.find("escaped"), std::string::npos);
}

}  // namespace
}  // namespace kvrtest
