#include "date_difference.h"

#include <algorithm>

#include "binding.h"

namespace kvrtools {
namespace {

// Days times 100000 plus seconds of d1 minus the same of d2.
constexpr std::string_view kCompareDatesExpression =
    R"(($p(d1,",",1)*100000+$p(d1,",",2))-($p(d2,",",1)*100000+$p(d2,",",2)))";

}  // namespace

std::int64_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  // Clamped before the multiplication, which would otherwise overflow.
  constexpr std::int64_t kLimit = INT64_C(1) << 60;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value > kLimit / 10 ? kLimit : std::min<std::int64_t>(value * 10 + (text[i] - '0'), kLimit);
  return negative ? -value : value;
}

std::int64_t dateDifference(std::string_view d1, std::string_view d2) {
  setVariable("d1", d1);
  setVariable("d2", d2);
  return leadingInteger(evaluate(kCompareDatesExpression).value_or(""));
}

std::string routineDate(std::string_view routine, const RoutineType& type) {
  std::string expression = "$$DATE^%R(\"";
  expression += routine;
  expression += ".";
  expression += type.name;
  expression += "\")";
  return evaluate(expression).value_or("");
}

}  // namespace kvrtools
