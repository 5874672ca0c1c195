// File times and routine dates in zones with daylight-saving time: the
// routine date is the local time of the file with the offset in force then,
// so update mode sees an edit made seconds after the routine, and an export
// dates its file with the routine's exact moment, in summer and in winter.
#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

struct Moment {
  const char* zone;
  time_t instant;
  const char* date;  // the routine date of instant in zone
};

// 14 Nov 2023 22:13:20 UTC and 10 Jul 2023 14:40:00 UTC; the last three are
// the first of two instants an hour apart with the same wall-clock time.
constexpr Moment kMoments[] = {
    {"Australia/Sydney", 1700000000, "66793,33200"}, {"Australia/Sydney", 1689000000, "66666,2400"},
    {"America/New_York", 1700000000, "66792,62000"}, {"America/New_York", 1689000000, "66665,38400"},
    {"Europe/Berlin", 1700000000, "66792,83600"},    {"Europe/Berlin", 1689000000, "66665,60000"},
    {"America/New_York", 1699162200, "66783,5400"},  {"Europe/Berlin", 1698539400, "66776,9000"},
    {"Australia/Sydney", 1680363000, "66566,9000"},
};

class DaylightSavingTest : public PlainFilesTest {
 protected:
  RunResult RunInZone(const char* zone, const std::string& folder, const std::string& tool,
                      const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = folder;
    options.env["TZ"] = zone;
    RunResult result = runTool(toolPath(tool), args, options);
    EXPECT_FALSE(result.timedOut) << tool;
    return result;
  }
};

TEST_F(DaylightSavingTest, AnEditSecondsAfterTheRoutineIsImportedAndTheSameMomentIsNot) {
  for (const Moment& m : kMoments) {
    StoreRoutine("^ROUTINE", "dst", {"dst ; stored"}, m.date);
    Write("dst.int", "dst ; same moment\n", m.instant);
    RunResult r = RunInZone(m.zone, dir_.path(), "kvrdbri", {"dst.int"});
    EXPECT_EQ(r.out, "") << m.zone << " " << m.instant;
    EXPECT_EQ(r.status, 0) << r.err;
    Write("dst.int", "dst ; edited\n", m.instant + 5);
    r = RunInZone(m.zone, dir_.path(), "kvrdbri", {"dst.int"});
    EXPECT_EQ(r.out, "Importing dst.int\nCompiling dst.int\n") << m.zone << " " << m.instant;
    EXPECT_EQ(Value(R"(^ROUTINE("dst",1))"), "dst ; edited");
  }
}

TEST_F(DaylightSavingTest, AnExportedFileCarriesTheRoutinesExactMoment) {
  const std::string out = Folder("out");
  for (const Moment& m : kMoments) {
    StoreRoutine("^ROUTINE", "dst", {"dst ; stored"}, m.date);
    const RunResult r = RunInZone(m.zone, out, "kvrdbro", {"-m", "all", "dst"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ModifiedTime("out/dst.int"), m.instant) << m.zone << " " << m.date;
  }
}

}  // namespace
}  // namespace kvrtest
