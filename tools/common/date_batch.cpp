#include "date_batch.h"

#include "binding.h"
#include "date_difference.h"

namespace kvrtools {
namespace {

// x is NAME.TYPE, a quote, the file date; names never hold a quote. The value
// is the routine's date, $C(1), and the difference of the two dates.
constexpr std::string_view kLineEnd =
    R"( s d1=$p(x,"""",2),d2=$$DATE^%R($p(x,"""")) d wo^%srv(d2_$c(1)_(($p(d1,",",1)*100000+$p(d1,",",2))-($p(d2,",",1)*100000+$p(d2,",",2)))))";

std::string forValue(const DateCheck& check) {
  return "\"" + check.routine + "." + std::string(check.type->name) + "\"\"" + check.fileDate + "\"";
}

}  // namespace

DateLine dateComparisonLine(const std::vector<DateCheck>& checks, std::size_t first, std::size_t limit) {
  DateLine line{"f x=", 0};
  for (std::size_t i = first; i < checks.size(); ++i) {
    const std::string value = forValue(checks[i]);
    if (line.checks > 0 && line.text.size() + 1 + value.size() + kLineEnd.size() > limit) break;
    if (line.checks > 0) line.text += ',';
    line.text += value;
    ++line.checks;
  }
  line.text += kLineEnd;
  return line;
}

DateComparison parseDateComparison(const std::string& value) {
  // The last $C(1): the difference is a number, the date is the server's.
  const std::size_t mark = value.rfind('\1');
  if (mark == std::string::npos) return {value, leadingInteger("")};
  return {value.substr(0, mark), leadingInteger(std::string_view(value).substr(mark + 1))};
}

std::vector<DateComparison> compareDates(const std::vector<DateCheck>& checks) {
  std::vector<DateComparison> results;
  results.reserve(checks.size());
  std::vector<std::string> values;
  setGroupReadHandler([&values](const std::string& value) { values.push_back(value); });
  while (results.size() < checks.size()) {
    const DateLine line = dateComparisonLine(checks, results.size(), kMaxCallText);
    values.clear();
    execute(line.text);
    for (std::size_t i = 0; i < values.size() && i < line.checks; ++i) results.push_back(parseDateComparison(values[i]));
    if (values.size() >= line.checks) continue;
    // The check the server stopped at goes alone, the line-by-line way.
    setGroupReadHandler(nullptr);
    const DateCheck& check = checks[results.size()];
    const std::string date = routineDate(check.routine, *check.type);
    results.push_back({date, dateDifference(check.fileDate, date)});
    setGroupReadHandler([&values](const std::string& value) { values.push_back(value); });
  }
  setGroupReadHandler(nullptr);
  return results;
}

std::vector<std::optional<DateComparison>> compareFileDates(const std::vector<DateCheck>& checks) {
  std::vector<DateCheck> dated;
  for (const DateCheck& check : checks)
    if (!check.fileDate.empty()) dated.push_back(check);
  std::vector<DateComparison> compared = compareDates(dated);
  std::vector<std::optional<DateComparison>> results;
  results.reserve(checks.size());
  std::size_t d = 0;
  for (const DateCheck& check : checks) {
    if (check.fileDate.empty()) {
      results.emplace_back();
    } else {
      results.emplace_back(std::move(compared[d++]));
    }
  }
  return results;
}

}  // namespace kvrtools
