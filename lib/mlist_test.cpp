#include "mlist.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<int>;

std::string FromBytes(const Bytes& bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

Bytes ToBytes(const std::string& s) {
  Bytes bytes;
  for (unsigned char c : s) bytes.push_back(c);
  return bytes;
}

// The bytes of a list whose element 1 was set from text on an empty list.
Bytes EncodedAsOnlyElement(const std::string& text) {
  TMList list;
  list.SetText(1, text);
  return ToBytes(list.Data());
}

TMList ListOf(const std::string& data) {
  TMList list;
  list.SetData(data);
  return list;
}

struct ByteForm {
  const char* text;
  Bytes bytes;
};

TEST(TMListEncoding, NumbersAndTextsTakeTheirByteForms) {
  const std::vector<ByteForm> table = {
      {"12", {3, 4, 12}},
      {"0", {2, 4}},
      {"-1", {2, 5}},
      {"255", {3, 4, 255}},
      {"256", {4, 4, 0, 1}},
      {"-256", {3, 5, 0}},
      {"-257", {4, 5, 255, 254}},
      {"9223372036854775807", {10, 4, 255, 255, 255, 255, 255, 255, 255, 127}},
      {"-9223372036854775808", {10, 5, 0, 0, 0, 0, 0, 0, 0, 128}},
      // 1.5 * 10^8 = 150000000 = 0x08F0D180
      {"1.5", {7, 6, 248, 0x80, 0xD1, 0xF0, 0x08}},
      // w = 149999999 = 0x08F0D17F, written as 255 - each byte
      {"-1.5", {7, 7, 248, 0x80, 0x2E, 0x0F, 0xF7}},
      {"0.0001", {5, 6, 248, 0x10, 0x27}},
      {"-0.0001", {5, 7, 248, 0xF0, 0xD8}},
      {"1e-08", {4, 6, 248, 1}},
      {"-1e-08", {3, 7, 248}},
      {"abc", {5, 1, 'a', 'b', 'c'}},
      {"", {2, 1}},
  };
  for (const auto& row : table) {
    EXPECT_EQ(EncodedAsOnlyElement(row.text), row.bytes) << "text " << row.text;
  }
}

TEST(TMListEncoding, NonCanonicalNumberTextsStayStrings) {
  for (const char* text : {"007", "+5", "1.50", "1e3", "-0", " 5", "5 ", ".5", "5.", "1,5",
                           "0.0", "9223372036854775808", "1E-05", "0x10"}) {
    const Bytes bytes = EncodedAsOnlyElement(text);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[1], 1) << "text " << text;
  }
}

TEST(TMListEncoding, StringOf254BytesTakesTheLongHeader) {
  EXPECT_EQ(EncodedAsOnlyElement(std::string(253, 'x')).size(), 255u);
  EXPECT_EQ(EncodedAsOnlyElement(std::string(253, 'x'))[0], 255);

  const Bytes bytes = EncodedAsOnlyElement(std::string(254, 'x'));
  ASSERT_EQ(bytes.size(), 4u + 254u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0, 255, 0, 1}));

  const Bytes longer = EncodedAsOnlyElement(std::string(1000, 'y'));
  EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 4), (Bytes{0, 0xE9, 0x03, 1}));
}

TEST(TMListEncoding, SettingElementThreeOfAnEmptyListPadsWithUndefinedElements) {
  TMList list;
  list.SetText(3, "12");
  EXPECT_EQ(ToBytes(list.Data()), (Bytes{1, 1, 3, 4, 12}));
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.GetText(1), "");
  EXPECT_EQ(list.GetText(2), "");
  EXPECT_EQ(list.GetText(3), "12");
}

TEST(TMListEncoding, ReplacingAnElementKeepsTheOthersByteForByte) {
  TMList list;
  list.SetText(1, "first");
  list.SetText(2, std::string(300, 'l'));
  list.SetText(3, "-7");
  const std::string before = list.Data();
  list.SetText(2, "2.25");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.GetText(1), "first");
  EXPECT_EQ(list.GetText(2), "2.25");
  EXPECT_EQ(list.GetText(3), "-7");
  EXPECT_EQ(list.Data().substr(0, 7), before.substr(0, 7));
  EXPECT_EQ(list.Data().substr(list.Data().size() - 3), before.substr(before.size() - 3));
}

