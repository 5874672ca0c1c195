// Reading routine texts from the server many to a request: the exporters'
// -b on, and the comparisons of -m changed (kvrdbri, kvrdbro).
//
// One "t" request names up to a call record's worth of routines; the server
// writes, per routine, length-counted records (so any byte but NUL travels):
//   S<$d of the routine>LF
//   D<length> <date>LF         the value of the caller's date expression
//   L<length> <line>LF         per node after node 0, in node order
//   E LF (the letter E and a line feed)
// A line or date holding a NUL (which terminal output cannot carry) is
// written as Z LF instead, and that routine "did not travel": its reader
// takes it the line-by-line way. The server stops naming routines once a
// request's routines passed kReplyBudget bytes (by their header nodes'
// character counts, plus a little per routine); the rest go in the next
// request, so no reply grows without bound and memory stays flat.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "routine_types.h"

namespace kvrtools {

struct FetchedRoutine {
  std::string name;
  bool exists = false;     // the routine's node has a value or nodes below it
  bool travelled = true;   // false: read it the line-by-line way
  std::string date;        // the date expression's value
  std::vector<std::string> lines;  // the values of the nodes after node 0
};

// How an exported empty routine line is written.
enum class EmptyLine {
  // As a single blank, where an empty line in the output means the end of a
  // routine (plain source files, routine sets).
  kSingleBlank,
  // As the empty line it is, where an empty line is an ordinary routine
  // line (GT.M files), so the file reads back to the same routine.
  kEmpty,
};

// The text the exporters write for lines: each followed by a line feed, an
// empty one written as emptyLine says.
std::string exportText(const std::vector<std::string>& lines, EmptyLine emptyLine);

// Takes a reply's terminal output apart, piece by piece as it arrives.
class RoutineTextParser {
 public:
  void feed(std::string_view piece);
  // The routines completed so far, in order; taken out by the caller.
  std::vector<FetchedRoutine>& completed() { return completed_; }
  // True when the output broke the record layout; nothing after the
  // last completed routine is trusted then.
  bool broken() const { return broken_; }
  // True when output of a routine not yet completed is pending.
  bool midRoutine() const { return inRoutine_ || !pending_.empty(); }

 private:
  // Takes one record from pending_ at at; false when it is not all there.
  bool takeRecord(std::size_t& at);
  bool takeCounted(std::size_t& at, std::string& into);

  std::string pending_;
  bool inRoutine_ = false;
  bool broken_ = false;
  FetchedRoutine current_;
  std::vector<FetchedRoutine> completed_;
};

// Bytes of routines after which the server names no further routine in a
// request.
inline constexpr std::size_t kReplyBudget = 1 << 20;

// The "t" line that reads names (valid routine names) from global, with
// dateExpression evaluated for each (rn is the routine's name there).
std::string readRoutinesLine(std::string_view global, const std::vector<std::string>& names,
                             std::string_view dateExpression);

// The routines of a list, read in order: many to a request in bulk, else
// one to a request.
class RoutineSource {
 public:
  // names: routine names that passed the name check, in the order they are
  // taken.
  RoutineSource(const RoutineType& type, std::vector<std::string> names, std::string dateExpression, bool bulk);

  // The next routine of the list. A routine the request could not bring
  // (the line was refused, the output broke off) has travelled = false.
  FetchedRoutine next();

 private:
  void fetchBatch();

  const RoutineType& type_;
  std::vector<std::string> names_;
  std::string dateExpression_;
  bool bulk_;
  std::size_t requested_ = 0;  // names_ before this have been asked for
  std::deque<FetchedRoutine> ready_;
};

}  // namespace kvrtools
