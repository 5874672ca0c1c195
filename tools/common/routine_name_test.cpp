// Which routine names are safe in an M line, and which can travel as files.
#include "routine_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvrtools {
namespace {

TEST(RoutineNameCheck, RefusesNamesThatBreakOutOfLiteralsOrFolders) {
  EXPECT_TRUE(isValidRoutineName("%ZU"));
  EXPECT_TRUE(isValidRoutineName("abc.x"));
  for (const std::string& bad : std::vector<std::string>{"", "a\"b", "a/b", "..\\x", std::string("a\x1f", 2), std::string("a\x7f", 2),
                          std::string("a\0b", 3)})
    EXPECT_FALSE(isValidRoutineName(bad)) << bad;
  EXPECT_TRUE(isValidRoutineName("\xc3\xa9"));  // bytes above 127 are fine
}

TEST(RoutineNameCheck, TransferableNamesAreTheOnlyRoutineOfTheirFileName) {
  for (const char* good : {"%ZU", "A_B", "A B", "%", "Z%"}) EXPECT_TRUE(isTransferableRoutineName(good)) << good;
  // "_ZU" would share _ZU.int with "%ZU"; "^" splits routine-set headers;
  // outer blanks do not survive editors and header trimming.
  for (const char* bad : {"_ZU", "_", "A^B", "^", " A", "A ", " ", "a/b", ""})
    EXPECT_FALSE(isTransferableRoutineName(bad)) << bad;
  EXPECT_TRUE(isValidRoutineName("_ZU"));  // still safe in an M line
}

}  // namespace
}  // namespace kvrtools