TEST(TMListDecoding, DecimalsReadInGeneralFormat) {
  const std::vector<std::pair<Bytes, const char*>> table = {
      {{7, 6, 248, 0x80, 0xD1, 0xF0, 0x08}, "1.5"},
      {{7, 6, 248, 0x80, 0xF0, 0xFA, 0x02}, "0.5"},
      {{4, 6, 255, 5}, "0.5"},                  // 5 / 10^1
      {{4, 6, 254, 25}, "0.25"},                // 25 / 10^2, any exponent byte
      {{3, 6, 248}, "0"},
      {{4, 6, 1, 1}, "1e-255"},
      {{11, 6, 255, 255, 255, 255, 255, 255, 255, 255, 127}, "9.22337203685478e+17"},
      {{11, 6, 248, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, "92233720368.5478"},
      {{4, 6, 251, 1}, "1e-05"},
      {{4, 6, 252, 1}, "0.0001"},
      {{3, 7, 248}, "-1e-08"},
      {{2, 7}, ""},
      {{2, 6}, ""},                             // no exponent byte
  };
  for (const auto& [bytes, text] : table) {
    EXPECT_EQ(ListOf(FromBytes(bytes)).GetText(1), text);
  }
}

TEST(TMListDecoding, IntegersReadInDecimalWhateverTheirPadding) {
  EXPECT_EQ(ListOf(FromBytes({5, 4, 7, 0, 0})).GetText(1), "7");
  EXPECT_EQ(ListOf(FromBytes({5, 5, 255, 255, 255})).GetText(1), "-1");
  EXPECT_EQ(ListOf(FromBytes({10, 4, 255, 255, 255, 255, 255, 255, 255, 255})).GetText(1),
            "18446744073709551615");
  EXPECT_EQ(ListOf(FromBytes({10, 5, 0, 0, 0, 0, 0, 0, 0, 0})).GetText(1),
            "-18446744073709551616");
  // Past 64 bits nothing this codec writes; the element reads empty.
  EXPECT_EQ(ListOf(FromBytes({11, 4, 1, 0, 0, 0, 0, 0, 0, 0, 1})).GetText(1), "");
}

TEST(TMListDecoding, LongFormAndOddTypesAreStepped) {
  // long-form integer 5, an element of type 2, a long-form string, a bare long header
  const std::string data = FromBytes({0, 2, 0, 4, 5, 4, 2, 'z', 'z', 0, 3, 0, 1, 'o', 'k', 0, 0, 0, 1});
  TMList list = ListOf(data);
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list.GetText(1), "5");
  EXPECT_EQ(list.GetText(2), "");
  EXPECT_EQ(list.GetText(3), "ok");
  EXPECT_EQ(list.GetText(4), "");
  EXPECT_EQ(list.GetText(5), "");
  EXPECT_EQ(list.GetText(6), "");
}

TEST(TMListCount, MalformedAndOneByteListsCountZero) {
  const std::vector<Bytes> table = {
      {},
      {1},
      {3},
      {0},
      {3, 4, 12, 0, 5},        // long header without its second length byte
      {3, 4, 12, 4, 1, 'a'},   // last element reaches past the end
      {0, 9, 0, 1, 'a'},
  };
  for (const auto& bytes : table) {
    TMList list = ListOf(FromBytes(bytes));
    EXPECT_EQ(list.Count(), 0) << "list of " << bytes.size() << " bytes";
    EXPECT_EQ(list.GetText(1), "");
  }
  EXPECT_EQ(ListOf(FromBytes({1, 1})).Count(), 2);
}

TEST(TMListCount, CacheFollowsEveryAssignment) {
  TMList list;
  EXPECT_EQ(list.Count(), 0);
  list.SetText(2, "x");
  EXPECT_EQ(list.Count(), 2);
  list.SetData(FromBytes({2, 1, 2, 1, 2, 1}));
  EXPECT_EQ(list.Count(), 3);
  list.Build(std::vector<TMList::Value>{int64_t{1}});
  EXPECT_EQ(list.Count(), 1);
}

TEST(TMListIndex, IndexBelowOneIsAnError) {
  TMList list;
  list.SetText(1, "keep");
  const std::string before = list.Data();
  for (int index : {0, -1, -2147483647 - 1}) {
    EXPECT_THROW(list.GetText(index), EListError);
    EXPECT_THROW(list.SetText(index, "x"), EListError);
    EXPECT_THROW(list.GetInteger(index), EListError);
  }
  EXPECT_EQ(list.Data(), before);
}

