// The batched date comparison of the update modes: lines within the call
// record, every check covered once and in order, values taken apart.
#include "date_batch.h"

#include <gtest/gtest.h>

namespace kvrtools {
namespace {

TEST(DateBatchTest, LinesCoverEveryCheckInOrderWithinTheLimit) {
  std::vector<DateCheck> checks;
  for (int i = 0; i < 500; ++i) checks.push_back({"R" + std::to_string(i), &kIntType, "66000," + std::to_string(i)});
  checks.push_back({"%Z", &kMacroType, ""});
  constexpr std::size_t kLimit = 2000;
  std::size_t covered = 0;
  int lines = 0;
  while (covered < checks.size()) {
    const DateLine line = dateComparisonLine(checks, covered, kLimit);
    ASSERT_GE(line.checks, 1u);
    EXPECT_LE(line.text.size(), kLimit);
    EXPECT_NE(line.text.find("\"" + checks[covered].routine + "." + std::string(checks[covered].type->name) + "\"\""),
              std::string::npos);
    covered += line.checks;
    ++lines;
  }
  EXPECT_EQ(covered, checks.size());
  EXPECT_GT(lines, 1);
  EXPECT_TRUE(dateComparisonLine(checks, checks.size() - 1, kLimit).text.starts_with("f x=\"%Z.MAC\"\"\""));
}

TEST(DateBatchTest, ValuesSplitAtTheLastMark) {
  const DateComparison c = parseDateComparison("66000,5\x01-100");
  EXPECT_EQ(c.routineDate, "66000,5");
  EXPECT_EQ(c.difference, -100);
  const DateComparison empty = parseDateComparison(std::string("\x01") + "6700000000");
  EXPECT_EQ(empty.routineDate, "");
  EXPECT_EQ(empty.difference, 6700000000);
  // A date that holds the mark itself does not move the difference.
  EXPECT_EQ(parseDateComparison("a\x01" "b\x01" "7").difference, 7);
}

}  // namespace
}  // namespace kvrtools
