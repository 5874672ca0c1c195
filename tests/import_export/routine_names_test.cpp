// One file, one routine: a name that would share its file with another
// routine ("_ZU" and "%ZU" both live in _ZU.int), or that a routine-set
// header or an editor would not give back unchanged ("^", outer blanks), is
// refused by every export and every import with the usual message.
#include "export_fixture.h"

namespace kvrtest {
namespace {

std::string Refusal(const std::string& name) { return "Skipping routine " + name + ": not a valid routine name.\n"; }

class RoutineNamesTest : public ExportTest {};

TEST_F(RoutineNamesTest, ExportsWriteOneRoutinePerFileAndRefuseTheOthers) {
  StoreRoutine("^ROUTINE", "%ZU", {"ZU ; the percent routine"}, "66000,1");
  for (const char* name : {"_ZU", "A^B", " LEAD", "TRAIL "})
    StoreRoutine("^ROUTINE", name, {" q ; refused"}, "66000,1");
  StoreRoutine("^ROUTINE", "MID DLE", {" q ; inner blank"}, "66000,1");
  const std::string refusals = Refusal(" LEAD") + Refusal("A^B") + Refusal("TRAIL ") + Refusal("_ZU");

  const std::string plain = Folder("plain");
  RunResult r = RunIn(plain, "kvrdbro", {"-m", "all", "*"});
  EXPECT_EQ(r.err, refusals);
  EXPECT_EQ(r.out, "Exporting routine _ZU.int\nExporting routine MID DLE.int\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("plain/_ZU.int"), "ZU ; the percent routine\n");
  EXPECT_EQ(ListingOf(plain), "MID DLE.int _ZU.int ");

  const std::string gtm = Folder("gtm");
  r = RunIn(gtm, "kvrdbrogtm", {"*"});
  EXPECT_EQ(r.err, refusals);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("gtm/_ZU.m"), "ZU ; the percent routine\n");
  EXPECT_EQ(ListingOf(gtm), "MID DLE.m _ZU.m ");

  for (const char* tool : {"kvrdbrorsa", "kvrdbrostd"}) {
    r = Run(tool, {"*"});
    EXPECT_EQ(r.err, refusals) << tool;
    EXPECT_EQ(r.status, 1) << tool;
    EXPECT_NE(r.out.find("%ZU"), std::string::npos) << tool;
    EXPECT_NE(r.out.find("MID DLE"), std::string::npos) << tool;
    EXPECT_EQ(r.out.find("refused"), std::string::npos) << tool;
  }
}

TEST_F(RoutineNamesTest, PlainAndGtmImportsRefuseCaretsAndOuterBlanks) {
  for (const char* name : {" LEAD", "A^B", "TRAIL "}) {
    dir_.write(std::string(name) + ".int", " q ; refused\n");
    dir_.write(std::string(name) + ".m", " q ; refused\n");
  }
  dir_.write("_ZU.int", "ZU ; percent\n");
  dir_.write("_ZU.m", "ZU ; percent\n");
  const std::string refusals = Refusal(" LEAD") + Refusal("A^B") + Refusal("TRAIL ");
  RunResult r = Run("kvrdbri", {"-m", "all", "*.int"});
  EXPECT_EQ(r.err, refusals);
  EXPECT_EQ(r.status, 1);
  M("k ^ROUTINE(\"%ZU\")");
  r = Run("kvrdbrigtm", {"*.m"});
  EXPECT_EQ(r.err, refusals);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(M("s n=\"\" f  s n=$o(^ROUTINE(n)) q:n=\"\"  w n,\"|\""), "%ZU|");
}

TEST_F(RoutineNamesTest, RoutineSetImportRefusesUnderscoresCaretsAndOuterBlanks) {
  dir_.write("set.rsa",
             "Kovra Tools^^Routine export^~Format=Cache.S~\n\n"
             "_ZU^INT^^66000,1^\n q ; refused\n\n"
             " LEAD^INT^^66000,1^\n q ; refused\n\n"
             "TRAIL ^INT^^66000,1^\n q ; refused\n\n"
             "A^B.INT\n q ; refused\n\n"  // a dot in the line: "." splits it
             "%ZU^INT^^66000,1^\nZU ; percent\n\n"
             "\n");
  const RunResult r = Run("kvrdbrirsa", {"set.rsa"});
  EXPECT_EQ(r.err, Refusal("_ZU") + Refusal(" LEAD") + Refusal("TRAIL ") + Refusal("A^B"));
  EXPECT_EQ(r.out, "Processing file set.rsa\nImporting routine %ZU.INT\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(M("s n=\"\" f  s n=$o(^ROUTINE(n)) q:n=\"\"  w n,\"|\""), "%ZU|");
}

}  // namespace
}  // namespace kvrtest