TEST(TMListIndex, GetIntegerConvertsOnlyWholeIntegerTexts) {
  TMList list;
  list.SetText(1, "-42");
  list.SetText(2, "1.5");
  list.SetText(3, "12abc");
  list.SetInteger(4, 9000000000);
  EXPECT_EQ(list.GetInteger(1), -42);
  EXPECT_EQ(list.GetInteger(2), 0);
  EXPECT_EQ(list.GetInteger(3), 0);
  EXPECT_EQ(list.GetInteger(4), 9000000000);
  EXPECT_EQ(list.GetInteger(5), 0);
  EXPECT_EQ(ToBytes(list.Data().substr(list.Data().size() - 7)),
            (Bytes{7, 4, 0x00, 0x1A, 0x71, 0x18, 0x02}));
}

// Values the decimal form cannot hold exactly are kept as strings.
TEST(TMListRefusals, DecimalsThatWouldNotReadBackStayStrings) {
  for (const char* text : {"92233720368.5478", "-92233720368.5478", "99999999999.5",
                           "0.000000001", "-0.000000004", "0.000000015", "1.123456789",
                           "92233720368.54775807", "1e-09"}) {
    const Bytes bytes = EncodedAsOnlyElement(text);
    EXPECT_EQ(bytes[1], 1) << "text " << text;
    TMList list;
    list.SetText(1, text);
    EXPECT_EQ(list.GetText(1), text);
  }
  // Inside the range the decimal form is used.
  for (const char* text : {"92233720368.5477", "-92233720368.5477", "2e-08", "1e-05"}) {
    const Bytes bytes = EncodedAsOnlyElement(text);
    EXPECT_TRUE(bytes[1] == 6 || bytes[1] == 7) << "text " << text;
  }
}

// A set never produces a list longer than 32768 bytes.
TEST(TMListRefusals, SetRefusesToPassTheMaximumLength) {
  TMList list;
  list.SetText(1, std::string(32764, 's'));  // 4-byte header: exactly 32768
  EXPECT_EQ(list.Data().size(), 32768u);
  const std::string full = list.Data();
  EXPECT_THROW(list.SetText(2, ""), EListError);
  EXPECT_THROW(list.SetText(1, std::string(32765, 's')), EListError);
  EXPECT_EQ(list.Data(), full);
  list.SetText(1, "short");
  EXPECT_EQ(list.GetText(1), "short");

  TMList empty;
  EXPECT_THROW(empty.SetText(2147483647, "x"), EListError);
  EXPECT_EQ(empty.Data(), "");
  empty.SetText(32766, "1");  // 32765 padding bytes and a 3-byte element
  EXPECT_EQ(empty.Data().size(), 32768u);
}

// A set on bytes that do not parse would hide the new element in them.
TEST(TMListRefusals, SetOnAMalformedListIsRefused) {
  for (const Bytes& bytes : {Bytes{5, 1}, Bytes{0}, Bytes{3, 4, 12, 0, 5}}) {
    TMList list = ListOf(FromBytes(bytes));
    EXPECT_THROW(list.SetText(1, "x"), EListError);
    EXPECT_EQ(ToBytes(list.Data()), bytes);
  }
  // A lone undefined element is a sound list even though it counts 0.
  TMList lone = ListOf(FromBytes({1}));
  lone.SetText(2, "x");
  EXPECT_EQ(ToBytes(lone.Data()), (Bytes{1, 3, 1, 'x'}));
}

TEST(TMListBuild, ValuesBecomeTypedElements) {
  TMList list;
  const std::vector<TMList::Value> values = {
      std::string("user"), int64_t{-5}, 0.25L, std::monostate{}, 1.5L, std::string(),
      int64_t{256}};
  list.Build(values);
  EXPECT_EQ(ToBytes(list.Data()),
            (Bytes{6, 1, 'u', 's', 'e', 'r', 3, 5, 251, 7, 6, 248, 0x40, 0x78, 0x7D, 0x01, 1,
                   7, 6, 248, 0x80, 0xD1, 0xF0, 0x08, 2, 1, 4, 4, 0, 1}));
  EXPECT_EQ(list.Count(), 7);
}

