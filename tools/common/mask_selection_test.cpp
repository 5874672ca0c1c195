// The M lines that select routines by mask.
#include "mask_selection.h"

#include <gtest/gtest.h>

namespace kvrtools {
namespace {

TEST(MaskLines, HandBackLineNamesTheGlobal) {
  EXPECT_EQ(handBackLine("^rMAC"), R"(s rn="" f  s rn=$o(rtn("^rMAC",rn)) q:rn=""  d wo^%srv(rn))");
}

}  // namespace
}  // namespace kvrtools
