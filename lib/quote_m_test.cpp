#include "quote_m.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kovra {
namespace {

// A small evaluator of the M string expressions QuoteM writes: string
// literals with doubled quotes, $C(n,...) and the concatenation _. Anything
// else, or a code above 255, is nullopt.
class MStringEvaluator {
 public:
  explicit MStringEvaluator(std::string_view text) : text_(text) {}

  std::optional<std::string> Evaluate() {
    std::string value;
    do {
      if (!Term(value)) return std::nullopt;
    } while (Accept('_'));
    if (pos_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  bool Accept(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Term(std::string& value) {
    if (Accept('"')) return Literal(value);
    if (text_.substr(pos_, 3) == "$C(") {
      pos_ += 3;
      return Codes(value);
    }
    return false;
  }

  bool Literal(std::string& value) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c != '"') {
        value += c;
      } else if (Accept('"')) {
        value += '"';
      } else {
        return true;
      }
    }
    return false;  // unterminated
  }

  bool Codes(std::string& value) {
    do {
      int code = 0;
      std::size_t digits = 0;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && digits < 4) {
        code = code * 10 + (text_[pos_++] - '0');
        ++digits;
      }
      if (digits == 0 || code > 255) return false;
      value += static_cast<char>(code);
    } while (Accept(','));
    return Accept(')');
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

TEST(QuoteM, EdgeCasesGiveTheExpectedExpressions) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {"", R"("")"},
      {"abc", R"("abc")"},
      {"a\tb", R"("a"_$C(9)_"b")"},
      {"\r\n", "$C(13,10)"},
      {"\nx", R"($C(10)_"x")"},
      {"z\r\n", R"("z"_$C(13,10))"},
      {"\"", R"("""")"},
      {"say \"hi\"", R"("say ""hi""")"},
      {"\n\"", R"($C(10)_"""")"},
      {std::string(1, '\0'), "$C(0)"},
      {"\x7f\xc8", "\"\x7f\xc8\""},
      {"\x1f ", R"($C(31)_" ")"},
      {"\"\x01\"", R"(""""_$C(1)_"""")"},
  };
  for (const auto& [input, expected] : table) {
    EXPECT_EQ(QuoteM(input), expected);
  }
}

TEST(QuoteM, EvaluatorRejectsWhatIsNotAnExpression) {
  for (const char* text : {"", "abc", "\"a", "$C(", "$C()", "$C(256)", "\"a\"_", "\"a\"\"b"}) {
    EXPECT_FALSE(MStringEvaluator(text).Evaluate().has_value()) << text;
  }
}

// Random byte strings, weighted towards quotes and control bytes, come back
// unchanged through the expression QuoteM writes.
TEST(QuoteM, RandomBytesEvaluateBackToThemselves) {
  std::mt19937_64 rng(1207);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) {
      switch (rng() % 4) {
        case 0: c = '"'; break;
        case 1: c = static_cast<char>(rng() % 32); break;
        default: c = static_cast<char>(rng());
      }
    }
    const std::string expression = QuoteM(bytes);
    const auto value = MStringEvaluator(expression).Evaluate();
    ASSERT_TRUE(value.has_value()) << "round " << round << ": " << expression;
    ASSERT_EQ(*value, bytes) << "round " << round;
  }
}

}  // namespace
}  // namespace kovra