TEST(TMListBuild, RealsRoundToNearestAndOddRealsBecomeStrings) {
  TMList list;
  list.Build(std::vector<TMList::Value>{0.000000024L, 0.000000026L, 1e-12L, 1e20L, -0.0L});
  EXPECT_EQ(list.GetText(1), "2e-08");
  EXPECT_EQ(list.GetText(2), "3e-08");
  EXPECT_EQ(list.GetText(3), "1e-12");
  EXPECT_EQ(list.GetText(4), "1e+20");
  EXPECT_EQ(list.GetText(5), "0");
  TMList bad;
  bad.SetText(1, "keep");
  EXPECT_THROW(bad.Build(std::vector<TMList::Value>{std::numeric_limits<long double>::infinity()}),
               EListError);
  EXPECT_EQ(bad.GetText(1), "keep");
}

TEST(TMListBuild, ListPastTheMaximumLengthRaises) {
  TMList list;
  list.SetText(1, "keep");
  const std::string before = list.Data();
  const std::vector<TMList::Value> fits = {std::string(32764, 'a')};
  list.Build(fits);
  EXPECT_EQ(list.Data().size(), 32768u);
  const std::vector<TMList::Value> values = {std::string(32764, 'a'), std::monostate{}};
  list.SetData(before);
  try {
    list.Build(values);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "MAX LIST LENGTH (32768) EXCEEDED");
  }
  EXPECT_EQ(list.Data(), before);
  EXPECT_THROW(list.Build(std::vector<TMList::Value>{std::string(70000, 'a')}), EListError);
}

// Random typed values: built, then every element read back.
TEST(TMListProperty, BuiltValuesReadBack) {
  std::mt19937_64 rng(20261207);
  for (int round = 0; round < 300; ++round) {
    std::vector<TMList::Value> values;
    std::vector<std::string> expected;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
      switch (rng() % 4) {
        case 0: {
          const auto v = static_cast<int64_t>(rng()) >> (rng() % 64);
          values.emplace_back(v);
          expected.push_back(std::to_string(v));
          break;
        }
        case 1: {
          // Whole hundred-millionths, small enough that the binary value
          // rounds back to the same mantissa.
          // At least 10^-4 in size, so the text is never in exponent form.
          int64_t m = static_cast<int64_t>(rng() % 999999990000) + 10000;
          if (rng() % 2 == 0) m = -m;
          values.emplace_back(static_cast<long double>(m) / 100000000.0L);
          std::string text = std::to_string(m < 0 ? -m : m);
          if (text.size() < 9) text.insert(0, 9 - text.size(), '0');
          text.insert(text.size() - 8, ".");
          while (text.back() == '0') text.pop_back();
          if (text.back() == '.') text.pop_back();
          if (m < 0) text.insert(0, "-");
          expected.push_back(text);
          break;
        }
        case 2: {
          std::string s(rng() % 400, '\0');
          for (char& c : s) c = static_cast<char>(rng());
          values.emplace_back(s);
          expected.push_back(s);
          break;
        }
        default:
          values.emplace_back(std::monostate{});
          expected.emplace_back();
      }
    }
    TMList list;
    list.Build(values);
    ASSERT_EQ(list.Count(), n == 1 && expected[0].empty() && list.Data().size() == 1 ? 0 : n);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(list.GetText(i + 1), expected[static_cast<std::size_t>(i)])
          << "round " << round << " element " << i + 1;
    }
  }
}

std::string RandomText(std::mt19937_64& rng) {
  static const std::string numberish = "0123456789.-+eE ";
  std::string s(rng() % 24, '\0');
  const bool numeric = rng() % 4 != 0;
  for (char& c : s) {
    c = numeric ? numberish[rng() % (rng() % 3 == 0 ? numberish.size() : 10)]
                : static_cast<char>(rng());
  }
  if (numeric && rng() % 3 == 0 && s.size() > 2) s[rng() % (s.size() - 1)] = '.';
  return s;
}

// Any text set into a list reads back unchanged, and the others stay.
TEST(TMListProperty, SetTextsReadBackUnchanged) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 300; ++round) {
    TMList list;
    std::vector<std::string> model;
    for (int step = 0; step < 20; ++step) {
      const int index = 1 + static_cast<int>(rng() % 10);
      const std::string text = RandomText(rng);
      list.SetText(index, text);
      if (model.size() < static_cast<std::size_t>(index)) model.resize(index);
      model[static_cast<std::size_t>(index - 1)] = text;
    }
    ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
    for (std::size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(list.GetText(static_cast<int>(i + 1)), model[i]) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace kovra
