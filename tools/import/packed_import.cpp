#include "packed_import.h"

#include <cstdio>
#include <random>

#include "bulk_store.h"
#include "call_failure.h"
#include "message_text.h"
#include "routine_name.h"

namespace kvrimport {
namespace {

constexpr std::size_t kBoundaryLength = 24;
// The room left in a request below which a routine that does not fit it
// whole waits for the next request rather than start its stage there.
constexpr std::size_t kFillAtLeast = 4096;
// Opens the request after a refusal: ends a transaction the refused store
// may have left open, so its part of the routine is undone. An argumentless
// command: the blank here and the one that joins the next part make two.
constexpr std::string_view kRollBack = "tro:$tl ";

std::string drawBoundary() {
  static constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  std::string boundary;
  for (std::size_t i = 0; i < kBoundaryLength; ++i) boundary += kLetters[pick(device)];
  return boundary;
}

void showOut(const std::string& text) {
  if (text.empty()) return;
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void showErr(const std::string& text) {
  if (text.empty()) return;
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
}

// The length of the longest end of text that begins boundary (short of all
// of it): held back until the next piece tells.
std::size_t boundaryStartAtEnd(const std::string& text, const std::string& boundary) {
  for (std::size_t n = std::min(text.size(), boundary.size() - 1); n > 0; --n)
    if (text.compare(text.size() - n, n, boundary, 0, n) == 0) return n;
  return 0;
}

}  // namespace

PackedImport::PackedImport() : boundary_(drawBoundary()), mark_(" w \"" + boundary_ + "\"") {}

void PackedImport::note(std::string out, std::string err) {
  Step step;
  step.out = std::move(out);
  step.err = std::move(err);
  push(std::move(step));
}

void PackedImport::push(Step step) {
  for (const std::string& part : step.parts) unsent_ += part.size() + 1;
  steps_.push_back(std::move(step));
}

void PackedImport::add(PackedRoutine routine) {
  if (const std::optional<std::string> reason = unsendableReason(routine.addressing, *routine.type, routine.text)) {
    note(std::move(routine.announcement), *reason);
    if (routine.stored) routine.stored(false);
    return;
  }
  // Room in every request for the rollback before and the boundary after.
  const std::size_t partLimit = kRequestLimit - kRollBack.size() - 1 - mark_.size();
  const std::string node = std::string(routine.type->global) + "(\"" + routine.text.name + "\"";
  std::optional<std::vector<std::string>> parts =
      bulkStoreParts(node, routine.text.lines, dateValue(routine.text.timestamp), kvrtools::quoteM, partLimit);
  if (parts && routine.compilation && routine.compilation->line.size() > partLimit) parts.reset();
  if (!parts) {
    // Line by line, in its turn.
    finish();
    showOut(routine.announcement);
    const bool stored = storeRoutine(routine.addressing, *routine.type, routine.text);
    if (stored && routine.compilation) {
      showOut(routine.compilation->announcement);
      kvrtools::executeWithOutput(routine.compilation->line);
    }
    if (routine.stored) routine.stored(stored);
    return;
  }
  Step store;
  store.kind = Step::Kind::kStore;
  store.out = std::move(routine.announcement);
  store.parts = std::move(*parts);
  store.parts.back() += mark_;
  // A routine that fits a request whole but may not fit the rest of one can
  // fill that rest with the start of its stage instead.
  if (store.parts.size() == 1 && store.parts[0].size() > kFillAtLeast) {
    if (std::optional<std::vector<std::string>> staged = bulkStagedParts(
            node, routine.text.lines, dateValue(routine.text.timestamp), kvrtools::quoteM, partLimit)) {
      store.staged = std::move(*staged);
      store.staged.back() += mark_;
    }
  }
  store.name = routine.text.name;
  store.stored = std::move(routine.stored);
  push(std::move(store));
  if (routine.compilation) {
    Step compile;
    compile.kind = Step::Kind::kCompile;
    compile.out = std::move(routine.compilation->announcement);
    compile.parts.push_back(routine.compilation->line + mark_);
    push(std::move(compile));
  }
  while (unsent_ > kRequestLimit && sendRequest()) {
  }
}

void PackedImport::finish() {
  showTurn();
  while (!steps_.empty() && sendRequest()) showTurn();
}

void PackedImport::showTurn() {
  while (!steps_.empty()) {
    Step& front = steps_.front();
    if (!frontAnnounced_) {
      showOut(front.out);
      frontAnnounced_ = true;
    }
    if (front.kind != Step::Kind::kNote) return;
    showErr(front.err);
    steps_.pop_front();
    frontAnnounced_ = false;
  }
}

bool PackedImport::frontInFlight() const {
  return !steps_.empty() && steps_.front().kind != Step::Kind::kNote &&
         steps_.front().sent == steps_.front().parts.size();
}

void PackedImport::completeFront() {
  Step& front = steps_.front();
  if (front.kind == Step::Kind::kStore && front.stored) front.stored(true);
  steps_.pop_front();
  frontAnnounced_ = false;
  showTurn();
}

void PackedImport::refuseFront() {
  Step& front = steps_.front();
  if (front.kind == Step::Kind::kStore) {
    showErr(messageText("Routine %s was not stored: the server refused its text.\n",
                        kvrtools::printableName(front.name)));
    if (front.stored) front.stored(false);
    steps_.pop_front();
    // Not stored, so not compiled.
    if (!steps_.empty() && steps_.front().kind == Step::Kind::kCompile) steps_.pop_front();
  } else {
    steps_.pop_front();
  }
  frontAnnounced_ = false;
  // What the request held after the refused step did not run: it goes
  // again, a staged routine from the start of its stage.
  unsent_ = 0;
  for (Step& step : steps_) {
    for (const std::string& part : step.parts) unsent_ += part.size() + 1;
    step.sent = 0;
  }
  showTurn();
}

bool PackedImport::sendRequest() {
  showTurn();
  std::string request(rollBack_ ? kRollBack : "");
  for (Step& step : steps_) {
    bool full = false;
    if (step.sent == 0 && !step.staged.empty() && !request.empty() &&
        request.size() + 1 + step.parts[0].size() > kRequestLimit &&
        kRequestLimit - request.size() >= kFillAtLeast) {
      unsent_ -= step.parts[0].size() + 1;
      step.parts = std::move(step.staged);
      step.staged.clear();
      for (const std::string& part : step.parts) unsent_ += part.size() + 1;
    }
    while (step.sent < step.parts.size()) {
      const std::string& part = step.parts[step.sent];
      if (!request.empty() && request.size() + 1 + part.size() > kRequestLimit) {
        full = true;
        break;
      }
      if (!request.empty()) request += ' ';
      request += part;
      unsent_ -= part.size() + 1;
      ++step.sent;
    }
    if (full) break;
  }
  if (request.empty()) return false;
  held_.clear();
  shownOutput_ = kvrtools::setOutputHandler([this](const std::string& piece) { feed(piece); });
  bool done = false;
  {
    const kvrtools::FailureRule refusalPassedOver(kvrtools::Rejection::kPassedOver);
    done = kvrtools::executeWithOutput(request);
  }
  kvrtools::setOutputHandler(shownOutput_);
  deliver(held_);
  held_.clear();
  rollBack_ = !done;
  if (!done) {
    if (!steps_.empty() && steps_.front().kind != Step::Kind::kNote) refuseFront();
    return true;
  }
  // The request ran whole: every step it finished is done, boundary or not.
  while (frontInFlight()) completeFront();
  return true;
}

void PackedImport::feed(const std::string& piece) {
  held_ += piece;
  for (std::size_t at; (at = held_.find(boundary_)) != std::string::npos;) {
    deliver(held_.substr(0, at));
    held_.erase(0, at + boundary_.size());
    if (frontInFlight()) completeFront();
  }
  const std::size_t keep = boundaryStartAtEnd(held_, boundary_);
  deliver(held_.substr(0, held_.size() - keep));
  held_.erase(0, held_.size() - keep);
}

void PackedImport::deliver(const std::string& text) {
  if (text.empty() || !shownOutput_ || !frontInFlight()) return;
  if (steps_.front().kind == Step::Kind::kCompile) shownOutput_(text);
}

}  // namespace kvrimport
