#include "bulk_store.h"

#include <cstdio>

#include "binding.h"
#include "routine_name.h"

namespace kvrimport {
namespace {

constexpr std::string_view kStage = "rbulk";

// Packs SET arguments into requests: the first request opens with
// firstPrefix, each then with "s "; arguments are joined with ","; every
// request stays within limit.
class RequestPacker {
 public:
  RequestPacker(std::size_t limit, std::string_view firstPrefix) : limit_(limit), firstPrefix_(firstPrefix) {}

  // False when argument cannot fit a fresh request.
  bool add(std::string_view argument) {
    if (!current_.empty() && current_.size() + 1 + argument.size() <= limit_) {
      current_ += ',';
      current_ += argument;
      return true;
    }
    flush();
    current_ = std::string(requests_.empty() ? firstPrefix_ : std::string_view()) + "s ";
    if (current_.size() + argument.size() > limit_) return false;
    current_ += argument;
    return true;
  }

  // Ends the requests with tail, in the last request when it fits there.
  std::vector<std::string> finish(std::string_view tail) {
    if (!current_.empty() && current_.size() + 1 + tail.size() <= limit_) {
      current_ += ' ';
      current_ += tail;
    } else {
      flush();
      current_ = tail;
    }
    flush();
    return std::move(requests_);
  }

 private:
  void flush() {
    if (!current_.empty()) requests_.push_back(std::move(current_));
    current_.clear();
  }

  std::size_t limit_;
  std::string_view firstPrefix_;
  std::string current_;
  std::vector<std::string> requests_;
};

}  // namespace

std::optional<std::vector<std::string>> bulkStoreRequests(std::string_view node, const std::vector<std::string>& lines,
                                                          std::string_view dateValue, const Quoter& quote,
                                                          std::size_t limit) {
  const std::string top = std::string(node) + ")";
  const std::string dateAndHeader =
      "s " + std::string(node) + ",0)=" + std::string(dateValue) + "," + top + "=" + headerValue(lines);
  std::vector<std::string> literals;
  literals.reserve(lines.size());
  for (const std::string& line : lines) {
    std::optional<std::string> literal = quote(line);
    if (!literal) return std::nullopt;
    literals.push_back(std::move(*literal));
  }
  // One request: remove, lines, node 0, header, as the line-by-line store
  // orders them.
  std::string request = "k " + top;
  for (std::size_t i = 0; i < literals.size() && request.size() <= limit; ++i) {
    request += i == 0 ? " s " : ",";
    request += node;
    request += ',';
    request += std::to_string(i + 1);
    request += ")=";
    request += literals[i];
  }
  request += " " + dateAndHeader;
  if (request.size() <= limit) return std::vector<std::string>{std::move(request)};
  // Staged: rbulk(i) over several requests, moved in by the last one.
  RequestPacker packer(limit, "k rbulk ");
  for (std::size_t i = 0; i < literals.size(); ++i)
    if (!packer.add(std::string(kStage) + "(" + std::to_string(i + 1) + ")=" + literals[i])) return std::nullopt;
  const std::string tail = "k " + top + " m " + top + "=" + std::string(kStage) + " " + dateAndHeader + " k " +
                           std::string(kStage);
  std::vector<std::string> requests = packer.finish(tail);
  for (const std::string& request : requests)
    if (request.size() > limit) return std::nullopt;
  return requests;
}

std::optional<bool> storeInBulk(std::string_view node, const RoutineText& routine, std::string_view dateValue) {
  const std::optional<std::vector<std::string>> requests =
      bulkStoreRequests(node, routine.lines, dateValue, kvrtools::quoteM);
  if (!requests) return std::nullopt;
  for (const std::string& request : *requests) {
    if (kvrtools::execute(request)) continue;
    const std::string shown = kvrtools::printableName(routine.name);
    std::fflush(stdout);
    std::fprintf(stderr, "Routine %s was not stored: the server refused its text.\n", shown.c_str());
    return false;
  }
  return true;
}

}  // namespace kvrimport
