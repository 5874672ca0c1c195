#include "date_difference.h"

#include <gtest/gtest.h>

namespace {

TEST(LeadingIntegerTest, ReadsSignedDigitsUpToTheFirstOtherByte) {
  EXPECT_EQ(kvrtools::leadingInteger("86400"), 86400);
  EXPECT_EQ(kvrtools::leadingInteger("-3"), -3);
  EXPECT_EQ(kvrtools::leadingInteger("+12abc"), 12);
  EXPECT_EQ(kvrtools::leadingInteger("7.9"), 7);
}

TEST(LeadingIntegerTest, TextWithoutLeadingDigitsIsZero) {
  EXPECT_EQ(kvrtools::leadingInteger(""), 0);
  EXPECT_EQ(kvrtools::leadingInteger("-"), 0);
  EXPECT_EQ(kvrtools::leadingInteger(" 5"), 0);
  EXPECT_EQ(kvrtools::leadingInteger("<UNDEFINED>"), 0);
}

TEST(LeadingIntegerTest, HugeValuesAreClampedInsteadOfOverflowing) {
  EXPECT_EQ(kvrtools::leadingInteger("99999999999999999999999999"), INT64_C(1) << 60);
  EXPECT_EQ(kvrtools::leadingInteger("-99999999999999999999999999"), -(INT64_C(1) << 60));
}

}  // namespace
