// The sets of names the utilities collect: byte order, each text once.
#include "string_set.h"

#include <gtest/gtest.h>

namespace kvrtools {
namespace {

TEST(StringSetOrder, PlainByteOrderEachTextOnce) {
  StringSet set;
  const TextHandler collect = collectInto(set);
  for (const char* v : {"a1", "Z1", "", "a1", "\xe9", "a"}) collect(v);
  EXPECT_EQ(set, (StringSet{"Z1", "a", "a1", "\xe9"}));
  EXPECT_EQ(*set.rbegin(), "\xe9");  // above 127 sorts last, not first
}

}  // namespace
}  // namespace kvrtools
