#include "decimal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kovra {
namespace {

std::string Format(std::string_view text, int precision) {
  const auto value = ParseDecimal(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value ? FormatGeneral(*value, precision) : std::string("<unparsed>");
}

struct FormatCase {
  const char* input;
  int precision;
  const char* expected;
};

TEST(FormatGeneral, PlainAndExponentFormsFollowThePowerOfTheFirstDigit) {
  const std::vector<FormatCase> table = {
      {"1.5", 15, "1.5"},
      {"0.5", 15, "0.5"},
      {"1.50", 15, "1.5"},
      {"100", 15, "100"},
      {"123456789012345", 15, "123456789012345"},
      {"1234567890123456", 15, "1.23456789012346e+15"},
      {"1e15", 15, "1e+15"},
      {"0.0001", 15, "0.0001"},
      {"0.00001", 15, "1e-05"},
      {"0.000123", 15, "0.000123"},
      {"1e-256", 15, "1e-256"},
      {"-2.5e-7", 15, "-2.5e-07"},
      {"1000", 2, "1e+03"},
      {"1000", 4, "1000"},
      {"0", 15, "0"},
      {"-0", 15, "0"},
      {"-0.000", 3, "0"},
      {"12.34", 0, "1e+01"},   // precision below 1 counts as 1
  };
  for (const auto& row : table) {
    EXPECT_EQ(Format(row.input, row.precision), row.expected)
        << row.input << " with " << row.precision << " digits";
  }
}

TEST(FormatGeneral, RoundsOnceOnTheExactDigitsHalfToEven) {
  const std::vector<FormatCase> table = {
      {"1.25", 2, "1.2"},
      {"1.35", 2, "1.4"},
      {"1.2500001", 2, "1.3"},
      {"-1.25", 2, "-1.2"},
      {"9.96", 2, "10"},
      {"99.96", 3, "100"},
      {"999.5", 3, "1e+03"},     // rounding moves the first digit's power
      {"0.000099996", 4, "0.0001"},
      {"0.1234567890123456789", 15, "0.123456789012346"},
      {"92233720368.54775807", 15, "92233720368.5478"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(Format(row.input, row.precision), row.expected)
        << row.input << " with " << row.precision << " digits";
  }
}

TEST(ParseDecimal, AcceptsOnlyPlainNumberTexts) {
  for (const char* text : {"0", "-1", "+1", "1.", ".5", "1e5", "1E+05", "-1.5e-3", "007"}) {
    EXPECT_TRUE(ParseDecimal(text).has_value()) << text;
  }
  for (const char* text : {"", "-", ".", "e5", "1e", "1e+", " 1", "1 ", "1,5", "1.2.3", "0x1",
                           "1e5x", "inf", "nan", "--1"}) {
    EXPECT_FALSE(ParseDecimal(text).has_value()) << text;
  }
}

TEST(ParseDecimal, NormalisesDigitsAndClampsHugeExponents) {
  const auto value = ParseDecimal("-00120.0500");
  ASSERT_TRUE(value.has_value());
  EXPECT_TRUE(value->negative);
  EXPECT_EQ(value->digits, "12005");
  EXPECT_EQ(value->exponent, -2);
  EXPECT_EQ(value->LeadingPower(), 2);

  const auto huge = ParseDecimal("1e99999999999999999999");
  ASSERT_TRUE(huge.has_value());
  EXPECT_GT(huge->LeadingPower(), 12);
  const auto tiny = ParseDecimal("1e-99999999999999999999");
  ASSERT_TRUE(tiny.has_value());
  EXPECT_LT(tiny->LeadingPower(), -12);
}

TEST(FormatGeneral, BinaryValuesAreRoundedOnceToThePrecision) {
  EXPECT_EQ(FormatGeneral(0.1L, 15), "0.1");
  EXPECT_EQ(FormatGeneral(1.0L / 3.0L, 15), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(2.0L / 3.0L, 15), "0.666666666666667");
  EXPECT_EQ(FormatGeneral(-1e20L, 15), "-1e+20");
  EXPECT_EQ(FormatGeneral(0.0L, 15), "0");
  EXPECT_FALSE(FormatGeneral(std::numeric_limits<long double>::quiet_NaN(), 15).has_value());
  EXPECT_FALSE(FormatGeneral(-std::numeric_limits<long double>::infinity(), 15).has_value());
}

}  // namespace
}  // namespace kovra
