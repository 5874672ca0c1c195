#include "bulk_reader.h"

#include <algorithm>

#include "binding.h"
#include "call_failure.h"

namespace kvrtools {
namespace {

constexpr std::size_t kLineLimit = kMaxCallText;
// Digits of a length or of $d; more can only come from broken output.
constexpr std::size_t kMaxDigits = 9;

std::string quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string lineBefore(std::string_view names) {
  return "s t=0,z=$c(0) f rn=" + std::string(names) + " q:t>" + std::to_string(kReplyBudget) + "  s d=";
}

// Kept lean: the server runs it for every line of every routine. The budget
// is counted per routine, from the character count of its header node plus
// a routine's framing, not per line.
std::string lineAfter(std::string_view global, std::string_view dateExpression) {
  const std::string g(global);
  return std::string(dateExpression) + ",h=$g(" + g + R"((rn)),t=t+$p(h,",",2)+64 w "S",$d()" + g +
         R"((rn)),$c(10) w:d[z "Z",$c(10) w:d'[z "D",$l(d)," ",d,$c(10) s n=0 f  s n=$o()" + g +
         R"((rn,n)) w:n="" "E",$c(10) q:n=""  s l=$g()" + g + R"((rn,n)) w:l[z "Z",$c(10) w:l'[z "L",$l(l)," ",l,$c(10))";
}

}  // namespace

std::string exportText(const std::vector<std::string>& lines, EmptyLine emptyLine) {
  const std::string_view empty = emptyLine == EmptyLine::kSingleBlank ? " " : "";
  std::string text;
  for (const std::string& line : lines) {
    text += line.empty() ? empty : std::string_view(line);
    text += '\n';
  }
  return text;
}

void RoutineTextParser::feed(std::string_view piece) {
  if (broken_) return;
  pending_ += piece;
  std::size_t at = 0;
  while (!broken_ && takeRecord(at)) {
  }
  pending_.erase(0, at);
}

bool RoutineTextParser::takeCounted(std::size_t& at, std::string& into) {
  // <digits> <bytes>LF, from at (just behind the record's letter).
  std::size_t length = 0;
  std::size_t i = at;
  for (; i < pending_.size() && pending_[i] != ' '; ++i) {
    const char c = pending_[i];
    if (c < '0' || c > '9' || i - at >= kMaxDigits) {
      broken_ = true;
      return false;
    }
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  if (i == at && i < pending_.size()) broken_ = true;
  if (broken_ || i + 1 + length + 1 > pending_.size()) return false;
  if (pending_[i + 1 + length] != '\n') {
    broken_ = true;
    return false;
  }
  into.assign(pending_, i + 1, length);
  at = i + 1 + length + 1;
  return true;
}

bool RoutineTextParser::takeRecord(std::size_t& at) {
  if (at >= pending_.size()) return false;
  const char kind = pending_[at];
  if (kind == 'S') {
    const std::size_t end = pending_.find('\n', at + 1);
    if (end == std::string::npos) {
      if (pending_.size() - at > kMaxDigits + 1) broken_ = true;
      return false;
    }
    const std::string_view digits(pending_.data() + at + 1, end - at - 1);
    if (inRoutine_ || digits.empty() || digits.size() > kMaxDigits ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      broken_ = true;
      return false;
    }
    current_ = FetchedRoutine{};
    current_.exists = digits.find_first_not_of('0') != std::string_view::npos;
    inRoutine_ = true;
    at = end + 1;
    return true;
  }
  if (!inRoutine_) {
    broken_ = true;
    return false;
  }
  if (kind == 'D' || kind == 'L') {
    std::string text;
    std::size_t next = at + 1;
    if (!takeCounted(next, text)) return false;
    at = next;
    if (kind == 'D') {
      current_.date = std::move(text);
    } else if (current_.travelled) {
      current_.lines.push_back(std::move(text));
    }
    return true;
  }
  if (kind != 'Z' && kind != 'E') {
    broken_ = true;
    return false;
  }
  if (at + 1 >= pending_.size()) return false;
  if (pending_[at + 1] != '\n') {
    broken_ = true;
    return false;
  }
  at += 2;
  if (kind == 'Z') {
    current_.travelled = false;
    current_.lines.clear();
  } else {
    completed_.push_back(std::move(current_));
    current_ = FetchedRoutine{};
    inRoutine_ = false;
  }
  return true;
}

std::string readRoutinesLine(std::string_view global, const std::vector<std::string>& names,
                             std::string_view dateExpression) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ",") + quoted(name);
  return lineBefore(list) + lineAfter(global, dateExpression);
}

RoutineSource::RoutineSource(const RoutineType& type, std::vector<std::string> names, std::string dateExpression,
                             bool bulk)
    : type_(type), names_(std::move(names)), dateExpression_(std::move(dateExpression)), bulk_(bulk) {}

FetchedRoutine RoutineSource::next() {
  if (ready_.empty()) fetchBatch();
  FetchedRoutine routine = std::move(ready_.front());
  ready_.pop_front();
  return routine;
}

void RoutineSource::fetchBatch() {
  const std::size_t fixed = lineBefore("").size() + lineAfter(type_.global, dateExpression_).size();
  std::vector<std::string> batch;
  std::size_t length = fixed;
  for (std::size_t i = requested_; i < names_.size(); ++i) {
    const std::size_t more = names_[i].size() + 3;
    if (!batch.empty() && (!bulk_ || length + more > kLineLimit)) break;
    batch.push_back(names_[i]);
    length += more;
  }
  if (batch.empty()) batch.push_back({});  // asked past the end: an empty routine
  RoutineTextParser parser;
  const TextHandler previous = setOutputHandler([&parser](const std::string& piece) { parser.feed(piece); });
  bool done = false;
  {
    // A refused request is no failure of the run: the routine it stopped at
    // goes the line-by-line way, which reports what fails there under the
    // caller's rule.
    const FailureRule refusalPassedOver(Rejection::kPassedOver);
    done = executeWithOutput(readRoutinesLine(type_.global, batch, dateExpression_));
  }
  setOutputHandler(previous);
  std::vector<FetchedRoutine>& arrived = parser.completed();
  const std::size_t count = std::min(arrived.size(), batch.size());
  for (std::size_t i = 0; i < count; ++i) {
    arrived[i].name = batch[i];
    ready_.push_back(std::move(arrived[i]));
  }
  requested_ += count;
  // A clean stop after whole routines is the reply budget; anything else
  // leaves the routine it stopped at to the line-by-line way.
  const bool clean = done && !parser.broken() && !parser.midRoutine() && count > 0;
  if (count < batch.size() && !clean) {
    FetchedRoutine stopped;
    stopped.name = batch[count];
    stopped.travelled = false;
    ready_.push_back(std::move(stopped));
    ++requested_;
  }
}

}  // namespace kvrtools
