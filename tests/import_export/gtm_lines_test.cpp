// What comes back from each format: a GT.M file, where an empty line is an
// ordinary routine line, goes through import and export byte for byte; the
// plain and routine-set files write an empty routine line as one blank,
// because an empty line ends a routine there.
#include "export_fixture.h"

namespace kvrtest {
namespace {

constexpr long long kEmptyLinesFileEpoch = 1700000000;

class GtmLinesTest : public ExportTest {};

TEST_F(GtmLinesTest, GtmFileWithEmptyLinesComesBackByteForByte) {
  const std::string content = "\nGAP ; empty lines first, inside and last\n\n\n q\n\n";
  dir_.write("GAP.m", content);
  SetFileTime("GAP.m", kEmptyLinesFileEpoch);
  ASSERT_EQ(Run("kvrdbrigtm", {"GAP.m"}).status, 0);
  EXPECT_EQ(Routine("^ROUTINE", "GAP"),
            "6,42|0=" + Timestamp(kEmptyLinesFileEpoch) + "|1=|2=GAP ; empty lines first, inside and last|3=|4=|5= q|6=");

  const std::string out = Folder("out");
  const RunResult r = RunIn(out, "kvrdbrogtm", {"GAP"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read("out/GAP.m"), content);

  // The other formats cannot hold an empty line inside a routine.
  EXPECT_EQ(RunIn(out, "kvrdbro", {"GAP"}).status, 0);
  EXPECT_EQ(dir_.read("out/GAP.int"), " \nGAP ; empty lines first, inside and last\n \n \n q\n \n");
  const RunResult set = Run("kvrdbrostd", {"GAP"});
  EXPECT_NE(set.out.find("\nGAP\n \nGAP ; empty lines first, inside and last\n \n \n q\n \n\n"), std::string::npos)
      << set.out;
}

}  // namespace
}  // namespace kvrtest
