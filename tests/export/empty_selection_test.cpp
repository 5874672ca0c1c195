// A mask that selects no routine to export is a failed run, not an empty
// success: every exporter says so on standard error and ends with 1. An
// update run that finds every file current is still a silent success, and
// the listing and removal tools keep their own answers to "nothing".
#include "export_fixture.h"

namespace kvrtest {
namespace {


class EmptySelectionTest : public ExportTest {};

TEST_F(EmptySelectionTest, EveryExporterReportsAMaskThatSelectsNothing) {
  StoreRoutine("^ROUTINE", "HELLO", {"HELLO q"}, "66000,1");
  struct Case {
    std::string tool;
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases{
      {"kvrdbro", {"NOPE*"}, ""},
      {"kvrdbro", {"-m", "all", "NOPE*,NADA.mac"}, ""},
      {"kvrdbrogtm", {"NOPE*"}, ""},
      {"kvrdbrorsa", {"NOPE*"}, std::string(kRsaHead) + "\n"},
      {"kvrdbrostd", {"NOPE*"}, std::string(kAnsiHead) + "\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = Run(c.tool, c.args);
    const std::string mask = c.args.back();
    EXPECT_EQ(r.err, "Mask " + mask + " selects no routine to export.\n") << c.tool << " " << mask;
    EXPECT_EQ(r.out, c.out) << c.tool;
    EXPECT_EQ(r.status, 1) << c.tool;
  }
  EXPECT_EQ(Listing(), "");
}

TEST_F(EmptySelectionTest, ARoutineSetFileIsStillWrittenWithNothingInIt) {
  StoreRoutine("^rMAC", "ONLYMAC", {"ONLYMAC q"});
  RunResult r = Run("kvrdbrorsa", {"NOPE*", "none.rsa"});
  EXPECT_EQ(r.err, "Mask NOPE* selects no routine to export.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("none.rsa"), std::string(kRsaHead) + "\n");
  // The ANSI layout and GT.M files carry INT routines only: a MAC routine
  // selected is nothing to export for them.
  r = Run("kvrdbrostd", {"ONLYMAC.mac", "none.std"});
  EXPECT_EQ(r.err, "Mask ONLYMAC.mac selects no routine to export.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir_.read("none.std"), std::string(kAnsiHead) + "\n");
  r = Run("kvrdbrogtm", {"ONLYMAC.mac"});
  EXPECT_EQ(r.err, "Mask ONLYMAC.mac selects no routine to export.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Listing(), "none.rsa none.std ");
}

TEST_F(EmptySelectionTest, UpdateModeWithEverythingCurrentStaysSilentAndSucceeds) {
  StoreRoutine("^ROUTINE", "HELLO", {"HELLO q"}, "66000,1");
  RunResult r = Run("kvrdbro", {"HELLO"});
  EXPECT_EQ(r.out, "Exporting routine HELLO.int\n");
  EXPECT_EQ(r.status, 0);
  r = Run("kvrdbro", {"HELLO"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(EmptySelectionTest, ListingAndRemovalKeepTheirAnswers) {
  for (const char* tool : {"kvrdblist", "kvrdbrfirst"}) {
    const RunResult r = Run(tool, {"NOPE*"});
    EXPECT_EQ(r.out, "") << tool;
    EXPECT_EQ(r.err, "") << tool;
    EXPECT_EQ(r.status, 0) << tool;
  }
  const RunResult r = Run("kvrdbkill", {"NOPE*"});
  EXPECT_EQ(r.out, "No routines matched mask was found.\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace kvrtest
