// Importing with -b on: many whole routines to one request. Each routine's
// store (bulk_store.h) and, for kvrdbri, its compilation travel inside
// execute requests of up to a call record, packed in the order they were
// added, so INC before INT before MAC and every INT stored and compiled
// before any MAC still hold on the server. A routine too long for one
// request is staged over several, as bulk_store.h says; one with a line that
// cannot travel in bulk goes line by line in its turn.
//
// The user sees what a line-by-line run shows, in the same order: every
// text a tool hands over (progress on standard output, refusals on standard
// error) waits for the server work before it. For that the request writes,
// after each routine's store and after each compilation, a boundary of
// random letters drawn for the run; the compiler's terminal output (which
// echoes routine lines, any byte but NUL) is everything between two
// boundaries, and is shown after the routine's own "Compiling" line. A
// routine's file cannot hold a boundary drawn after it was written.
//
// A request the server refuses stopped at the step whose boundary did not
// come: a refused store is reported (the old routine stays: its transaction
// is rolled back first thing in the next request), a refused compilation is
// passed over as line by line passes it over, and everything after that
// step is sent again.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "binding.h"
#include "routine_store.h"
#include "routine_types.h"

namespace kvrimport {

// What follows a routine's store: its compilation.
struct Compilation {
  std::string announcement;  // standard output before it
  std::string line;          // the M command that compiles the routine
};

struct PackedRoutine {
  std::string announcement;  // standard output before the store
  const kvrtools::RoutineType* type = nullptr;
  RoutineText text;
  // How the line-by-line store addresses the global, should the routine go
  // that way.
  Addressing addressing = Addressing::kGlobalInEachLine;
  std::optional<Compilation> compilation;
  // Told once, in the routine's turn, whether it was stored. Runs inside a
  // library call: it must not call the library.
  std::function<void(bool stored)> stored;
};

class PackedImport {
 public:
  // Takes over the output handler in force when requests run and hands it
  // the compiler's output.
  PackedImport();
  PackedImport(const PackedImport&) = delete;
  PackedImport& operator=(const PackedImport&) = delete;

  // Text for standard output, and for standard error after it (either may
  // be empty), shown in its turn.
  void note(std::string out, std::string err = {});
  // Queues a routine; sends a request whenever a full one is waiting.
  void add(PackedRoutine routine);
  // Sends and shows everything queued. Call before the run reports or ends.
  void finish();

 private:
  struct Step {
    enum class Kind { kNote, kStore, kCompile };
    Kind kind = Kind::kNote;
    std::string out;  // standard output when its turn comes
    std::string err;  // a note's standard error, after out
    std::vector<std::string> parts;  // server text, the last ending in the boundary
    std::vector<std::string> staged;  // a store's staged parts, should it start a request's rest
    std::size_t sent = 0;  // parts sent so far
    std::string name;      // a store's routine
    std::function<void(bool)> stored;
  };

  void push(Step step);
  // Sends the next request of what is queued; false when nothing was left
  // to send.
  bool sendRequest();
  // Shows the notes and announcements due: up to the first server step.
  void showTurn();
  // The step at the front is done (its boundary came, or its request did).
  void completeFront();
  void refuseFront();
  void feed(const std::string& piece);
  void deliver(const std::string& text);
  bool frontInFlight() const;

  std::string boundary_;
  std::string mark_;  // the M text that writes the boundary
  std::deque<Step> steps_;
  bool frontAnnounced_ = false;
  std::size_t unsent_ = 0;  // bytes of parts not yet sent
  std::string held_;        // output that may be the start of a boundary
  kvrtools::TextHandler shownOutput_;
  bool rollBack_ = false;  // a refused request may have left a transaction open
};

}  // namespace kvrimport
